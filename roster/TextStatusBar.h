// The status line: course, room size, host and output volume, the link's state while it is down, and the
// microphone button. It is the place where the skinned status bar with its sliders goes.
#pragma once

#include <QLabel>
#include <QWidget>

#include "platform/messages.h"
#include "session/call_back.h"
#include "session/panels.h"

class TextStatusBar : public QWidget, public IStatusBar, public platform::MessageTarget {
public:
    TextStatusBar(call_back* cb, QWidget* parent);
    QLabel* course_label() const { return course_; }
    bool IsOutputMuted() override { return false; }
    void SetRecordingDevice(int) override {}
    int UserCount() override { return count_; }
    void SetUserCount(int count) override { count_ = count; }
    void ShowUserCount() override;
    void ShowHost(const std::string& nickname) override;
    void ShowLinkState(const std::string& text) override;
    void ToggleMicrophone() override;
    void SelectMic() override {}
    void SetMute(int, bool) override {}
    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;

private:
    void Show();
    call_back* cb_;
    QLabel* course_;
    QLabel* text_;
    int count_ = 0;
    int volume_ = 0;
    QString host_;
    QString link_state_;
};
