// The chat's font dialog (see ChatFontDialog.h).
#include "chat/ChatFontDialog.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextCharFormat>
#include <QToolButton>
#include <QVBoxLayout>

#include "chat/chat_texts.h"

namespace {

// The sixteen colours of the usual font dialog, with their names.
const struct {
    QRgb rgb;
    const char* name;
} kColours[ChatFontDialog::kSwatches] = {
    {0x000000, "黑色"},   {0x800000, "褐红色"}, {0x008000, "绿色"},   {0x808000, "橄榄色"},
    {0x000080, "藏青色"}, {0x800080, "紫色"},   {0x008080, "深青色"}, {0x808080, "灰色"},
    {0xC0C0C0, "银色"},   {0xFF0000, "红色"},   {0x00FF00, "酸橙色"}, {0xFFFF00, "黄色"},
    {0x0000FF, "蓝色"},   {0xFF00FF, "紫红色"}, {0x00FFFF, "水绿色"}, {0xFFFFFF, "白色"}};

QIcon swatch_icon(const QColor& c) {
    QPixmap p(16, 16);
    p.fill(c);
    return QIcon(p);
}

} // namespace

ChatFontDialog::ChatFontDialog(const QTextCharFormat& start, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(chat_text::kFontTitle));
    font_box_ = new QFontDialog(this);
    font_box_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    font_box_->setWindowFlags(Qt::Widget);
    font_box_->setCurrentFont(start.font());
    // The font part is a dialog of its own: Escape typed in it would close only that part and leave an empty
    // dialog, and it swallows Return. Both answer the whole dialog instead.
    connect(font_box_, &QDialog::rejected, this, &QDialog::reject);
    font_box_->installEventFilter(this);

    auto* colour_row = new QHBoxLayout;
    colour_row->addWidget(new QLabel(QString::fromUtf8(chat_text::kColour), this));
    for (int i = 0; i < kSwatches; ++i) {
        auto* b = new QToolButton(this);
        const QColor c = QColor::fromRgb(kColours[i].rgb);
        b->setIcon(swatch_icon(c));
        b->setToolTip(QString::fromUtf8(kColours[i].name));
        b->setAutoRaise(true);
        connect(b, &QToolButton::clicked, this, [this, c] { set_colour(c); });
        colour_row->addWidget(b);
        swatches_[size_t(i)] = b;
    }
    more_ = new QToolButton(this);
    more_->setText(QString::fromUtf8(chat_text::kMoreColours));
    connect(more_, &QToolButton::clicked, this, [this] {
        const QColor c = QColorDialog::getColor(colour_, this, QString::fromUtf8(chat_text::kColour));
        if (c.isValid())
            set_colour(c);
    });
    colour_row->addWidget(more_);
    colour_row->addStretch();

    sample_ = new QLabel(QString::fromUtf8(chat_text::kFontSample), this);
    sample_->setMinimumHeight(40);
    sample_->setAlignment(Qt::AlignCenter);
    sample_->setFrameShape(QFrame::StyledPanel);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8(chat_text::kOk));
    buttons_->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8(chat_text::kCancel));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(font_box_, &QFontDialog::currentFontChanged, this, [this] { ShowSample(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(font_box_);
    layout->addLayout(colour_row);
    layout->addWidget(sample_);
    layout->addWidget(buttons_);

    const QColor first = start.foreground().style() != Qt::NoBrush ? start.foreground().color() : Qt::black;
    set_colour(first);
}

bool ChatFontDialog::eventFilter(QObject* watched, QEvent* e) {
    if (watched == font_box_ && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

QFont ChatFontDialog::chosen_font() const {
    return font_box_->currentFont();
}

void ChatFontDialog::set_colour(const QColor& colour) {
    colour_ = colour;
    ShowSample();
}

void ChatFontDialog::ShowSample() {
    sample_->setFont(font_box_->currentFont());
    QPalette p = sample_->palette();
    p.setColor(QPalette::WindowText, colour_);
    sample_->setPalette(p);
}
