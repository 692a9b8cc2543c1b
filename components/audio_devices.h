// The sound devices of the system by the names people know: the sound server's sources (capture) or sinks
// (playback) with their descriptions, then the sound cards by their names. The default device (which every
// list offers first anyway), monitors of outputs and ALSA's plug-in devices are not listed.
#pragma once

#include <string>
#include <vector>

struct AudioDevice {
    // How to open it: "pulse:" and the sound server's source or sink name, or an ALSA PCM name such as
    // "sysdefault:CARD=PCH".
    std::string name;
    std::string description; // for people
};

// The prefix of the names of the sound server's devices.
constexpr const char* kPulseDevicePrefix = "pulse:";

std::vector<AudioDevice> list_audio_devices(bool capture);

// The two parts on their own: the sound server's devices (none when it does not run; it is asked for at most
// `timeout_ms`) and the sound cards that can work in the direction.
std::vector<AudioDevice> list_sound_server_devices(bool capture, int timeout_ms = 1500);
std::vector<AudioDevice> list_sound_cards(bool capture);
