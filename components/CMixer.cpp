// The sound mixer over ALSA (see CMixer.h).
#include "components/CMixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>

namespace {

snd_mixer_t* mixer(void* p) {
    return static_cast<snd_mixer_t*>(p);
}

// The first element of these names that exists.
snd_mixer_elem_t* find_element(snd_mixer_t* m, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_selem_id_set_name(id, name);
        if (snd_mixer_elem_t* e = snd_mixer_find_selem(m, id))
            return e;
    }
    return nullptr;
}

} // namespace

CMixer::CMixer(std::string card) : card_(std::move(card)) {
    snd_mixer_t* m = nullptr;
    if (snd_mixer_open(&m, 0) < 0)
        return;
    if (snd_mixer_attach(m, card_.c_str()) < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
        snd_mixer_load(m) < 0) {
        snd_mixer_close(m);
        return;
    }
    handle_ = m;
}

CMixer::~CMixer() {
    if (handle_)
        snd_mixer_close(mixer(handle_));
}

void* CMixer::Element(int device, bool& capture) {
    if (!handle_)
        return nullptr;
    // Pick up changes made by other programs (another mixer, the sound server).
    snd_mixer_handle_events(mixer(handle_));
    switch (device) {
    case kOutput:
        capture = false;
        return find_element(mixer(handle_), {"Master", "PCM", "Speaker", "Headphone"});
    case kRecording:
        capture = true;
        return find_element(mixer(handle_), {"Capture", "Mic", "Internal Mic", "Input Source"});
    case kLine:
        capture = false;
        return find_element(mixer(handle_), {"Line", "Line Out", "Aux"});
    default:
        return nullptr;
    }
}

int CMixer::GetVolume(int device) {
    bool capture = false;
    auto* e = static_cast<snd_mixer_elem_t*>(Element(device, capture));
    if (!e)
        return 0;
    long lo = 0, hi = 0, v = 0;
    if (capture) {
        if (!snd_mixer_selem_has_capture_volume(e) ||
            snd_mixer_selem_get_capture_volume_range(e, &lo, &hi) < 0 ||
            snd_mixer_selem_get_capture_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &v) < 0)
            return 0;
    } else {
        if (!snd_mixer_selem_has_playback_volume(e) ||
            snd_mixer_selem_get_playback_volume_range(e, &lo, &hi) < 0 ||
            snd_mixer_selem_get_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &v) < 0)
            return 0;
    }
    if (hi <= lo)
        return 0;
    return std::clamp(int(std::lround(100.0 * double(v - lo) / double(hi - lo))), 0, 100);
}

bool CMixer::SetVolume(int device, int volume) {
    bool capture = false;
    auto* e = static_cast<snd_mixer_elem_t*>(Element(device, capture));
    if (!e)
        return false;
    volume = std::clamp(volume, 0, 100);
    long lo = 0, hi = 0;
    if (capture) {
        if (!snd_mixer_selem_has_capture_volume(e) ||
            snd_mixer_selem_get_capture_volume_range(e, &lo, &hi) < 0)
            return false;
        return snd_mixer_selem_set_capture_volume_all(
                   e, lo + std::lround(double(hi - lo) * volume / 100.0)) >= 0;
    }
    if (!snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_get_playback_volume_range(e, &lo, &hi) < 0)
        return false;
    return snd_mixer_selem_set_playback_volume_all(e, lo + std::lround(double(hi - lo) * volume / 100.0)) >=
           0;
}

bool CMixer::GetMute(int device) {
    bool capture = false;
    auto* e = static_cast<snd_mixer_elem_t*>(Element(device, capture));
    if (!e)
        return false;
    int on = 1;
    // A switch that is off means muted.
    if (capture) {
        if (!snd_mixer_selem_has_capture_switch(e) ||
            snd_mixer_selem_get_capture_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
            return false;
    } else if (!snd_mixer_selem_has_playback_switch(e) ||
               snd_mixer_selem_get_playback_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0) {
        return false;
    }
    return on == 0;
}

bool CMixer::SetMute(int device, bool mute) {
    bool capture = false;
    auto* e = static_cast<snd_mixer_elem_t*>(Element(device, capture));
    if (!e)
        return false;
    if (capture)
        return snd_mixer_selem_has_capture_switch(e) &&
               snd_mixer_selem_set_capture_switch_all(e, mute ? 0 : 1) >= 0;
    return snd_mixer_selem_has_playback_switch(e) &&
           snd_mixer_selem_set_playback_switch_all(e, mute ? 0 : 1) >= 0;
}

bool CMixer::SelectMic() {
    if (!handle_)
        return false;
    snd_mixer_handle_events(mixer(handle_));
    snd_mixer_elem_t* e = find_element(mixer(handle_), {"Mic", "Internal Mic", "Front Mic"});
    if (!e || !snd_mixer_selem_has_capture_switch(e))
        return false;
    return snd_mixer_selem_set_capture_switch_all(e, 1) >= 0;
}
