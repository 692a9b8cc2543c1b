// Sound device lists from the sound server and ALSA's cards (see audio_devices.h).
#include "components/audio_devices.h"

#include <alsa/asoundlib.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

struct PulseQuery {
    bool done = false;
    std::vector<AudioDevice> devices;
};

constexpr size_t kMaxDevices = 64;
constexpr size_t kMaxText = 200;

void add_device(PulseQuery* q, const char* name, const char* description, bool is_monitor) {
    if (!name || is_monitor || q->devices.size() >= kMaxDevices)
        return;
    std::string d = description && *description ? description : name;
    q->devices.push_back(
        {std::string(kPulseDevicePrefix) + std::string(name).substr(0, kMaxText), d.substr(0, kMaxText)});
}

void on_source(pa_context*, const pa_source_info* info, int eol, void* user) {
    auto* q = static_cast<PulseQuery*>(user);
    if (eol) {
        q->done = true;
        return;
    }
    add_device(q, info->name, info->description, info->monitor_of_sink != PA_INVALID_INDEX);
}

void on_sink(pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* q = static_cast<PulseQuery*>(user);
    if (eol) {
        q->done = true;
        return;
    }
    add_device(q, info->name, info->description, false);
}

} // namespace

std::vector<AudioDevice> list_sound_server_devices(bool capture, int timeout_ms) {
    PulseQuery q;
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return {};
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "quorin");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    pa_operation* op = nullptr;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (!q.done) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                break;
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && !op)
                op = capture ? pa_context_get_source_info_list(context, on_source, &q)
                             : pa_context_get_sink_info_list(context, on_sink, &q);
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
            if (pa_mainloop_prepare(loop, int(std::min<long long>(left, 50000))) < 0 ||
                pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
    }
    if (op)
        pa_operation_unref(op);
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (!q.done)
        return {};
    return q.devices;
}

std::vector<AudioDevice> list_sound_cards(bool capture) {
    std::vector<AudioDevice> devices;
    for (int card = -1; snd_card_next(&card) == 0 && card >= 0 && devices.size() < kMaxDevices;) {
        char* name = nullptr;
        if (snd_card_get_name(card, &name) < 0)
            name = nullptr;
        char hw[32];
        std::snprintf(hw, sizeof hw, "hw:%d", card);
        snd_ctl_t* ctl = nullptr;
        bool works = false;
        std::string card_id;
        if (snd_ctl_open(&ctl, hw, 0) >= 0) {
            snd_ctl_card_info_t* info = nullptr;
            snd_ctl_card_info_alloca(&info);
            if (snd_ctl_card_info(ctl, info) >= 0)
                card_id = snd_ctl_card_info_get_id(info);
            // The card has a device for the direction.
            for (int device = -1; snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0;) {
                snd_pcm_info_t* pcm = nullptr;
                snd_pcm_info_alloca(&pcm);
                snd_pcm_info_set_device(pcm, unsigned(device));
                snd_pcm_info_set_subdevice(pcm, 0);
                snd_pcm_info_set_stream(pcm, capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK);
                if (snd_ctl_pcm_info(ctl, pcm) >= 0) {
                    works = true;
                    break;
                }
            }
            snd_ctl_close(ctl);
        }
        if (works && !card_id.empty())
            devices.push_back({"sysdefault:CARD=" + card_id, name ? std::string(name) : card_id});
        std::free(name);
    }
    return devices;
}

std::vector<AudioDevice> list_audio_devices(bool capture) {
    std::vector<AudioDevice> devices = list_sound_server_devices(capture);
    for (auto& card : list_sound_cards(capture))
        devices.push_back(std::move(card));
    return devices;
}
