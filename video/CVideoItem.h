// One window that shows one remote user's camera: its own decoder for the code and size the user announced,
// frames decoded on the link thread and the latest picture painted on the UI thread, the user's name as
// title, snapshots, the zoom window and the control bar.
#pragma once

#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

#include "session/call_back.h"
#include "session/panels.h"
#include "video/VideoPicture.h"
#include "video/video_codec.h"
#include "wire/protocol.h"

class CVideoItem : public VideoPicture {
public:
    CVideoItem(call_back* cb, const std::string& skin_folder, QWidget* parent);

    void SetTitle(const QString& title);
    QString title() const;
    // Opens the decoder for a user's camera; frames that arrive while it is being replaced are dropped.
    void OpenVideo(uint32_t user_id, const proto::StreamDesc& stream);
    // The window is idle again (its decoder stays open until it is lent again).
    void Release();
    // One video packet (type 10), on the link thread.
    void ShowFrame(const uint8_t* payload, size_t length);

    int on_video_event(int type, int, int) override;

    uint32_t shown_user() const { return user_id_; }
    bool decoder_open() const;
    uint64_t frames_decoded() const { return decoded_; }
    uint64_t frames_dropped() const { return dropped_; }
    QString last_snapshot() const;
    // Who is told, on the link thread, that a picture was decoded (now and then; none by default).
    void set_observer(IPanelObserver* o) { observer_ = o; }

protected:
    bool ShowsFrame() const override { return user_id_ != 0; }
    bool CanZoom() const override { return decoder_open(); }

private:
    void WriteSnapshot();

    call_back* cb_;
    mutable std::mutex decoder_mutex_;
    VideoDecoder decoder_;
    std::atomic<uint32_t> user_id_{0};
    std::atomic<bool> snapshot_pending_{false};
    std::atomic<uint64_t> decoded_{0}, dropped_{0};
    std::atomic<IPanelObserver*> observer_{nullptr};
    mutable std::mutex title_mutex_;
    QString title_text_;
    QString last_snapshot_;
};
