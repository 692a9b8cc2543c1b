// The local camera panel (see CMediaDlg.h).
#include "video/CMediaDlg.h"

#include <QMetaObject>

#include <alsa/asoundlib.h>

#include "components/log.h"
#include "config/client_config.h"
#include "config/logging.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "session/requests.h"
#include "skin/ClxStatic.h"
#include "video/CZoomVideo.h"
#include "video/bitmap_file.h"
#include "video/snapshot.h"
#include "video/video_texts.h"
#include "video/yuv_convert.h"
#include "wire/packet_types.h"

CMediaDlg::CMediaDlg(call_back* cb, ISessionActions* actions, const std::string& install_folder,
                     bool test_camera_enabled, QWidget* parent)
    : VideoPicture(path_join(install_folder, "ui"), "camerabk.bmp", false, parent), cb_(cb),
      actions_(actions), test_camera_enabled_(test_camera_enabled) {
    SetCaption(QString::fromUtf8(video_text::kLocalVideo));
    engine_.set_sink(this);
    bgr_.assign(size_t(capture::kWidth) * capture::kHeight * 3, 0);
}

CMediaDlg::~CMediaDlg() {
    // The capture thread ends before the picture it publishes into goes away.
    engine_.close();
}

void CMediaDlg::Notice(const QString& text) {
    std::string gbk = qstring_to_gbk(text);
    req::NoticeLine(*cb_, gbk);
}

bool CMediaDlg::CameraPresent() {
    return capture::camera_present(test_camera_enabled_);
}

bool CMediaDlg::SwitchCamera(bool on, int device_id) {
    ASSERT_UI_THREAD();
    if (on) {
        if (camera_open_)
            return true;
        if (!engine_.select_driver(device_id, test_camera_enabled_) || !engine_.open())
            return false;
        if (!engine_.start_compressor()) {
            engine_.close();
            Notice(QString::fromUtf8(video_text::kCameraInitFailed));
            return false;
        }
        const VideoEncoder& enc = engine_.encoder();
        if (actions_)
            actions_->AnnounceCamera(
                {enc.code(), uint16_t(enc.width()), uint16_t(enc.height()), uint16_t(enc.bits_per_pixel())});
        LOG_VIDEO("fccHandler = %x\n", enc.code());
        engine_.start_streaming();
        camera_open_ = true;
        return true;
    }
    if (!camera_open_)
        return true;
    if (!engine_.close())
        return false;
    camera_open_ = false;
    CloseZoom();
    picture_.Clear();
    update();
    if (actions_)
        actions_->AnnounceCamera({});
    return true;
}

void CMediaDlg::CloseForExit() {
    ASSERT_UI_THREAD();
    if (!camera_open_)
        return;
    engine_.close();
    camera_open_ = false;
    CloseZoom();
    picture_.Clear();
}

void CMediaDlg::on_encoded_frame(const uint8_t* data, int size, uint32_t capture_length, bool key_frame) {
    proto::VideoFrame frame;
    frame.capture_length = capture_length;
    frame.key_frame = key_frame ? 1 : 0;
    frame.frame.assign(data, data + size);
    cb_->Send(pkt::kVideoFrame, frame.encode());
}

void CMediaDlg::on_raw_frame(const uint8_t* yuyv, int width, int height, uint32_t) {
    if (width != capture::kWidth || height != capture::kHeight)
        return;
    // Bottom-up BGR: the bitmap file's own pixels; the slot turns the rows for painting.
    yuv::FlipConvert(yuyv, width, height, bgr_.data());
    picture_.Publish(bgr_.data(), width, height, width * 3, QImage::Format_BGR888, true);
    if (snapshot_pending_.exchange(false)) {
        const QString path = snapshot_path("My");
        // bgr_ is bottom-up: the picture is turned upright for the file.
        const QImage picture =
            QImage(bgr_.data(), width, height, width * 3, QImage::Format_BGR888).mirrored(false, true);
        if (write_snapshot(path, picture)) {
            {
                std::lock_guard lock(snapshot_mutex_);
                last_snapshot_ = path;
            }
            QMetaObject::invokeMethod(
                this,
                [this, path] {
                    const std::string text = qstring_to_gbk(
                        QString::fromUtf8(video_text::kSnapshotSaved).arg(QString()).trimmed());
                    req::FileNotice(*cb_, text, path.toStdString());
                },
                Qt::QueuedConnection);
        }
    }
}

void CMediaDlg::on_camera_lost() {
    // From the capture thread: the stream has ended; the session switches the camera off on the UI thread.
    QMetaObject::invokeMethod(
        this,
        [this] {
            Notice(QString::fromUtf8(video_text::kCameraLost));
            if (req::CameraOn(*cb_))
                req::ToggleCamera(*cb_);
            else
                SwitchCamera(false, 0);
        },
        Qt::QueuedConnection);
}

QString CMediaDlg::last_snapshot() const {
    std::lock_guard lock(snapshot_mutex_);
    return last_snapshot_;
}

int CMediaDlg::on_video_event(int type, int, int) {
    switch (type) {
    case 1:
        ToggleZoom();
        break;
    case 2:
        if (!CloseZoom() && req::CameraOn(*cb_)) {
            req::ToggleCamera(*cb_);
        }
        break;
    case 3:
        if (camera_open_)
            snapshot_pending_ = true;
        break;
    default:
        break;
    }
    return 0;
}

bool CMediaDlg::ProbeFullDuplex() {
    // Capture and playback at once on the default devices, 8 kHz mono: where that fails (a device busy or
    // missing), the user is asked to close other audio programs.
    snd_pcm_t* capture = nullptr;
    snd_pcm_t* playback = nullptr;
    bool problem = snd_pcm_open(&capture, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0 ||
                   snd_pcm_open(&playback, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0;
    for (snd_pcm_t* pcm : {capture, playback})
        if (pcm && !problem)
            problem = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, 8000,
                                         1, 100000) < 0;
    if (capture)
        snd_pcm_close(capture);
    if (playback)
        snd_pcm_close(playback);
    return problem;
}
