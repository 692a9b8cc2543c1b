// The face picker (see CFaceDlg.h).
#include "chat/CFaceDlg.h"

#include <QMouseEvent>
#include <QPainter>

#include "chat/chat_codes.h"
#include "chat/face_names.h"
#include "controls/CPictureEx.h"
#include "controls/FaceLibrary.h"
#include "platform/message_ids.h"
#include "platform/text.h"

CFaceDlg::CFaceDlg(const QString& faces_folder, QWidget* owner)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint), owner_(owner) {
    setAttribute(Qt::WA_NoMouseReplay); // the click that closes it does not press the face button again
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    for (int i = 0; i < chat::kFaceCount; ++i) {
        const int x = kCell * (i % kColumns), y = kCell * (i / kColumns);
        auto* picture = new CPictureEx(this, kFirstControlId + i);
        picture->setGeometry(x + 2, y + 2, kCell - 4, kCell - 4);
        picture->set_stretch(true);
        if (picture->LoadFile(face_file(faces_folder, i))) {
            picture->set_background(Qt::white);
            picture->SetTipText(utf8_to_gbk(chat::kFaceNames[i]));
            picture->Play();
        }
        pictures_.push_back(picture);
    }
    resize(kColumns * kCell + 1, rows() * kCell + 1);
}

CFaceDlg::~CFaceDlg() = default;

void CFaceDlg::PlacePopup(const QRect& button) {
    const int h = kCell * rows();
    setGeometry(button.left(), button.top() - h, kColumns * kCell + 1, h + 1);
    setFocus();
}

bool CFaceDlg::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void CFaceDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (id == msg::kFaceChosen && owner_)
        platform::post_message(owner_, msg::kFaceChosen, wparam, lparam - kFirstControlId);
}

void CFaceDlg::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && owner_)
        platform::post_message(owner_, msg::kFaceChosen, 0, 0);
    QWidget::mouseReleaseEvent(e);
}

void CFaceDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(QColor(0xAE, 0xD6, 0xF2), 1));
    for (int r = 0; r <= rows(); ++r)
        p.drawLine(0, r * kCell, width(), r * kCell);
    for (int c = 0; c <= kColumns; ++c)
        p.drawLine(c * kCell, 0, c * kCell, height());
}
