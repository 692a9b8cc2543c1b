// Sound device lists from ALSA's name hints (see audio_devices.h).
#include "components/audio_devices.h"

#include <alsa/asoundlib.h>

#include <cstdlib>

std::vector<AudioDevice> list_audio_devices(bool capture) {
    std::vector<AudioDevice> devices;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints)
        return devices;
    for (void** h = hints; *h; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* desc = snd_device_name_get_hint(*h, "DESC");
        char* ioid = snd_device_name_get_hint(*h, "IOID");
        // IOID is absent for devices that work both ways.
        const bool direction_ok = !ioid || std::string(ioid) == (capture ? "Input" : "Output");
        if (name && direction_ok) {
            const std::string n = name;
            if (n != "null" && n != "default") {
                std::string d = desc ? desc : n;
                d = d.substr(0, d.find('\n'));
                devices.push_back({n, d});
            }
        }
        std::free(name);
        std::free(desc);
        std::free(ioid);
    }
    snd_device_name_free_hint(hints);
    return devices;
}
