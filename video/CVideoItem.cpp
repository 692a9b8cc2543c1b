// A remote video window (see CVideoItem.h).
#include "video/CVideoItem.h"

#include "session/requests.h"

#include <QMetaObject>

#include <vector>

#include "config/client_config.h"
#include "platform/message_ids.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "skin/ClxStatic.h"
#include "video/CZoomVideo.h"
#include "video/bitmap_file.h"
#include "video/snapshot.h"
#include "video/video_texts.h"

CVideoItem::CVideoItem(call_back* cb, const std::string& skin_folder, QWidget* parent)
    : VideoPicture(skin_folder, "vback1.bmp", true, parent), cb_(cb) {
    SetTitle(QString::fromUtf8(video_text::kNoVideo));
}

void CVideoItem::SetTitle(const QString& title) {
    {
        std::lock_guard lock(title_mutex_);
        title_text_ = title;
    }
    SetCaption(title);
}

QString CVideoItem::title() const {
    std::lock_guard lock(title_mutex_);
    return title_text_;
}

bool CVideoItem::decoder_open() const {
    std::lock_guard lock(decoder_mutex_);
    return decoder_.is_open();
}

void CVideoItem::OpenVideo(uint32_t user_id, const proto::StreamDesc& stream) {
    ASSERT_UI_THREAD();
    // Held while the decoder is replaced: a packet that arrives meanwhile finds it taken and is dropped.
    std::lock_guard lock(decoder_mutex_);
    user_id_ = user_id;
    const bool decodable = decoder_.Open(stream.fourcc, stream.width, stream.height);
    picture_.Clear();
    // A camera in a format we do not decode stays dark: the caption says why, so nobody waits for it.
    if (!decodable)
        SetCaption(title() + QString::fromUtf8(video_text::kNotDecodable));
}

void CVideoItem::Release() {
    user_id_ = 0;
    picture_.Clear();
    SetTitle(QString::fromUtf8(video_text::kNoVideo));
    platform::post_message(this, msg::kCloseZoom, 0, 0);
}

void CVideoItem::ShowFrame(const uint8_t* payload, size_t length) {
    auto frame = proto::VideoFrame::decode(payload, length);
    // A size that claims more than the payload holds: the decoder must never read past what arrived.
    if (!frame || frame->declared_length > length - proto::VideoFrame::kHeader || frame->frame.empty()) {
        ++dropped_;
        return;
    }
    std::unique_lock lock(decoder_mutex_, std::try_to_lock);
    if (!lock.owns_lock() || !decoder_.is_open() || user_id_ == 0) {
        ++dropped_;
        return;
    }
    if (!decoder_.Decode(frame->frame.data(), frame->frame.size(), frame->key_frame & 1)) {
        ++dropped_;
        return;
    }
    ++decoded_;
    picture_.Publish(decoder_.pixels().data(), decoder_.width(), decoder_.height(), decoder_.width() * 4,
                     QImage::Format_RGB32, false);
    // About once a second, whoever watches hears whose picture is shown and how far it got.
    IPanelObserver* observer = observer_.load();
    if (observer && decoded_ % 15 == 1)
        observer->VideoPictureShown(user_id_, decoded_);
    if (snapshot_pending_.exchange(false))
        WriteSnapshot();
}

void CVideoItem::WriteSnapshot() {
    // Runs with the decoder held: its picture is the one shown (rows top-down, 4 bytes a pixel, B G R x).
    const int w = decoder_.width(), h = decoder_.height();
    const QImage picture = QImage(decoder_.pixels().data(), w, h, w * 4, QImage::Format_RGB32).copy();
    const QString who = title();
    const QString path = snapshot_path(who);
    if (!write_snapshot(path, picture))
        return;
    {
        std::lock_guard lock(title_mutex_);
        last_snapshot_ = path;
    }
    QMetaObject::invokeMethod(
        this,
        [this, who, path] {
            const std::string text = qstring_to_gbk(
                QString::fromUtf8(video_text::kRemoteSnapshotSaved).arg(who, QString()).trimmed());
            req::FileNotice(*cb_, text, path.toStdString());
        },
        Qt::QueuedConnection);
}

QString CVideoItem::last_snapshot() const {
    std::lock_guard lock(title_mutex_);
    return last_snapshot_;
}

int CVideoItem::on_video_event(int type, int, int) {
    switch (type) {
    case 1:
        ToggleZoom();
        break;
    case 2:
        if (!CloseZoom() && user_id_ != 0 && parentWidget()) {
            // The registry asks the main dialog to stop watching this user.
            platform::post_message(parentWidget(), msg::kVideoWindowClosed, intptr_t(user_id_.load()), 0);
        }
        break;
    case 3:
        if (decoder_open())
            snapshot_pending_ = true;
        break;
    default:
        break;
    }
    return 0;
}
