// The sound mixer over ALSA (see CMixer.h).
#include "components/CMixer.h"

#include <alsa/asoundlib.h>

#include "components/audio_devices.h"

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

std::string mixer_control_for(const std::string& pcm_name) {
    // A card's devices name it "CARD=<id>" ("sysdefault:CARD=PCH", "front:CARD=PCH,DEV=0") or by number
    // ("hw:0,0", "plughw:1,0").
    const size_t card = pcm_name.find("CARD=");
    if (card != std::string::npos) {
        const std::string id = pcm_name.substr(card + 5, pcm_name.find_first_of(",}", card) - card - 5);
        return id.empty() ? std::string() : "hw:" + id;
    }
    for (const char* prefix : {"hw:", "plughw:"}) {
        const std::string p = prefix;
        if (pcm_name.compare(0, p.size(), p) == 0) {
            const std::string id = pcm_name.substr(p.size(), pcm_name.find(',') - p.size());
            return id.empty() ? std::string() : "hw:" + id;
        }
    }
    // The sound server's devices have the server's mixer.
    if (pcm_name == "pulse" || pcm_name == "default")
        return pcm_name;
    if (pcm_name.rfind(kPulseDevicePrefix, 0) == 0)
        return "pulse";
    return {};
}

namespace {

snd_mixer_t* open_mixer(const std::string& control) {
    snd_mixer_t* m = nullptr;
    if (control.empty() || snd_mixer_open(&m, 0) < 0)
        return nullptr;
    if (snd_mixer_attach(m, control.c_str()) < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
        snd_mixer_load(m) < 0) {
        snd_mixer_close(m);
        return nullptr;
    }
    return m;
}

// The control device of the device at `index` of the capture or playback list; the default card for -1, a
// position past the list, or a device without a mixer.
std::string control_of(int index, bool capture, const std::string& default_card) {
    if (index < 0)
        return default_card;
    const auto devices = list_audio_devices(capture);
    if (size_t(index) >= devices.size())
        return default_card;
    const std::string control = mixer_control_for(devices[size_t(index)].name);
    return control.empty() || control == "default" ? default_card : control;
}

} // namespace

CMixer::CMixer(std::string card) : card_(std::move(card)) {
    Open(capture_, playback_, card_);
    Open(playback_, capture_, card_);
}

CMixer::~CMixer() = default;

void CMixer::Open(Side& side, const Side& other, const std::string& control) {
    if (side.handle && side.control == control)
        return;
    auto open = [&](const std::string& name) -> std::shared_ptr<void> {
        if (other.handle && other.control == name)
            return other.handle;
        if (snd_mixer_t* m = open_mixer(name))
            return std::shared_ptr<void>(m, [](void* p) { snd_mixer_close(mixer(p)); });
        return nullptr;
    };
    side.handle.reset(); // closed here unless the other side uses it too
    side.handle = open(control);
    side.control = control;
    if (!side.handle && control != card_) {
        side.handle = open(card_);
        side.control = card_;
    }
}

void CMixer::SetInputIndex(int index) {
    input_index_ = index;
    Open(capture_, playback_, control_of(index, true, card_));
}

void CMixer::SetOutputIndex(int index) {
    output_index_ = index;
    Open(playback_, capture_, control_of(index, false, card_));
}

void* CMixer::Element(int device, bool& capture) {
    capture = device != kOutput;
    void* handle = capture ? capture_.handle.get() : playback_.handle.get();
    if (!handle)
        return nullptr;
    // Pick up changes made by other programs (another mixer, the sound server).
    snd_mixer_handle_events(mixer(handle));
    switch (device) {
    case kOutput:
        return find_element(mixer(handle), {"Master", "PCM", "Speaker", "Headphone"});
    case kRecording:
        return find_element(mixer(handle), {"Capture", "Mic", "Internal Mic", "Input Source"});
    case kLine:
        // The line input as a recording source only: never an output such as a "Line Out" jack.
        return find_element(mixer(handle), {"Line", "Line In", "Aux"});
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
    if (!capture_.handle)
        return false;
    snd_mixer_handle_events(mixer(capture_.handle.get()));
    snd_mixer_elem_t* e = find_element(mixer(capture_.handle.get()), {"Mic", "Internal Mic", "Front Mic"});
    if (!e || !snd_mixer_selem_has_capture_switch(e))
        return false;
    return snd_mixer_selem_set_capture_switch_all(e, 1) >= 0;
}
