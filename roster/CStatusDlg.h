// The status bar: the course, the host and the room size on the left, the link's state while it is down,
// and on the right the microphone and output volume sliders with a mute button each. While the client is
// connected the microphone and the output go through the service; otherwise the controls act on the
// system mixer.
// The system mixer is opened after the status bar's first paint, on a thread of its own (with a sound
// server, or a device chosen by name, opening it talks to the server): the window shows without waiting
// for it, and the sliders take the system's volumes when it is open. Another recording or playback device
// (chosen in the audio setup, or the one in use moved or went away) opens the new devices' mixer on such a
// thread as well, and the slider of the changed direction then takes the new device's volume. A call that
// needs the mixer before the chosen devices' mixer is open waits for it, so it always acts on the chosen
// devices. Everything else here, the opening function excepted, runs on the UI thread.
#pragma once

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

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
    ~CStatusDlg() override;

    ClxStatic* course_label() const { return course_; }
    ClxStatic* host_label() const { return host_; }
    ClxStatic* count_label() const { return count_; }
    ClxStatic* link_label() const { return link_; }
    CBitmapSlider* mic_slider() const { return mic_slider_; }
    CBitmapSlider* output_slider() const { return output_slider_; }
    // The system mixer of the chosen devices; opened here (or waited for) when it is not open yet.
    CMixer& mixer();
    // The mixer is open and the sliders show its volumes.
    bool mixer_open() const { return mixer_ != nullptr; }
    // The open mixer is the one of the chosen devices (no opening for other devices is under way).
    bool mixer_current() const {
        return mixer_ && mixer_->input_index() == input_index_ && mixer_->output_index() == output_index_;
    }

    // What opening the mixer found: the mixer and its volumes, for the sliders and the output button.
    struct OpenedMixer {
        std::unique_ptr<CMixer> mixer;
        int output_volume = 0;
        int recording_volume = 0;
        bool output_muted = false;
    };
    // Opens the mixer for a capture and a playback device (positions in the device lists; -1 default).
    // Called on the opening thread, or on the UI thread by a call that cannot wait for that thread.
    static OpenedMixer OpenMixer(int input_index, int output_index);
    // How the mixer is opened (OpenMixer; a test holds it back). Set before the first opening.
    std::function<OpenedMixer(int input_index, int output_index)> open_mixer = &CStatusDlg::OpenMixer;
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
    void SelectMic() override { mixer().SelectMic(); }
    void SetMute(int line, bool mute) override { mixer().SetMute(line, mute); }

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
    void paintEvent(QPaintEvent* e) override;

private:
    void SetUpSlider(CBitmapSlider* slider, int volume);
    void ShowButton(int entry, bool first_set, const char* tool_tip_utf8);
    void Notice(const char* utf8);
    // Places the link state after the user count, cut with an ellipsis where the volume buttons begin (the
    // whole text is its tool tip).
    void PlaceLinkState();
    // Reads the volumes anew (a change made outside the client shows).
    void RefreshVolumes();

    // Opens the chosen devices' mixer on its thread, unless an opening is under way (when that one is done,
    // the next one starts if the devices changed meanwhile).
    void StartOpeningMixer();
    // The opening thread has posted that it is done.
    void OnMixerOpened();
    // Waits for the opening thread and takes its mixer over, unless it is for devices no longer chosen and
    // the open one is for the chosen devices.
    void TakeOpenedMixer();
    // Takes an opened mixer over: the first one shows its volumes; a later one shows the volume of a
    // direction whose device was changed.
    void AdoptMixer(OpenedMixer opened);
    // The sliders of the directions whose device was changed take these volumes, once the open mixer is
    // that device's.
    void ShowChangedVolumes(int output_volume, int recording_volume);
    // A device was chosen: its mixer opens off this thread (or the same devices' volumes are read anew).
    void ChosenDevicesChanged();

    call_back* cb_;
    ISessionActions* actions_;
    IPanelObserver* observer_ = nullptr;
    std::string skin_folder_;
    std::unique_ptr<CMixer> mixer_; // null until opened
    int input_index_ = -1;          // the chosen devices, for opening the mixer
    int output_index_ = -1;
    std::thread mixer_thread_;
    OpenedMixer opened_;                    // written by mixer_thread_, read after joining it
    std::atomic<bool> opened_ready_{false}; // mixer_thread_ has written opened_
    bool mixer_started_ = false;
    bool recording_volume_due_ = false; // the recording device changed: its volume goes on the slider
    bool output_volume_due_ = false;    // the same for the playback device
    bool output_volume_shown_ = false;  // the service's volume is on the output slider
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
