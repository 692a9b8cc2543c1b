// Speech devices (see pcm_stream.h).
#include "voice/pcm_stream.h"

#include <alsa/asoundlib.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstring>

#include "components/audio_devices.h"
#include "voice/opus_codec.h"

namespace voice {

namespace {

// A device that keeps failing after recovery (unplugged, its server gone) ends the stream instead of
// spinning.
constexpr int kMaxFailuresInARow = 3;

class AlsaStream : public SoundStream {
public:
    AlsaStream(snd_pcm_t* pcm, std::string name) : pcm_(pcm), name_(std::move(name)) {}
    ~AlsaStream() override { snd_pcm_close(pcm_); }

    bool read(int16_t* frame) override {
        return transfer([&](long done) {
            return snd_pcm_readi(pcm_, frame + done, snd_pcm_uframes_t(kFrameSamples - done));
        });
    }

    bool write(const int16_t* frame) override {
        return transfer([&](long done) {
            return snd_pcm_writei(pcm_, frame + done, snd_pcm_uframes_t(kFrameSamples - done));
        });
    }

    bool prefill() override {
        const Frame silence(kFrameSamples, 0);
        for (int i = 0; i < 100; ++i) {
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
            if (avail < 0)
                return recover(avail);
            if (avail < kFrameSamples)
                return true;
            if (!write(silence.data()))
                return false;
        }
        return true;
    }

    std::string name() const override { return name_; }

private:
    // Moves one frame in as many calls as the device needs, recovering from over- and underruns.
    template <typename Call> bool transfer(Call call) {
        long done = 0;
        for (int failures = 0; done < kFrameSamples;) {
            const long n = call(done);
            if (n < 0) {
                if (++failures > kMaxFailuresInARow || !recover(n))
                    return false;
                continue;
            }
            failures = 0;
            done += n;
        }
        return true;
    }
    bool recover(long result) {
        if (snd_pcm_recover(pcm_, int(result), 1) < 0)
            return false;
        // A capture stream is started again after an overrun; playback starts with its next write.
        if (snd_pcm_stream(pcm_) == SND_PCM_STREAM_CAPTURE)
            snd_pcm_start(pcm_);
        return true;
    }
    snd_pcm_t* pcm_;
    std::string name_;
};

class PulseStream : public SoundStream {
public:
    PulseStream(pa_simple* s, int prefill_frames) : s_(s), prefill_frames_(prefill_frames) {}
    ~PulseStream() override { pa_simple_free(s_); }
    bool read(int16_t* frame) override {
        int error = 0;
        return pa_simple_read(s_, frame, kFrameSamples * 2, &error) >= 0;
    }
    bool write(const int16_t* frame) override {
        int error = 0;
        return pa_simple_write(s_, frame, kFrameSamples * 2, &error) >= 0;
    }
    bool prefill() override {
        const Frame silence(kFrameSamples, 0);
        for (int i = 0; i < prefill_frames_; ++i)
            if (!write(silence.data()))
                return false;
        return true;
    }
    std::string name() const override { return "PulseAudio"; }

private:
    pa_simple* s_;
    int prefill_frames_;
};

std::unique_ptr<SoundStream> open_pulse(bool capture, int latency_ms, std::string* error,
                                        const char* device = nullptr) {
    const pa_sample_spec format{PA_SAMPLE_S16LE, kSampleRate, 1};
    const uint32_t frame_bytes = kFrameSamples * 2;
    const uint32_t buffer_bytes = uint32_t(latency_ms) * kSampleRate / 1000 * 2;
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = capture ? uint32_t(-1) : frame_bytes;
    attr.tlength = capture ? uint32_t(-1) : std::max(buffer_bytes, 2 * frame_bytes);
    attr.fragsize = capture ? frame_bytes : uint32_t(-1);
    int e = 0;
    pa_simple* s = pa_simple_new(nullptr, "velmor", capture ? PA_STREAM_RECORD : PA_STREAM_PLAYBACK, device,
                                 "speech", &format, nullptr, &attr, &e);
    if (!s) {
        if (error)
            *error = std::string("PulseAudio") + (device ? std::string(" ") + device : std::string()) + ": " +
                     pa_strerror(e);
        return nullptr;
    }
    return std::make_unique<PulseStream>(s, int(attr.tlength / frame_bytes));
}

} // namespace

std::string pcm_name_for(int device_id, bool capture) {
    if (device_id < 0)
        return "default";
    const auto devices = list_audio_devices(capture);
    return size_t(device_id) < devices.size() ? devices[size_t(device_id)].name : "default";
}

std::unique_ptr<SoundStream> open_alsa(const std::string& name, bool capture, int latency_ms,
                                       std::string* error) {
    snd_pcm_t* pcm = nullptr;
    int r = snd_pcm_open(&pcm, name.c_str(), capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK, 0);
    if (r >= 0)
        r = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate, 1,
                               unsigned(latency_ms) * 1000u);
    if (r >= 0 && capture)
        r = snd_pcm_start(pcm);
    if (r < 0) {
        if (error)
            *error = name + ": " + snd_strerror(r);
        if (pcm)
            snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaStream>(pcm, name);
}

std::unique_ptr<SoundStream> open_sound(int device_id, bool capture, int latency_ms, std::string* error) {
    const std::string name = pcm_name_for(device_id, capture);
    if (name.rfind(kPulseDevicePrefix, 0) == 0)
        return open_pulse(capture, latency_ms, error, name.c_str() + std::strlen(kPulseDevicePrefix));
    if (name == "default" || name == "pulse") {
        std::string pulse_error;
        if (auto s = open_pulse(capture, latency_ms, &pulse_error))
            return s;
        // No sound server, or it refused the stream (no such source): ALSA's own default has the last word,
        // and its error is the one reported.
    }
    return open_alsa(name, capture, latency_ms, error);
}

} // namespace voice
