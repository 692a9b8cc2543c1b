// The system's sound mixer over ALSA's simple mixer interface: the output volume (device 0) of the chosen
// playback device's card, the recording volume (device 4) and the line input (device 3, which can be muted
// so that it is not recorded) of the chosen capture device's card, and the microphone as recording source.
// The default devices (with PulseAudio, the server's sink and source) are used until a device is chosen, and
// for a device without a mixer of its own. Volumes are 0 to 100. Without a sound card every call keeps its
// contract with neutral answers: volume 0, not muted, nothing changed. No call ever mutes an output other
// than device 0 itself.
#pragma once

#include <memory>
#include <string>

// The ALSA control device that holds the mixer of a PCM device ("sysdefault:CARD=PCH" -> "hw:PCH", "pulse"
// -> "pulse"); empty for a device without a mixer of its own (a rate converter, a plug-in).
std::string mixer_control_for(const std::string& pcm_name);

class CMixer {
public:
    enum MixerDeice { kOutput = 0, kLine = 3, kRecording = 4 };

    // `card`: the ALSA control device used for the default devices ("default" unless told otherwise).
    explicit CMixer(std::string card = "default");
    ~CMixer();
    CMixer(const CMixer&) = delete;
    CMixer& operator=(const CMixer&) = delete;

    // Which capture and playback device later calls address (positions in the device lists; -1 default):
    // the mixer of that device's card.
    void SetInputIndex(int index);
    void SetOutputIndex(int index);
    int input_index() const { return input_index_; }
    int output_index() const { return output_index_; }
    // The control devices in use for capture and for playback.
    const std::string& capture_control() const { return capture_.control; }
    const std::string& playback_control() const { return playback_.control; }

    int GetVolume(int device);
    bool SetVolume(int device, int volume);
    bool GetMute(int device);
    bool SetMute(int device, bool mute);
    // The microphone becomes the recording source (where the card has a capture source switch).
    bool SelectMic();

    bool available() const { return playback_.handle != nullptr || capture_.handle != nullptr; }

private:
    struct Side {
        std::string control;
        std::shared_ptr<void> handle; // snd_mixer_t, shared with the other side when they name one control
    };
    // Opens `control` for one side (taking the other side's handle when it has that control open), or the
    // default card when that cannot be opened.
    void Open(Side& side, const Side& other, const std::string& control);
    void* Element(int device, bool& capture);

    std::string card_;
    Side capture_, playback_;
    int input_index_ = -1;
    int output_index_ = -1;
};
