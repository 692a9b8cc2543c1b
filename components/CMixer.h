// The system's sound mixer over ALSA's simple mixer interface: the output volume (device 0) and the
// recording volume (device 4) of the default card (with PulseAudio, the server's sink and source), a further
// line (device 3) that can be muted, and the microphone as recording source. Volumes are 0 to 100. Without a
// sound card every call keeps its contract with neutral answers: volume 0, not muted, nothing changed.
#pragma once

#include <string>

class CMixer {
public:
    enum MixerDeice { kOutput = 0, kLine = 3, kRecording = 4 };

    // `card`: the ALSA control device to open ("default" unless told otherwise).
    explicit CMixer(std::string card = "default");
    ~CMixer();
    CMixer(const CMixer&) = delete;
    CMixer& operator=(const CMixer&) = delete;

    // Which capture and playback device later calls address (positions in the device lists; -1 default).
    void SetInputIndex(int index) { input_index_ = index; }
    void SetOutputIndex(int index) { output_index_ = index; }
    int input_index() const { return input_index_; }
    int output_index() const { return output_index_; }

    int GetVolume(int device);
    bool SetVolume(int device, int volume);
    bool GetMute(int device);
    bool SetMute(int device, bool mute);
    // The microphone becomes the recording source (where the card has a capture source switch).
    bool SelectMic();

    bool available() const { return handle_ != nullptr; }

private:
    void* Element(int device, bool& capture);

    std::string card_;
    void* handle_ = nullptr; // snd_mixer_t
    int input_index_ = -1;
    int output_index_ = 0;
};
