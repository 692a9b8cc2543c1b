// The local camera panel: switches the camera on and off for the session, announces the camera's format to
// the room, sends every compressed frame as a video packet, converts every picture for painting (the capture
// thread hands the latest one over; the UI thread paints it), takes snapshots, opens the zoom window and
// shows the control bar while the mouse is over it.
#pragma once

#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "session/call_back.h"
#include "session/panels.h"
#include "video/CCaptureEngine.h"
#include "video/VideoPicture.h"

class CMediaDlg : public VideoPicture, public IMediaPanel, public videocall {
public:
    CMediaDlg(call_back* cb, const std::string& install_folder, bool test_camera_enabled, QWidget* parent);
    ~CMediaDlg() override;

    // IMediaPanel
    bool CameraPresent() override;
    bool SwitchCamera(bool on, int device_id) override;
    void SetVideoWanted(bool wanted) override { engine_.set_sending(wanted); }
    bool ProbeEchoCancellation() override { return ProbeFullDuplex(); }
    // Opens the default capture and playback devices together; true when that fails. Touches no window: any
    // thread.
    static bool ProbeFullDuplex();

    // videocall, on the capture thread
    void on_encoded_frame(const uint8_t* data, int size, uint32_t capture_length, bool key_frame) override;
    void on_raw_frame(const uint8_t* yuyv, int width, int height, uint32_t frame_number) override;
    void on_camera_lost() override;

    // The main window is ending: stops the capture thread before the link goes away, without the camera-off
    // announcement (the closed link tells the room). UI thread.
    void CloseForExit();

    // VideoEventCall: 1 zoom, 2 close, 3 snapshot.
    int on_video_event(int type, int, int) override;

    bool camera_open() const { return camera_open_; }
    const CCaptureEngine& engine() const { return engine_; }
    // The last snapshot written (empty when none).
    QString last_snapshot() const;

protected:
    bool ShowsFrame() const override { return camera_open_; }
    bool CanZoom() const override { return camera_open_; }

private:
    void Announce(const proto::StreamDesc& stream);
    void Notice(const QString& text);

    call_back* cb_;
    bool test_camera_enabled_;
    CCaptureEngine engine_;
    bool camera_open_ = false;
    std::atomic<bool> snapshot_pending_{false};
    std::vector<uint8_t> bgr_; // bottom-up, the bitmap file's pixels
    mutable std::mutex snapshot_mutex_;
    QString last_snapshot_;
};
