// Speech devices (see pcm_stream.h).
#include "voice/pcm_stream.h"

#include <alsa/asoundlib.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "components/audio_devices.h"
#include "voice/capture_pacer.h"
#include "voice/capture_queue.h"
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
        catch_up();
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
    uint64_t take_skipped() override {
        const uint64_t n = skipped_;
        skipped_ = 0;
        return n;
    }

private:
    // Capture: a reader that stood still finds more than CaptureQueue::kMaxWaitingFrames recorded; the oldest
    // are dropped as CaptureQueue drops them (see there).
    void catch_up() {
        if (snd_pcm_stream(pcm_) != SND_PCM_STREAM_CAPTURE)
            return;
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0 || size_t(avail / kFrameSamples) <= CaptureQueue::kMaxWaitingFrames)
            return;
        const snd_pcm_uframes_t drop = snd_pcm_uframes_t(avail / kFrameSamples - CaptureQueue::kKeptFrames);
        const snd_pcm_sframes_t moved = snd_pcm_forward(pcm_, drop * kFrameSamples);
        if (moved > 0)
            skipped_ += uint64_t(moved) / kFrameSamples;
    }
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
    uint64_t skipped_ = 0; // frames dropped by catch_up and not yet taken
};

// A stream of the sound server with the server's own event loop run on the thread that reads or writes: the
// simple API runs that loop on a thread of its own, which wakes for every message of the server and then
// wakes the reader or writer; this way a frame costs one wake-up of one thread.
class PulseConnection : public SoundStream {
public:
    ~PulseConnection() override {
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_)
            pa_mainloop_free(loop_);
    }
    std::string name() const override { return "PulseAudio"; }

protected:
    // Connects to the server and makes the stream (not connected yet); false (error set) when it cannot.
    bool connect(const char* device, std::string* error) {
        device_ = device ? std::string(" ") + device : std::string();
        loop_ = pa_mainloop_new();
        if (!loop_)
            return fail("no event loop", error);
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "velmor");
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
            return fail(context_ ? pa_strerror(pa_context_errno(context_)) : "no context", error);
        if (!wait_until([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                        [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); }))
            return fail(pa_strerror(pa_context_errno(context_)), error);
        const pa_sample_spec format{PA_SAMPLE_S16LE, kSampleRate, 1};
        stream_ = pa_stream_new(context_, "speech", &format, nullptr);
        if (!stream_)
            return fail(pa_strerror(pa_context_errno(context_)), error);
        return true;
    }
    // After pa_stream_connect_*: waits until the stream is ready.
    bool wait_until_ready(std::string* error) {
        if (!wait_until([&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
                        [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); }))
            return fail(pa_strerror(pa_context_errno(context_)), error);
        return true;
    }

    bool fail(const char* why, std::string* error) const {
        if (error)
            *error = "PulseAudio" + device_ + ": " + why;
        return false;
    }

    // Runs the event loop (blocking) until `done`; false when `failed` or the loop fails first.
    template <typename Done, typename Failed> bool wait_until(Done done, Failed failed) {
        while (!done()) {
            if (failed() || pa_mainloop_iterate(loop_, 1, nullptr) < 0)
                return false;
        }
        return true;
    }

    static uint64_t now_us() {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return uint64_t(ts.tv_sec) * 1'000'000u + uint64_t(ts.tv_nsec) / 1000u;
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::string device_; // " name" of a named device, for messages
};

// Playback: a write waits in the event loop until the server asks for a frame (it asks for one frame at a
// time), then hands it over.
class PulsePlayback : public PulseConnection {
public:
    // Connects to `device` (the server's default sink when null) with about `latency_ms` of buffering; false
    // (error set) when it cannot.
    bool open(const char* device, int latency_ms, std::string* error) {
        if (!connect(device, error))
            return false;
        constexpr uint32_t kFrameBytes = kFrameSamples * 2;
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.prebuf = uint32_t(-1);
        attr.minreq = kFrameBytes;
        attr.tlength = std::max(uint32_t(latency_ms) * kSampleRate / 1000 * 2, 2 * kFrameBytes);
        attr.fragsize = uint32_t(-1);
        // The server sets the sink's own latency so that the whole delay is about tlength (without the flag
        // the sink's default latency comes on top).
        if (pa_stream_connect_playback(stream_, device, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) <
                0 ||
            !wait_until_ready(error))
            return fail(pa_strerror(pa_context_errno(context_)), error);
        prefill_frames_ = int(attr.tlength / kFrameBytes);
        return true;
    }

