// The skin button component: takes over the drawing of an existing push button and shows pictures for its
// normal, hover and pressed states, each with an optional transparent key colour, and a tool tip. The control
// keeps its id and its clicks, so the window's command handling is unchanged.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QAbstractButton;
class QWidget;

class CWINButton : public QObject {
public:
    static constexpr uint32_t kNoKey = 0xFFFFFFFFu;

    CWINButton();
    ~CWINButton() override;

    // The control to take over (a push button); null is allowed and makes every call a no-op on screen.
    void SetItemHandle(QWidget* control);
    QWidget* GetItemHandle() const { return control_; }

    void SetBackPic(const QImage& picture, int);
    void SetHoverPic(const QImage& picture);
    void SetPressPic(const QImage& picture);

    // 1: the key colours are used; 0: pictures are drawn opaque.
    void SetColorKey(int use);
    // Key colours (0x00BBGGRR) of the normal, hover and pressed pictures; kNoKey for none.
    void SetColorKey(uint32_t normal, uint32_t hover, uint32_t pressed);
    void SetColorKey2(uint32_t normal, uint32_t hover, uint32_t pressed);
    // Exchanges the two sets of key colours (after a switch to the other picture set).
    void SwapColorKey();
    void SetToolTip(const QString& text);

    // Gives the control its own drawing and tool tip back.
    void Restore();

    // The picture the button shows now (for tests and screenshots), with its key colour applied.
    QImage CurrentPicture() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum State { kNormal, kHover, kPressed };
    State CurrentState() const;
    void Update();

    QPointer<QWidget> control_;
    QImage pictures_[3];
    uint32_t keys_[3] = {kNoKey, kNoKey, kNoKey};
    uint32_t keys2_[3] = {kNoKey, kNoKey, kNoKey};
    bool use_keys_ = false;
    bool hover_ = false;
    bool keyboard_focus_ = false; // the focus came with Tab: the ring shows
    QString old_tool_tip_;
};
