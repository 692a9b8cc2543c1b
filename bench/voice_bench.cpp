// Speech between two users on this machine, through both local services and the room server:
//  - mouth-to-ear latency: tone bursts played into A's microphone (the monitor of the "mouth" sink) against
//    their arrival at B's speaker (the monitor of the speaker sink), both recorded in 5 ms pieces by this
//    program, p50 and p99 over the bursts;
//  - CPU of the sending and the receiving service while A speaks, as a share of one core;
//  - bytes a second on the wire during speech and during silence (DTX), counted by a third user.
// Runs under scripts/with-test-env, which provides the sound server and its sinks.
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "local_service_process.h"
#include "platform/process.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "temp_dir.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000, kChunk = 240; // 5 ms
constexpr int kBursts = 120, kBurstMs = 80, kPeriodMs = 400;

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

pa_simple* open_stream(pa_stream_direction_t dir, const char* device) {
    pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr{uint32_t(-1), uint32_t(kChunk * 2 * 4), uint32_t(-1), uint32_t(-1),
                        uint32_t(kChunk * 2)};
    int error = 0;
    pa_simple* s =
        pa_simple_new(nullptr, "voice-bench", dir, device, "bench", &format, nullptr, &attr, &error);
    if (!s) {
        std::fprintf(stderr, "voice_bench: %s: %s\n", device, pa_strerror(error));
        std::exit(1);
    }
    return s;
}

// Records a monitor in 5 ms pieces and notes when each burst starts (the first loud piece after quiet).
struct OnsetRecorder {
    const char* device = nullptr;
    std::vector<double> onsets; // seconds since t0
    std::atomic<bool> stop{false};
    void run(Clock::time_point t0) {
        pa_simple* s = open_stream(PA_STREAM_RECORD, device);
        std::vector<int16_t> chunk(kChunk);
        int quiet = 100;
        int error = 0;
        while (!stop) {
            if (pa_simple_read(s, chunk.data(), chunk.size() * 2, &error) < 0)
                break;
            double e = 0;
            for (int16_t v : chunk)
                e += double(v) * v;
            const bool loud = std::sqrt(e / kChunk) > 800;
            if (loud && quiet >= 20) // 100 ms of quiet before: a new burst
                onsets.push_back(seconds_since(t0));
            quiet = loud ? 0 : quiet + 1;
        }
        pa_simple_free(s);
    }
};

double percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

} // namespace

