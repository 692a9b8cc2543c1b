// Speech between two users on this machine, through both local services and the room server:
//  - mouth-to-ear latency: tone bursts played into A's microphone (the monitor of the "mouth" sink) against
//    their arrival at B's speaker (the monitor of the speaker sink), both recorded in 5 ms pieces by this
//    program, p50 and p99 over the bursts;
//  - CPU of the sending and the receiving service while A speaks, as a share of one core (scheduler time of
//    all their threads, over three stretches: median and range);
//  - bytes a second on the wire during speech and during silence (DTX), counted by a third user;
//  - the same bursts from a second speaker whose service reaches the room server through a bad network (a
//    relay that delays its frames by a random jitter and drops some of its voice frames): mouth-to-ear p50
//    and p99 and the share of frames the listener's service concealed, beside the clean path's;
//  - the bursts after the sending and after the receiving service stood still for 300 ms during speech
//    (SIGSTOP, as a busy machine or a slow first start holds one): p50 and p99, beside the clean path's, show
//    whether the path's delay came back or a backlog stayed for the rest of the call.
// Runs under scripts/with-test-env, which provides the sound server and its sinks.
#include <netinet/in.h>
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "local_service_process.h"
#include "platform/process.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "spurt_totals.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

#include "process_figures.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000, kChunk = 240; // 5 ms
constexpr int kBursts = 120, kBurstMs = 80, kPeriodMs = 400;
constexpr int kStallMs = 300, kBurstsAfterStall = 30;
constexpr int kCpuStretches = 3;
constexpr double kCpuStretchSeconds = 5;

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

// Records a monitor in 5 ms pieces and notes when each burst starts (the first loud piece after quiet). The
// time is when the piece was recorded, not when this program read it: a reader held up on a busy machine
// finds pieces waiting in the sound server, which then come at the pace of the source for as long as the
// stream lasts, and would make every later onset look late by that much. The stream's own latency (the
// source's and what waits for this reader) is taken off.
struct OnsetRecorder {
    const char* device = nullptr;
    std::vector<double> onsets; // seconds since t0
    std::vector<double> waited; // ms each onset's piece waited for this reader
    std::mutex mutex;           // onsets, waited
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
            if (loud && quiet >= 20) { // 100 ms of quiet before: a new burst
                const double read_at = seconds_since(t0);
                const pa_usec_t latency = pa_simple_get_latency(s, &error);
                std::lock_guard lock(mutex);
                onsets.push_back(read_at - double(latency) / 1e6);
                waited.push_back(double(latency) / 1e3);
            }
            quiet = loud ? 0 : quiet + 1;
        }
        pa_simple_free(s);
    }
};

// A bad network between one user's service and the room server. Frames from the service are held for
// kBaseMs plus a random jitter (exponential, mean kJitterMs, at most kMaxJitterMs) and leave in order, as on
// one TCP connection; kLossPercent of its voice frames are dropped, as a lossy path drops datagrams. Frames
// towards the service pass at once. One connection at a time.
class BadNetworkRelay {
public:
    static constexpr int kBaseMs = 10, kJitterMs = 15, kMaxJitterMs = 200;
    static constexpr double kLossPercent = 3.0;

