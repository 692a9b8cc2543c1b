// The font dialog of the chat: the screen fonts with their styles, sizes and effects, and the text colour
// (sixteen colours to click, or any other from the colour dialog), with a sample of the choice. UI thread.
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include <array>

class QDialogButtonBox;
class QFontDialog;
class QLabel;
class QTextCharFormat;
class QToolButton;

class ChatFontDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSwatches = 16;

    // Starts with the font and colour of `start`.
    ChatFontDialog(const QTextCharFormat& start, QWidget* parent);

    QFont chosen_font() const;
    QColor colour() const { return colour_; }
    void set_colour(const QColor& colour);

    QFontDialog* font_box() const { return font_box_; }
    QToolButton* swatch(int i) const { return swatches_[size_t(i)]; }
    QToolButton* more_colours() const { return more_; }
    QDialogButtonBox* buttons() const { return buttons_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ShowSample();

    QFontDialog* font_box_;
    std::array<QToolButton*, kSwatches> swatches_{};
    QToolButton* more_;
    QLabel* sample_;
    QDialogButtonBox* buttons_;
    QColor colour_;
};