int main() {
    RoomServerProcess server;
    const uint16_t room_port = server.port();
    wait_until_listening(room_port);
    LocalServiceProcess a(room_port, {"PULSE_SOURCE=quorin_mouth.monitor", "PULSE_SINK=quorin_null"});
    LocalServiceProcess b(room_port, {"PULSE_SOURCE=quorin_mic", "PULSE_SINK=quorin_speaker"});
    RoomPeer teacher, student, counter;
    if (!teacher.connect(b.port()) || login_peer(teacher, 2, 5) != 0 || !student.connect(a.port()) ||
        login_peer(student, 1, 5) != 0 || !counter.connect(room_port) || login_peer(counter, 3, 5) != 0) {
        std::fprintf(stderr, "voice_bench: the users could not log in\n");
        return 1;
    }
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 1}.encode());
    student.wait_for(pkt::kRightsChange);
    student.send(pkt::kMicrophoneOn, proto::MicrophoneOn{uint32_t(-1)}.encode());

    // The third user counts voice bytes on the wire (with their frame headers) in one-second bins.
    std::atomic<bool> counting{true};
    std::mutex bins_mutex;
    std::vector<double> bins(200, 0);
    const auto t0 = Clock::now();
    std::thread count_thread([&] {
        while (counting) {
            auto p = counter.next(200);
            if (p && p->type == pkt::kVoice) {
                std::lock_guard lock(bins_mutex);
                bins[std::min<size_t>(size_t(seconds_since(t0)), bins.size() - 1)] +=
                    double(p->payload.size() + 6);
            }
        }
    });

    pa_simple* mouth = open_stream(PA_STREAM_PLAYBACK, "quorin_mouth");
    OnsetRecorder at_mouth, at_ear;
    at_mouth.device = "quorin_mouth.monitor";
    at_ear.device = "quorin_speaker.monitor";
    std::thread rec1([&] { at_mouth.run(t0); }), rec2([&] { at_ear.run(t0); });
    std::vector<int16_t> chunk(kChunk);
    uint64_t n = 0;
    int error = 0;
    auto play = [&](double seconds, auto sample) {
        for (int i = 0; i < int(seconds * kRate / kChunk); ++i) {
            for (int16_t& v : chunk) {
                v = int16_t(sample(n));
                ++n;
            }
            pa_simple_write(mouth, chunk.data(), chunk.size() * 2, &error);
        }
    };
    auto tone = [](uint64_t k) { return 8000 * std::sin(2 * M_PI * 440 * double(k) / kRate); };
    auto bursts = [&](uint64_t k) {
        const uint64_t in_period = k % uint64_t(kRate * kPeriodMs / 1000);
        return in_period < uint64_t(kRate * kBurstMs / 1000) ? tone(k) : 0.0;
    };

    // 1. Warm-up, then silence with the microphone on: what DTX leaves on the wire.
    play(2.0, tone);
    const double silence_from = seconds_since(t0) + 1;
    play(5.0, [](uint64_t) { return 0.0; });
    const double silence_to = seconds_since(t0);
    // 2. Continuous speech: bytes on the wire and CPU of both services.
    const double a0 = process_usage(a.pid()).cpu_seconds, b0 = process_usage(b.pid()).cpu_seconds;
    const double speech_from = seconds_since(t0) + 1;
    play(10.0, tone);
    const double speech_to = seconds_since(t0);
    const double a1 = process_usage(a.pid()).cpu_seconds, b1 = process_usage(b.pid()).cpu_seconds;
    play(1.0, [](uint64_t) { return 0.0; });
    // 3. Bursts for the latency.
    at_mouth.onsets.clear();
    at_ear.onsets.clear();
    play(kBursts * kPeriodMs / 1000.0, bursts);
    play(1.0, [](uint64_t) { return 0.0; });
    at_mouth.stop = at_ear.stop = true;
    rec1.join();
    rec2.join();
    counting = false;
    count_thread.join();
    pa_simple_free(mouth);

    std::vector<double> delays;
    size_t j = 0;
    for (double m : at_mouth.onsets) {
        while (j < at_ear.onsets.size() && at_ear.onsets[j] < m)
            ++j;
        if (j < at_ear.onsets.size() && at_ear.onsets[j] - m < kPeriodMs / 1000.0)
            delays.push_back((at_ear.onsets[j] - m) * 1000);
    }
    auto rate = [&](double from, double to) {
        std::lock_guard lock(bins_mutex);
        double total = 0;
        int count = 0;
        for (int s = int(std::ceil(from)); s < int(to); ++s, ++count)
            total += bins[size_t(s)];
        return count ? total / count : 0.0;
    };
    const double speech_s = speech_to - speech_from + 1;
    std::printf("voice, A's microphone to B's speaker through both services and the room server:\n");
    std::printf("  mouth-to-ear: %zu of %zu bursts heard, p50 %.0f ms, p99 %.0f ms (goal 80 / 150)\n",
                delays.size(), at_mouth.onsets.size(), percentile(delays, 0.5), percentile(delays, 0.99));
    std::printf(
        "  CPU while speaking: sending service %.2f %%, receiving service %.2f %% of a core (goal 1 %%)\n",
        (a1 - a0) / speech_s * 100, (b1 - b0) / speech_s * 100);
    std::printf("  on the wire: %.0f bytes/s during speech, %.0f bytes/s during silence (DTX)\n",
                rate(speech_from, speech_to), rate(silence_from, silence_to));
    return 0;
}
