// The status bar: the course, the host and the room size on the left, the link's state while it is down,
// and on the right the microphone and output volume sliders with a mute button each. While the client is
// connected the microphone and the output go through the service; otherwise the controls act on the
// system mixer.
#pragma once

#include <QWidget>

#include "components/CMixer.h"
#include "platform/messages.h"
#include "session/call_back.h"
#include "session/panels.h"
#include "skin/CSkinButtons.h"

class ClxStatic;
class CBitmapSlider;

class CStatusDlg : public QWidget, public IStatusBar, public platform::MessageTarget {
public:
    enum Control {
        kCourse = 1028,
        kUserCountLabel = 1029,
        kHostLabel = 1030,
        kMicButton = 1033,
        kOutputButton = 1034,
        kMicSlider = 1035,
        kOutputSlider = 1036,
    };

    CStatusDlg(call_back* cb, ISessionActions* actions, const std::string& install_folder, QWidget* parent);

    ClxStatic* course_label() const { return course_; }
    ClxStatic* host_label() const { return host_; }
    ClxStatic* count_label() const { return count_; }
    ClxStatic* link_label() const { return link_; }
    CBitmapSlider* mic_slider() const { return mic_slider_; }
    CBitmapSlider* output_slider() const { return output_slider_; }
    CMixer& mixer() { return mixer_; }
    CSkinButtons& skin_buttons() { return skin_; }
    bool microphone_muted() const { return mic_muted_; }

    // IStatusBar
    bool IsOutputMuted() override { return sound_off_; }
    void SetRecordingDevice(int device_id) override;
    void SetPlaybackDevice(int device_id) override;
    int UserCount() override { return user_count_; }
    void SetUserCount(int count) override { user_count_ = count; }
    void ShowUserCount() override;
    void ShowHost(const std::string& nickname) override;
    void ShowLinkState(const std::string& text) override;
    void ToggleMicrophone() override;
    void ShowMicrophoneState(bool on) override;
    void SelectMic() override { mixer_.SelectMic(); }
    void SetMute(int line, bool mute) override { mixer_.SetMute(line, mute); }

    void ToggleOutput();
    void SetOutputVolume(int volume);
    // Message 2024.
    void ShowOutputVolume(int volume);
    // Who is told what the bar has shown (none by default).
    void set_observer(IPanelObserver* o) { observer_ = o; }

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void SetUpSlider(CBitmapSlider* slider, int volume);
    void ShowButton(int entry, bool first_set, const char* tool_tip_utf8);
    void Notice(const char* utf8);
    // Places the link state after the user count, cut with an ellipsis where the volume buttons begin (the
    // whole text is its tool tip).
    void PlaceLinkState();
    // Reads the volumes anew (a change made outside the client shows).
    void RefreshVolumes();

    call_back* cb_;
    ISessionActions* actions_;
    IPanelObserver* observer_ = nullptr;
    std::string skin_folder_;
    CMixer mixer_;
    CSkinButtons skin_;
    ClxStatic* course_;
    ClxStatic* host_;
    ClxStatic* count_;
    ClxStatic* link_;
    QString link_text_;
    CBitmapSlider* mic_slider_;
    CBitmapSlider* output_slider_;
    bool sound_off_ = false;
    bool mic_muted_ = false;
    int user_count_ = 0;
    bool initialised_ = false;
};
