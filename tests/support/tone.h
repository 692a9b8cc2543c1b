// Speech tests through the private PulseAudio of the test environment (scripts/with-test-env): a 440 Hz tone
// played into the "mouth" sink (a student's microphone) and the "speaker" sink recorded, with the checks of
// what was heard. Each call records or plays on its own PulseAudio stream.
#pragma once

#include <gtest/gtest.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// Power of one frequency in a signal (Goertzel), as a share of the signal's total power.
inline double goertzel_share(const int16_t* s, size_t n, double hz) {
    if (n == 0)
        return 0;
    const double w = 2 * M_PI * hz / 48000.0, coeff = 2 * std::cos(w);
    double q1 = 0, q2 = 0, total = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = s[i];
        const double q0 = coeff * q1 - q2 + v;
        q2 = q1;
        q1 = q0;
        total += v * v;
    }
    const double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
    return total > 0 ? power / (total * double(n) / 2) : 0;
}

// The tone's share over the sounding 100 ms windows (a window holds a whole number of 440 Hz periods' bins),
// and how many windows were silent.
struct ToneCheck {
    double share = 0;
    int sounding = 0, silent = 0;
};
inline ToneCheck tone_in(const std::vector<int16_t>& s, double hz) {
    ToneCheck c;
    const size_t w = 4800;
    double sum = 0;
    for (size_t at = 0; at + w <= s.size(); at += w) {
        double e = 0;
        for (size_t i = at; i < at + w; ++i)
            e += double(s[i]) * s[i];
        if (std::sqrt(e / double(w)) < 100) {
            ++c.silent;
            continue;
        }
        ++c.sounding;
        sum += goertzel_share(s.data() + at, w, hz);
    }
    c.share = c.sounding ? sum / c.sounding : 0;
    return c;
}

inline double rms(const std::vector<int16_t>& s) {
    double t = 0;
    for (int16_t v : s)
        t += double(v) * v;
    return s.empty() ? 0 : std::sqrt(t / double(s.size()));
}

// Plays a 440 Hz tone into a sink while it lives: into the "mouth" sink, whose monitor is the student's
// microphone, or (amplitude 0) silence into the speaker sink, which keeps that null sink running at a low
// latency as a real device runs (an idle null sink holds the next stream's start for about two seconds).
class TonePlayer {
public:
    TonePlayer(const char* sink, double amplitude)
        : sink_(sink), amplitude_(amplitude), thread_([this] { run(); }) {}
    ~TonePlayer() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
        pa_buffer_attr attr{uint32_t(-1), 960 * 2 * 3, uint32_t(-1), uint32_t(-1), uint32_t(-1)};
        int error = 0;
        pa_simple* s = pa_simple_new(nullptr, "voice-test", PA_STREAM_PLAYBACK, sink_, "tone", &format,
                                     nullptr, &attr, &error);
        if (!s) {
            ADD_FAILURE() << "cannot play the tone: " << pa_strerror(error);
            return;
        }
        std::vector<int16_t> frame(960);
        for (uint64_t n = 0; !stop_;) {
            for (int16_t& v : frame)
                v = int16_t(amplitude_ * std::sin(2 * M_PI * 440 * double(n++) / 48000.0));
            if (pa_simple_write(s, frame.data(), frame.size() * 2, &error) < 0)
                break;
        }
        pa_simple_free(s);
    }
    const char* sink_;
    double amplitude_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Opens the speaker sink's monitor for recording in pieces of 20 ms; null, with a failure added, when it
// cannot.
inline pa_simple* open_speaker_monitor() {
    pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = 960 * 2;
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "voice-test", PA_STREAM_RECORD, "quorin_speaker.monitor", "speaker",
                                 &format, nullptr, &attr, &error);
    if (!s)
        ADD_FAILURE() << "cannot record the speaker: " << pa_strerror(error);
    return s;
}

// Records the speaker sink's monitor from now until `done()` (or `done(recording so far)`) holds (asked every
// 100 ms of sound), and then `tail_ms` more for what was on its way; at most `max_ms` in all. `recording`,
// when given, is set once the recording runs.
template <typename Done>
std::vector<int16_t> record_speaker_until(Done done, int tail_ms, int max_ms,
                                          std::atomic<bool>* recording = nullptr) {
    pa_simple* s = open_speaker_monitor();
    if (recording)
        *recording = true;
    if (!s)
        return {};
    int error = 0;
    std::vector<int16_t> out;
    std::vector<int16_t> chunk(4800);
    size_t tail_end = 0;
    while (out.size() < size_t(48 * max_ms) && (tail_end == 0 || out.size() < tail_end)) {
        if (pa_simple_read(s, chunk.data(), chunk.size() * 2, &error) < 0) {
            ADD_FAILURE() << "recording failed: " << pa_strerror(error);
            break;
        }
        out.insert(out.end(), chunk.begin(), chunk.end());
        bool finished = false;
        if constexpr (std::is_invocable_v<Done, const std::vector<int16_t>&>)
            finished = tail_end == 0 && done(std::as_const(out));
        else
            finished = tail_end == 0 && done();
        if (finished)
            tail_end = out.size() + size_t(48 * tail_ms);
    }
    pa_simple_free(s);
    return out;
}

// Records `ms` of the speaker sink's monitor.
inline std::vector<int16_t> record_speaker(int ms) {
    pa_simple* s = open_speaker_monitor();
    if (!s)
        return {};
    int error = 0;
    std::vector<int16_t> out(size_t(48 * ms));
    if (pa_simple_read(s, out.data(), out.size() * 2, &error) < 0)
        ADD_FAILURE() << "recording failed: " << pa_strerror(error);
    pa_simple_free(s);
    return out;
}

// Records `ms` of the speaker again and again until a recording `holds` or `within_ms` has passed. The voice
// path takes a while to start or to stop after a change (the microphone opens, a jitter buffer fills or
// drains), and longer on a loaded machine, which also leaves gaps in a recording now and then: a check of one
// recording taken at a fixed moment would fail there.
template <typename Check> bool speaker_until(int ms, int within_ms, Check holds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms);
    for (;;) {
        const std::vector<int16_t> rec = record_speaker(ms);
        if (rec.empty())
            return false; // no recording at all (said by record_speaker)
        if (holds(rec))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

// The tone is heard: a recording of `ms` has sounding windows and the tone is most of what sounds.
inline bool heard_in(const std::vector<int16_t>& rec) {
    const ToneCheck t = tone_in(rec, 440);
    std::printf("speaker: rms %.0f, 440 Hz share %.3f over %d sounding windows, %d silent\n", rms(rec),
                t.share, t.sounding, t.silent);
    return t.sounding >= 3 && t.share > 0.5;
}

inline bool silent_in(const std::vector<int16_t>& rec) {
    std::printf("speaker: rms %.0f\n", rms(rec));
    return rms(rec) < 30;
}

// The tone reaches the speaker (soon after a change that lets it through).
inline bool hears_tone(int ms = 1500, int within_ms = 20000) {
    return speaker_until(ms, within_ms, heard_in);
}

// The speaker falls silent (soon after a change that stops the voice).
inline bool falls_silent(int ms = 1200, int within_ms = 20000) {
    return speaker_until(ms, within_ms, silent_in);
}

// The speaker is silent now: for what must never be heard at all.
inline bool silent(int ms = 1200) {
    return silent_in(record_speaker(ms));
}
