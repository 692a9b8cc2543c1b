// The control bar (see CVideoCtl.h).
#include "video/CVideoCtl.h"

#include <QApplication>
#include <QEvent>
#include <QPushButton>

#include "platform/controls.h"
#include "platform/paths.h"

CVideoCtl::CVideoCtl(const std::string& skin_folder, VideoEventCall* sink, QWidget* parent)
    : QWidget(parent), sink_(sink) {
    setAttribute(Qt::WA_TranslucentBackground);
    int x = 4;
    for (auto [id, text] : {std::pair{kSpeaker, "speaker"}, std::pair{kSnap, "snap"},
                            std::pair{kZoom, "zoom"}, std::pair{kClose, "close"}}) {
        auto* b = new QPushButton(text, this);
        set_control_id(b, id);
        b->setFocusPolicy(Qt::NoFocus);
        b->setGeometry(x, 3, 20, 20);
        x += 24;
        connect(b, &QPushButton::clicked, this, [this, id = id] { Press(id); });
    }
    skin_.dialog = this;
    skin_.skin_folder = skin_folder;
    skin_.Load(path_join(skin_folder, "videoctl.txt"));
    // The speaker button has no function: its entry is hidden.
    if (skin_.count() > 0 && skin_.entry(0).button && skin_.entry(0).button->GetItemHandle())
        skin_.entry(0).button->GetItemHandle()->hide();
    else
        get_dlg_item(this, kSpeaker)->hide();
    hide();
}

void CVideoCtl::Place() {
    if (QWidget* p = parentWidget())
        setGeometry(0, p->height() - kHeight, p->width(), kHeight);
    // The buttons stand at the right end of the strip.
    int x = width() - 4;
    for (int id : {kClose, kZoom, kSnap}) {
        QWidget* b = get_dlg_item(this, id);
        x -= b->width() + 4;
        b->move(x, (kHeight - b->height()) / 2);
    }
    raise();
}

void CVideoCtl::Press(int control) {
    if (!sink_)
        return;
    switch (control) {
    case kSnap:
        sink_->on_video_event(3, 0, 0);
        break;
    case kZoom:
        sink_->on_video_event(1, 0, 0);
        break;
    case kClose:
        sink_->on_video_event(2, 0, 0);
        break;
    default:
        break; // the speaker
    }
}

void place_caption_and_bar(QWidget* picture, QWidget* caption, CVideoCtl* bar) {
    caption->move(8, picture->height() - caption->height() - 4);
    if (bar->isVisible())
        bar->Place();
}

void follow_hover(QWidget* picture, CVideoCtl* bar, QEvent* event) {
    if (event->type() == QEvent::Enter) {
        bar->Place();
        bar->show();
    } else if (event->type() == QEvent::Leave) {
        // The mouse may stay within the picture's rectangle while another window comes over it (the zoom
        // window opening where the mouse is, a message box): the picture then gets no other leave, so the
        // bar stays only while the picture itself is under the mouse.
        const QPoint at = QCursor::pos();
        const QWidget* under = QApplication::widgetAt(at);
        if (!picture->rect().contains(picture->mapFromGlobal(at)) ||
            !(under == picture || picture->isAncestorOf(under)))
            bar->hide();
    } else if (event->type() == QEvent::Resize && bar->isVisible()) {
        bar->Place();
    }
}
