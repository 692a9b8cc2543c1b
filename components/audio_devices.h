// The sound devices of the system as ALSA's device name hints list them (the PulseAudio devices included when
// PulseAudio runs), in enumeration order, without the default device (which every list offers first anyway)
// and the null device.
#pragma once

#include <string>
#include <vector>

struct AudioDevice {
    std::string name;        // the ALSA PCM name, e.g. "pulse" or "sysdefault:CARD=PCH"
    std::string description; // for people, first line of ALSA's description
};

std::vector<AudioDevice> list_audio_devices(bool capture);
