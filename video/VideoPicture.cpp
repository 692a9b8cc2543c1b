// The common part of the video pictures (see VideoPicture.h).
#include "video/VideoPicture.h"

#include "config/client_config.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "skin/ClxStatic.h"
#include "video/CZoomVideo.h"
#include "video/capture.h"
#include "video/video_texts.h"

#include <QMouseEvent>

#include <cstdio>

VideoPicture::VideoPicture(const std::string& skin_folder, const char* background_file, bool keyed_background,
                           QWidget* parent)
    : QWidget(parent), skin_folder_(skin_folder) {
    background_.Load(path_join(skin_folder, background_file));
    background_.transparent = keyed_background;
    title_ = new ClxStatic(this);
    title_->colours.transparent = true;
    title_->colours.text = colour(kVTextColor);
    title_->Refresh();
    bar_ = new CVideoCtl(skin_folder, this, this);
    picture_.AddView(this);
}

namespace {
VideoPicture* g_selected = nullptr;

// For measurements (QUORIN_PAINT_AGES=file): every new picture a window paints appends the age of the test
// camera's capture stamp in it, in milliseconds, to the file. UI thread.
void note_painted_age(const QImage& picture) {
    static FILE* const out = [] {
        const QByteArray path = qgetenv("QUORIN_PAINT_AGES");
        return path.isEmpty() ? nullptr : std::fopen(path.constData(), "a");
    }();
    static qint64 last_picture = 0;
    if (!out || picture.isNull() || picture.depth() != 32 || picture.cacheKey() == last_picture)
        return;
    last_picture = picture.cacheKey();
    const uint32_t stamp = capture::read_frame_stamp(picture.constBits(), picture.width(), picture.height(),
                                                     int(picture.bytesPerLine()));
    std::fprintf(out, "%d\n", int32_t(capture::stamp_clock_ms() - stamp));
    std::fflush(out);
}
} // namespace

VideoPicture::~VideoPicture() {
    zoom_.reset();
    if (g_selected == this)
        g_selected = nullptr;
}

void VideoPicture::SetCaption(const QString& text) {
    title_->setText(text);
    setAccessibleName(text);
    setAccessibleDescription(QString::fromUtf8(video_text::kPictureHelp));
    setToolTip(text + "\n" + QString::fromUtf8(video_text::kPictureHelp));
    title_->adjustSize();
    place_caption_and_bar(this, title_, bar_);
    if (zoom_)
        zoom_->SetCaption(text);
    update();
}

QString VideoPicture::caption() const {
    return title_->text();
}

bool VideoPicture::CloseZoom() {
    if (!zoom_)
        return false;
    zoom_.reset();
    update();
    return true;
}

void VideoPicture::ToggleZoom() {
    if (CloseZoom())
        return;
    if (!CanZoom())
        return;
    zoom_ = std::make_unique<CZoomVideo>(skin_folder_, &picture_, this);
    zoom_->SetCaption(title_->text());
    zoom_->show();
    zoom_->raise();
    zoom_->activateWindow();
    update();
}

VideoPicture* VideoPicture::selected() {
    return g_selected;
}

void VideoPicture::mousePressEvent(QMouseEvent* e) {
    g_selected = this;
    QWidget::mousePressEvent(e);
}

bool VideoPicture::ToggleFullScreen() {
    if (zoom_) {
        zoom_->ToggleFullScreen();
        return true;
    }
    if (!CanZoom())
        return false;
    g_selected = this;
    ToggleZoom();
    if (!zoom_)
        return false;
    zoom_->ShowFullScreen();
    zoom_->activateWindow();
    return true;
}

void VideoPicture::on_message(unsigned id, intptr_t, intptr_t) {
    if (id == msg::kCloseZoom)
        CloseZoom();
}

bool VideoPicture::event(QEvent* e) {
    if (platform::dispatch_message(e, *this))
        return true;
    follow_hover(this, bar_, e);
    return QWidget::event(e);
}

void VideoPicture::paintEvent(QPaintEvent*) {
    const QImage picture = picture_.Latest();
    paint_picture(this, picture, ShowsFrame() && !zoom_, background_);
    note_painted_age(picture);
}

void VideoPicture::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    place_caption_and_bar(this, title_, bar_);
}

void VideoPicture::mouseDoubleClickEvent(QMouseEvent*) {
    ToggleZoom();
}