    bool read(int16_t*) override { return false; }
    bool write(const int16_t* frame) override {
        constexpr size_t kFrameBytes = kFrameSamples * 2;
        const uint64_t start = now_us();
        while (pa_stream_writable_size(stream_) < kFrameBytes) {
            if (pa_stream_get_state(stream_) != PA_STREAM_READY || now_us() - start > kGiveUpUs)
                return false; // the server is gone, or has not taken sound for seconds
            if (pa_mainloop_prepare(loop_, 100'000) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                return false;
        }
        return pa_stream_write(stream_, frame, kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) >= 0;
    }
    bool prefill() override {
        const Frame silence(kFrameSamples, 0);
        for (int i = 0; i < prefill_frames_; ++i)
            if (!write(silence.data()))
                return false;
        return true;
    }

private:
    // A sink that takes nothing for this long is gone.
    static constexpr uint64_t kGiveUpUs = 5'000'000;
    int prefill_frames_ = 2;
};

// Capture, paced by the clock: a read sleeps until its frame should be complete and then takes everything
// that arrived (a source may deliver every 5 ms; the deliveries of a frame are taken in one go), so that a
// frame usually costs one wake-up (see CapturePacer).
class PulseCapture : public PulseConnection {
public:
    // Connects and starts recording from `device` (the server's default source when null) with
    // `fragment_bytes` per delivery; false (error set) when it cannot.
    bool open(const char* device, uint32_t fragment_bytes, std::string* error) {
        if (!connect(device, error))
            return false;
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        attr.fragsize = fragment_bytes;
        if (pa_stream_connect_record(stream_, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0 ||
            !wait_until_ready(error))
            return fail(pa_strerror(pa_context_errno(context_)), error);
        return true;
    }

    bool read(int16_t* frame) override {
        Source source{*this};
        return pacer_.read(source, frame);
    }
    bool write(const int16_t*) override { return false; }
    bool prefill() override { return false; }
    uint64_t take_skipped() override { return queue_.take_skipped(); }

private:
    // What the pacer reads through (see CapturePacer::read).
    struct Source {
        PulseCapture& c;
        bool take_frame(int16_t* frame) { return c.queue_.take_frame(frame); }
        bool take_arrived() { return c.take_arrived(); }
        bool wait_for_delivery() {
            return pa_mainloop_prepare(c.loop_, 100'000) >= 0 && pa_mainloop_poll(c.loop_) >= 0 &&
                   pa_mainloop_dispatch(c.loop_) >= 0 && c.take_arrived();
        }
        uint64_t now_us() const { return PulseConnection::now_us(); }
        void sleep_until(uint64_t us) {
            const timespec at{time_t(us / 1'000'000), long(us % 1'000'000) * 1000};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
            }
        }
    };

    // Runs what the server has sent without blocking and moves the recorded bytes to the queue, which drops
    // what a reader that stood still can no longer send in time. False when the stream or the connection
    // has failed. Every call into the library costs a system call (its check for a fork): the pieces are
    // taken without asking for their size first, and the state of the stream is asked only when nothing
    // came.
    bool take_arrived() {
        while (pa_mainloop_iterate(loop_, 0, nullptr) > 0) {
        }
        bool took = false;
        for (;;) {
            const void* data = nullptr;
            size_t n = 0;
            if (pa_stream_peek(stream_, &data, &n) < 0)
                return false;
            if (n == 0)
                break; // nothing more
            // A hole in the recording (data null) is silence.
            queue_.append(static_cast<const uint8_t*>(data), n);
            pa_stream_drop(stream_);
            took = true;
        }
        if (!took && pa_stream_get_state(stream_) != PA_STREAM_READY)
            return false; // a stream that failed delivers nothing
        queue_.catch_up();
        return true;
    }

    CaptureQueue queue_;
    CapturePacer pacer_;
};

// Capture from ALSA in periods of one frame: a blocking read of a frame then wakes once (the usual set-up
// cuts `latency_ms` into four periods, four wake-ups a frame). The buffer holds several periods, so that a
// reader late for a moment loses nothing; the delay stays one period, since a frame is read as soon as it is
// complete. The period is not shorter than `latency_ms`.
int set_capture_params(snd_pcm_t* pcm, int latency_ms) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_uframes_t period =
        std::max<snd_pcm_uframes_t>(kFrameSamples, snd_pcm_uframes_t(latency_ms) * kSampleRate / 1000);
    snd_pcm_uframes_t buffer = period * 4;
    int r = snd_pcm_hw_params_any(pcm, hw);
    if (r >= 0)
        r = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
    if (r >= 0)
        r = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (r >= 0)
        r = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
    if (r >= 0)
        r = snd_pcm_hw_params_set_channels(pcm, hw, 1);
    if (r >= 0)
        r = snd_pcm_hw_params_set_rate(pcm, hw, kSampleRate, 0);
    int dir = 0;
    if (r >= 0)
        r = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    if (r >= 0)
        r = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if (r >= 0)
        r = snd_pcm_hw_params(pcm, hw);
    if (r < 0)
        return r;
    // A read returns once a whole period is there.
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    r = snd_pcm_sw_params_current(pcm, sw);
    if (r >= 0)
        r = snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    if (r >= 0)
        r = snd_pcm_sw_params(pcm, sw);
    return r;
}

std::unique_ptr<SoundStream> open_pulse(bool capture, int latency_ms, std::string* error,
                                        const char* device = nullptr) {
    if (capture) {
        auto s = std::make_unique<PulseCapture>();
        if (!s->open(device, kFrameSamples * 2, error))
            return nullptr;
        return s;
    }
    auto s = std::make_unique<PulsePlayback>();
    if (!s->open(device, latency_ms, error))
        return nullptr;
    return s;
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
    if (r >= 0 && capture)
        r = set_capture_params(pcm, latency_ms);
    else if (r >= 0)
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