    explicit BadNetworkRelay(uint16_t upstream) : upstream_(upstream) {
        listen_fd_ = listen_on_loopback(&port_);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~BadNetworkRelay() {
        stop_ = true;
        queue_cv_.notify_all();
        for (int fd : {client_fd_.load(), server_fd_.load()})
            if (fd >= 0)
                shutdown(fd, SHUT_RDWR);
        acceptor_.join();
        close(listen_fd_);
    }
    uint16_t port() const { return port_; }
    uint64_t voice_seen() const { return voice_seen_; }
    uint64_t voice_dropped() const { return voice_dropped_; }

private:
    static bool write_all(int fd, const uint8_t* p, size_t n) {
        while (n > 0) {
            const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
            if (w <= 0)
                return false;
            p += w;
            n -= size_t(w);
        }
        return true;
    }

    void accept_loop() {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(upstream_);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                close(client);
                close(server);
                continue;
            }
            client_fd_ = client;
            server_fd_ = server;
            serve(client, server);
            client_fd_ = server_fd_ = -1;
            close(client);
            close(server);
        }
    }

    // Until either side closes: the room's frames go straight down, the service's wait and may be dropped.
    void serve(int client, int server) {
        std::thread down([&] {
            uint8_t buf[65536];
            for (;;) {
                const ssize_t n = recv(server, buf, sizeof buf, 0);
                if (n <= 0 || !write_all(client, buf, size_t(n)))
                    break;
            }
            shutdown(client, SHUT_RDWR);
        });
        std::thread out([&] {
            std::unique_lock lock(queue_mutex_);
            for (;;) {
                queue_cv_.wait(lock, [&] { return stop_ || closed_ || !queue_.empty(); });
                if (stop_ || (closed_ && queue_.empty()))
                    break;
                const Held held = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                std::this_thread::sleep_until(held.release);
                const bool ok = write_all(server, held.frame.data(), held.frame.size());
                lock.lock();
                if (!ok)
                    break;
            }
            shutdown(server, SHUT_RDWR);
        });
        std::mt19937 random(12345);
        std::exponential_distribution<double> jitter(1.0 / kJitterMs);
        std::uniform_real_distribution<double> coin(0, 100);
        std::vector<uint8_t> in;
        uint8_t buf[65536];
        Clock::time_point last_release{};
        bool broken = false;
        for (;;) {
            const ssize_t n = recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            in.insert(in.end(), buf, buf + n);
            // Whole frames: 4-byte length L, then L bytes starting with the 2-byte type.
            size_t at = 0;
            while (in.size() - at >= 6) {
                uint32_t length = 0;
                std::memcpy(&length, &in[at], 4);
                if (length < 2 || length > (1u << 20)) {
                    at = in.size(); // not this framing: the link is broken off below
                    broken = true;
                    break;
                }
                if (in.size() - at < 4 + size_t(length))
                    break;
                uint16_t type = 0;
                std::memcpy(&type, &in[at + 4], 2);
                const bool voice = type == pkt::kVoice;
                if (voice)
                    ++voice_seen_;
                if (voice && coin(random) < kLossPercent) {
                    ++voice_dropped_;
                } else {
                    const auto delay = std::chrono::microseconds(
                        int64_t((kBaseMs + std::min<double>(jitter(random), kMaxJitterMs)) * 1000));
                    last_release = std::max(last_release, Clock::now() + delay);
                    std::lock_guard lock(queue_mutex_);
                    queue_.push_back(
                        Held{last_release, {in.begin() + long(at), in.begin() + long(at + 4 + length)}});
                    queue_cv_.notify_all();
                }
                at += 4 + size_t(length);
            }
            in.erase(in.begin(), in.begin() + long(at));
            if (broken)
                break;
        }
        {
            std::lock_guard lock(queue_mutex_);
            closed_ = true;
        }
        queue_cv_.notify_all();
        shutdown(server, SHUT_RDWR);
        down.join();
        out.join();
        std::lock_guard lock(queue_mutex_);
        queue_.clear();
        closed_ = false;
    }

    struct Held {
        Clock::time_point release;
        std::vector<uint8_t> frame;
    };
    uint16_t upstream_;
    uint16_t port_ = 0;
    int listen_fd_ = -1;
    std::atomic<int> client_fd_{-1}, server_fd_{-1};
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> voice_seen_{0}, voice_dropped_{0};
    std::mutex queue_mutex_;
    std::condition_variable queue_cv_;
    std::deque<Held> queue_;
    bool closed_ = false; // the service's side ended (queue_mutex_)
    std::thread acceptor_;
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
    // The listener's service: what it played and concealed is read from its log lines (see spurt_totals.h).
    LocalServiceProcess b(room_port, {"PULSE_SOURCE=quorin_mic", "PULSE_SINK=quorin_speaker"});
    // The second speaker, behind the bad network.
    BadNetworkRelay relay(room_port);
    LocalServiceProcess a2(relay.port(), {"PULSE_SOURCE=quorin_mouth.monitor", "PULSE_SINK=quorin_null"});
    RoomPeer teacher, student, counter, student2;
    if (!teacher.connect(b.port()) || login_peer(teacher, 2, 5) != 0 || !student.connect(a.port()) ||
        login_peer(student, 1, 5) != 0 || !counter.connect(room_port) || login_peer(counter, 3, 5) != 0 ||
        !student2.connect(a2.port()) || login_peer(student2, 4, 5) != 0) {
        std::fprintf(stderr, "voice_bench: the users could not log in\n");
        return 1;
    }
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 1}.encode());
    student.wait_for(pkt::kRightsChange);
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{4, 1}.encode());
    student2.wait_for(pkt::kRightsChange);
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
    // 2. Continuous speech: bytes on the wire, and the CPU of both services over several stretches (the
    // spread says how much the shared machine moved the figure).
    const double speech_from = seconds_since(t0) + 1;
    std::vector<double> sender_cpu, receiver_cpu;
    for (int stretch = 0; stretch < kCpuStretches; ++stretch) {
        const double a0 = cpu_seconds(a.pid()), b0 = cpu_seconds(b.pid());
        const double from = seconds_since(t0);
        play(kCpuStretchSeconds, tone);
        const double seconds = seconds_since(t0) - from;
        sender_cpu.push_back((cpu_seconds(a.pid()) - a0) / seconds * 100);
        receiver_cpu.push_back((cpu_seconds(b.pid()) - b0) / seconds * 100);
    }
    const double speech_to = seconds_since(t0);
    play(1.0, [](uint64_t) { return 0.0; });
    // 3. Bursts for the latency.
    auto delays_of_bursts = [&](int count) {
        {
            std::lock_guard lock(at_mouth.mutex), lock2(at_ear.mutex);
            at_mouth.onsets.clear();
            at_ear.onsets.clear();
        }
        play(count * kPeriodMs / 1000.0, bursts);
        play(1.0, [](uint64_t) { return 0.0; });
        std::lock_guard lock(at_mouth.mutex), lock2(at_ear.mutex);
        std::vector<double> delays;
        size_t j = 0;
        for (double m : at_mouth.onsets) {
            while (j < at_ear.onsets.size() && at_ear.onsets[j] < m)
                ++j;
            if (j < at_ear.onsets.size() && at_ear.onsets[j] - m < kPeriodMs / 1000.0)
                delays.push_back((at_ear.onsets[j] - m) * 1000);
        }
        return std::make_pair(delays, at_mouth.onsets.size());
    };
    const auto before_clean = latest_spurt_totals(b.output());
    const auto [delays, bursts_played] = delays_of_bursts(kBursts);
    const auto after_clean = latest_spurt_totals(b.output());
    // 3b. A service stands still for a moment while A speaks; then the bursts again.
    auto stand_still = [&](pid_t pid) {
        play(0.5, tone);
        kill(pid, SIGSTOP);
        play(kStallMs / 1000.0, tone);
        kill(pid, SIGCONT);
        play(0.5, tone);
        play(1.0, [](uint64_t) { return 0.0; });
        return delays_of_bursts(kBurstsAfterStall).first;
    };
    const auto after_sender_stall = stand_still(a.pid());
    const auto after_receiver_stall = stand_still(b.pid());
    // 4. The same bursts from the speaker behind the bad network.
    student.send(pkt::kMicrophoneOff);
    student2.send(pkt::kMicrophoneOn, proto::MicrophoneOn{uint32_t(-1)}.encode());
    play(1.0, [](uint64_t) { return 0.0; });
    const auto [bad_delays, bad_bursts_played] = delays_of_bursts(kBursts);
    const auto after_bad = latest_spurt_totals(b.output());
    at_mouth.stop = at_ear.stop = true;
    rec1.join();
    rec2.join();
    counting = false;
    count_thread.join();
    pa_simple_free(mouth);

    auto rate = [&](double from, double to) {
        std::lock_guard lock(bins_mutex);
        double total = 0;
        int count = 0;
        for (int s = int(std::ceil(from)); s < int(to); ++s, ++count)
            total += bins[size_t(s)];
        return count ? total / count : 0.0;
    };
    std::printf("voice, A's microphone to B's speaker through both services and the room server:\n");
    // Frames concealed inside speech, as a share of the frames played and concealed, over a phase (-1 when
    // the listener's service said nothing about it). The pauses of DTX count too (after a short hangover the
    // sender sends nothing in them), so the clean path's share is the floor and the rest is the network's.
    const double clean_concealed = concealed_share(before_clean, after_clean, 1).value_or(-1);
    const double bad_concealed = concealed_share(after_clean, after_bad, 4).value_or(-1);
    double load[3] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        std::fclose(f);
    }
    std::printf("  (load average after the run %.2f %.2f %.2f)\n", load[0], load[1], load[2]);
    std::printf("  mouth-to-ear: %zu of %zu bursts heard, p50 %.0f ms, p99 %.0f ms (goal 80 / 150); "
                "concealed %.1f %% of the frames (the pauses of DTX)\n",
                delays.size(), bursts_played, percentile(delays, 0.5), percentile(delays, 0.99),
                clean_concealed);
    std::printf(
        "  through a bad network (delay %d ms + jitter, exponential, mean %d ms; %.0f %% of voice frames "
        "dropped, %llu of %llu): %zu of %zu bursts heard, p50 %.0f ms, p99 %.0f ms; concealed %.1f %% of "
        "the frames (%+.1f points over the clean path); p50 ratio to the clean path %.2f, p99 %.2f\n",
        BadNetworkRelay::kBaseMs, BadNetworkRelay::kJitterMs, BadNetworkRelay::kLossPercent,
        (unsigned long long)relay.voice_dropped(), (unsigned long long)relay.voice_seen(), bad_delays.size(),
        bad_bursts_played, percentile(bad_delays, 0.5), percentile(bad_delays, 0.99), bad_concealed,
        bad_concealed - clean_concealed, percentile(bad_delays, 0.5) / std::max(percentile(delays, 0.5), 1.0),
        percentile(bad_delays, 0.99) / std::max(percentile(delays, 0.99), 1.0));
    std::printf(
        "  after a service stood still for %d ms during speech, the next %d bursts: the sending one "
        "%zu heard, p50 %.0f ms, p99 %.0f ms; the receiving one %zu heard, p50 %.0f ms, p99 %.0f ms; p99 "
        "ratio to the clean path's p50 %.2f and %.2f\n",
        kStallMs, kBurstsAfterStall, after_sender_stall.size(), percentile(after_sender_stall, 0.5),
        percentile(after_sender_stall, 0.99), after_receiver_stall.size(),
        percentile(after_receiver_stall, 0.5), percentile(after_receiver_stall, 0.99),
        percentile(after_sender_stall, 0.99) / std::max(percentile(delays, 0.5), 1.0),
        percentile(after_receiver_stall, 0.99) / std::max(percentile(delays, 0.5), 1.0));
    std::printf(
        "  (the recorders' own lag, taken off each onset: mouth median %.0f, largest %.0f ms; ear median "
        "%.0f, largest %.0f ms)\n",
        percentile(at_mouth.waited, 0.5), percentile(at_mouth.waited, 1), percentile(at_ear.waited, 0.5),
        percentile(at_ear.waited, 1));
    auto spread = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        char text[64];
        std::snprintf(text, sizeof text, "%.2f %% (%.2f-%.2f)", v[v.size() / 2], v.front(), v.back());
        return std::string(text);
    };
    std::printf(
        "  CPU while speaking, share of a core over %d stretches of %.0f s, median (min-max): sending "
        "service %s, receiving service %s (goal 1 %%)\n",
        kCpuStretches, kCpuStretchSeconds, spread(sender_cpu).c_str(), spread(receiver_cpu).c_str());
    std::printf("  on the wire: %.0f bytes/s during speech, %.0f bytes/s during silence (DTX)\n",
                rate(speech_from, speech_to), rate(silence_from, silence_to));
    return 0;
}
