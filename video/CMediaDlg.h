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

#include "platform/messages.h"
#include "session/call_back.h"
#include "session/panels.h"
#include "skin/CSkinBitmap.h"
#include "video/CCaptureEngine.h"
#include "video/CVideoCtl.h"
#include "video/PictureSlot.h"

class ClxStatic;
class CZoomVideo;

class CMediaDlg : public QWidget,
                  public IMediaPanel,
                  public videocall,
                  public VideoEventCall,
                  public platform::MessageTarget {
public:
    CMediaDlg(call_back* cb, const std::string& install_folder, bool test_camera_enabled, QWidget* parent);
    ~CMediaDlg() override;

    // IMediaPanel
    bool CameraPresent() override;
    bool SwitchCamera(bool on, int device_id) override;
    void SetVideoWanted(bool wanted) override { engine_.set_sending(wanted); }
    bool ProbeEchoCancellation() override;

    // videocall, on the capture thread
    void on_encoded_frame(const uint8_t* data, int size, uint32_t capture_length, bool key_frame) override;
    void on_raw_frame(const uint8_t* yuyv, int width, int height, uint32_t frame_number) override;
    void on_camera_lost() override;

    // VideoEventCall: 1 zoom, 2 close, 3 snapshot.
    int on_video_event(int type, int, int) override;

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

    bool camera_open() const { return camera_open_; }
    CZoomVideo* zoom() const { return zoom_.get(); }
    PictureSlot& picture() { return picture_; }
    CVideoCtl* control_bar() const { return bar_; }
    const CCaptureEngine& engine() const { return engine_; }
    // The last snapshot written (empty when none).
    QString last_snapshot() const;
    void ToggleZoom();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void Announce(const proto::StreamDesc& stream);
    void Notice(const QString& text);

    call_back* cb_;
    std::string skin_folder_;
    bool test_camera_enabled_;
    CCaptureEngine engine_;
    PictureSlot picture_;
    CSkinBitmap background_;
    ClxStatic* title_;
    CVideoCtl* bar_;
    std::unique_ptr<CZoomVideo> zoom_;
    bool camera_open_ = false;
    std::atomic<bool> snapshot_pending_{false};
    std::vector<uint8_t> bgr_; // bottom-up, the bitmap file's pixels
    mutable std::mutex snapshot_mutex_;
    QString last_snapshot_;
};
