// The zoom window (see CZoomVideo.h).
#include "video/CZoomVideo.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>

#include "config/client_config.h"
#include "platform/controls.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "skin/ClxStatic.h"
#include "video/PictureSlot.h"

namespace {
const QSize kLevels[5] = {{320, 240}, {352, 288}, {640, 480}, {800, 600}, {0, 0}};
}

QSize CZoomVideo::LevelSize(int level) {
    return kLevels[std::clamp(level, 0, 4)];
}

CZoomVideo::CZoomVideo(const std::string& skin_folder, PictureSlot* picture, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint), owner_(owner), picture_(picture) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setObjectName("zoom_window");
    // Escape reaches the window itself; its buttons never take the focus.
    setFocusPolicy(Qt::StrongFocus);
    background_.Load(path_join(skin_folder, "camerabk.bmp"));
    top_.Load(path_join(skin_folder, "videotop.bmp"));
    caption_ = new ClxStatic(this);
    caption_->colours.transparent = true;
    caption_->colours.text = colour(kVTextColor);
    caption_->Refresh();
    caption_->move(10, 2);
    for (auto [id, text] : {std::pair{kZoomOut, "-"}, std::pair{kZoomIn, "+"}, std::pair{kClose, "x"}}) {
        auto* b = new QPushButton(text, this);
        set_control_id(b, id);
        b->setFocusPolicy(Qt::NoFocus);
        b->resize(20, 18);
        connect(b, &QPushButton::clicked, this, [this, id = id] {
            if (id == kZoomOut)
                ZoomOut();
            else if (id == kZoomIn)
                ZoomIn();
            else
                AskOwnerToClose();
        });
    }
    skin_.dialog = this;
    skin_.skin_folder = skin_folder;
    skin_.Load(path_join(skin_folder, "vzoom.txt"));
    setMinimumSize(kMinWidth, kMinHeight);
    if (picture_)
        picture_->AddView(this);
    ApplyLevel(false);
}

CZoomVideo::~CZoomVideo() {
    if (picture_)
        picture_->RemoveView(this);
}

void CZoomVideo::SetCaption(const QString& text) {
    caption_->setText(text.left(260));
    setWindowTitle(caption_->text());
    caption_->adjustSize();
    update();
}

void CZoomVideo::ApplyLevel(bool keep_corner) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize s = LevelSize(level_);
    if (s.isEmpty()) {
        setGeometry(screen ? screen->geometry() : area);
    } else {
        const QSize window(s.width(), s.height() + top_strip());
        const QPoint corner = keep_corner ? pos() : QPoint(0, 0);
        setGeometry(QRect(corner, window));
        move(PlaceIn(area, window));
    }
}

QPoint CZoomVideo::PlaceIn(const QRect& area, const QSize& window) {
    // A window larger than the work area (a small screen or a large scale factor) keeps its top strip on the
    // screen, and with it the buttons at the strip's right end and the handle that moves it.
    int x = area.x() + (area.width() - window.width()) / 2;
    if (window.width() > area.width())
        x = area.x() + area.width() - window.width();
    const int y = std::max(area.y(), area.y() + (area.height() - window.height()) / 2);
    return {x, y};
}

void CZoomVideo::GoTo(int level) {
    if (level == 4 && level_ != 4)
        level_before_full_ = level_;
    level_ = level;
    ApplyLevel(true);
}

void CZoomVideo::ZoomOut() {
    if (level_ > 0)
        GoTo(level_ - 1);
}

void CZoomVideo::ZoomIn() {
    if (level_ < 4)
        GoTo(level_ + 1);
}

void CZoomVideo::ShowFullScreen() {
    GoTo(4);
    level_before_full_ = -1;
}

void CZoomVideo::ToggleFullScreen() {
    if (level_ != 4)
        GoTo(4);
    else if (level_before_full_ < 0)
        AskOwnerToClose();
    else
        GoTo(level_before_full_);
}

void CZoomVideo::AskOwnerToClose() {
    if (owner_)
        platform::post_message(owner_, msg::kCloseZoom, 0, 0);
}

void CZoomVideo::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        if (level_ == 4)
            ZoomOut();
        else
            AskOwnerToClose();
        return;
    }
    // The zoom window has the keyboard once it opened: the main window's F11 must work here too.
    if (e->key() == Qt::Key_F11 && e->modifiers() == Qt::NoModifier) {
        ToggleFullScreen();
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        return;
    QWidget::keyPressEvent(e);
}

void CZoomVideo::mouseDoubleClickEvent(QMouseEvent*) {
    if (level_ == 4)
        ZoomOut();
    else
        GoTo(4);
}

void CZoomVideo::mousePressEvent(QMouseEvent* e) {
    // The top strip drags the window.
    move_armed_ = e->button() == Qt::LeftButton && e->position().y() < std::max(top_strip(), 24);
    press_at_ = e->position().toPoint();
    QWidget::mousePressEvent(e);
}

void CZoomVideo::mouseMoveEvent(QMouseEvent* e) {
    if (move_armed_ && (e->buttons() & Qt::LeftButton) &&
        (e->position().toPoint() - press_at_).manhattanLength() >= QApplication::startDragDistance()) {
        move_armed_ = false;
        if (windowHandle())
            windowHandle()->startSystemMove();
    }
    QWidget::mouseMoveEvent(e);
}

void CZoomVideo::mouseReleaseEvent(QMouseEvent* e) {
    move_armed_ = false;
    QWidget::mouseReleaseEvent(e);
}

void CZoomVideo::closeEvent(QCloseEvent* e) {
    e->ignore();
    AskOwnerToClose();
}

void CZoomVideo::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    const int W = width();
    static const int kIds[3] = {kZoomOut, kZoomIn, kClose};
    for (int i = 0; i < 3; ++i) {
        QWidget* b = get_dlg_item(this, kIds[i]);
        const int w = i < skin_.count() ? skin_.entry(i).width : b->width();
        const int x = i == 0 ? W - 4 * w + w / 2 : i == 1 ? W - 3 * w + w / 2 : W - w - w / 2;
        b->move(x, 4);
    }
    update();
}

void CZoomVideo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int strip = top_strip();
    if (!top_.empty())
        top_.DrawStretched(p, QRect(0, 0, width(), strip));
    const QRect below(0, strip, width(), height() - strip);
    const QImage picture = picture_ ? picture_->Latest() : QImage();
    if (!picture.isNull())
        p.drawImage(below, picture);
    else if (!background_.empty())
        background_.DrawStretched(p, below);
}
