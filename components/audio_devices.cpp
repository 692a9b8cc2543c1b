// Sound device lists from the sound server and ALSA's cards (see audio_devices.h).
#include "components/audio_devices.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

// The sound server's client library, opened at the first look at the server's devices. Linked into the
// program, it would be loaded at every start (with the sound file codecs it pulls in) before the window can
// show. Any thread; opened once, never closed.
struct PulseLibrary {
    decltype(&pa_mainloop_new) mainloop_new = nullptr;
    decltype(&pa_mainloop_get_api) mainloop_get_api = nullptr;
    decltype(&pa_mainloop_prepare) mainloop_prepare = nullptr;
    decltype(&pa_mainloop_poll) mainloop_poll = nullptr;
    decltype(&pa_mainloop_dispatch) mainloop_dispatch = nullptr;
    decltype(&pa_mainloop_free) mainloop_free = nullptr;
    decltype(&pa_context_new) context_new = nullptr;
    decltype(&pa_context_connect) context_connect = nullptr;
    decltype(&pa_context_get_state) context_get_state = nullptr;
    decltype(&pa_context_get_source_info_list) context_get_source_info_list = nullptr;
    decltype(&pa_context_get_sink_info_list) context_get_sink_info_list = nullptr;
    decltype(&pa_context_disconnect) context_disconnect = nullptr;
    decltype(&pa_context_unref) context_unref = nullptr;
    decltype(&pa_operation_unref) operation_unref = nullptr;
    bool ok = false; // every function was found
};

const PulseLibrary& pulse_library() {
    static const PulseLibrary library = [] {
        PulseLibrary l;
        void* handle = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return l;
        bool all = true;
        auto get = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            all = all && function;
        };
        get(l.mainloop_new, "pa_mainloop_new");
        get(l.mainloop_get_api, "pa_mainloop_get_api");
        get(l.mainloop_prepare, "pa_mainloop_prepare");
        get(l.mainloop_poll, "pa_mainloop_poll");
        get(l.mainloop_dispatch, "pa_mainloop_dispatch");
        get(l.mainloop_free, "pa_mainloop_free");
        get(l.context_new, "pa_context_new");
        get(l.context_connect, "pa_context_connect");
        get(l.context_get_state, "pa_context_get_state");
        get(l.context_get_source_info_list, "pa_context_get_source_info_list");
        get(l.context_get_sink_info_list, "pa_context_get_sink_info_list");
        get(l.context_disconnect, "pa_context_disconnect");
        get(l.context_unref, "pa_context_unref");
        get(l.operation_unref, "pa_operation_unref");
        l.ok = all;
        return l;
    }();
    return library;
}

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
    const PulseLibrary& pa = pulse_library();
    if (!pa.ok)
        return {}; // no client library: as without a sound server
    PulseQuery q;
    pa_mainloop* loop = pa.mainloop_new();
    if (!loop)
        return {};
    pa_context* context = pa.context_new(pa.mainloop_get_api(loop), "quorin");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    pa_operation* op = nullptr;
    if (context && pa.context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (!q.done) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                break;
            const pa_context_state_t state = pa.context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && !op)
                op = capture ? pa.context_get_source_info_list(context, on_source, &q)
                             : pa.context_get_sink_info_list(context, on_sink, &q);
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
            if (pa.mainloop_prepare(loop, int(std::min<long long>(left, 50000))) < 0 ||
                pa.mainloop_poll(loop) < 0 || pa.mainloop_dispatch(loop) < 0)
                break;
        }
    }
    if (op)
        pa.operation_unref(op);
    if (context) {
        pa.context_disconnect(context);
        pa.context_unref(context);
    }
    pa.mainloop_free(loop);
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
