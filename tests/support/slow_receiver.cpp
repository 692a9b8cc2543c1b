// Slow receiver (see slow_receiver.h).
#include "slow_receiver.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "room_peer.h"
#include "wire/framing.h"
#include "wire/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

SlowReceiverRun run_slow_receiver(uint16_t port, const SlowReceiverSetup& setup) {
    SlowReceiverRun run;
    run.cameras = setup.cameras;
    run.read_bytes_per_second = setup.read_bytes_per_second;
    constexpr uint32_t kRoom = 77;
    const uint32_t kReceiver = setup.first_user, kTalker = kReceiver + 1, kFirstCamera = kReceiver + 10;

    RoomPeer receiver, talker;
    receiver.set_receive_buffer(setup.receive_buffer);
    if (!receiver.connect(port) || login_peer(receiver, kReceiver, kRoom) != 0)
        return run;
    if (!talker.connect(port) || login_peer(talker, kTalker, kRoom) != 0)
        return run;
    std::vector<std::unique_ptr<RoomPeer>> cameras;
    for (int i = 0; i < setup.cameras; ++i) {
        auto c = std::make_unique<RoomPeer>();
        if (!c->connect(port) || login_peer(*c, kFirstCamera + uint32_t(i), kRoom) != 0)
            return run;
        receiver.send(pkt::kWatchVideo, proto::WatchVideo{kFirstCamera + uint32_t(i), 1}.encode());
        if (!c->wait_for(pkt::kVideoWanted, 3000))
            return run;
        cameras.push_back(std::move(c));
    }

    std::atomic<bool> done{false};
    // The cameras: each sends its frames at its rate; nothing they receive matters.
    std::vector<std::thread> senders;
    for (auto& c : cameras) {
        senders.emplace_back([&, peer = c.get()] {
            proto::VideoFrame f;
            f.frame.assign(size_t(setup.frame_bytes), 0x5A);
            f.key_frame = 1;
            const auto payload = f.encode();
            const auto period = std::chrono::microseconds(1000000 / setup.frames_per_second);
            auto next = Clock::now();
            while (!done) {
                peer->send(pkt::kVideoFrame, payload);
                next += period;
                std::this_thread::sleep_until(next);
                peer->drain(0);
            }
        });
    }

    // The receiver reads at its rate: every 5 ms what the rate allows since the start. It counts the bytes
    // it has read; the talker notes that count right after sending each line, and the reader the count up to
    // each line's end: what came in between was ahead of the line.
    std::vector<double> delays;
    std::atomic<int> next_line{0};
    std::atomic<uint64_t> taken{0};
    constexpr uint64_t kUnknown = ~uint64_t(0);
    std::vector<std::atomic<uint64_t>> sent_at(size_t(std::max(setup.lines, 0)));
    std::vector<uint64_t> read_at(sent_at.size(), kUnknown);
    for (auto& a : sent_at)
        a = kUnknown;
    std::thread reader([&] {
        framing::Decoder decoder;
        std::vector<uint8_t> buf(256 * 1024);
        const auto start = Clock::now();
        uint64_t framed = 0; // the stream's bytes up to the end of the last whole frame
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const uint64_t allowed = uint64_t(elapsed * setup.read_bytes_per_second);
            while (taken < allowed) {
                const size_t want = std::min<uint64_t>(buf.size(), allowed - taken);
                const ssize_t n = recv(receiver.fd(), buf.data(), want, MSG_DONTWAIT);
                if (n <= 0)
                    break;
                taken += uint64_t(n);
                const int64_t at = now_us();
                decoder.feed(buf.data(), size_t(n), [&](uint16_t type, const uint8_t* p, uint32_t size) {
                    framed += framing::kHeaderSize + size;
                    if (type == pkt::kVideoFrame) {
                        ++run.video_frames;
                        run.video_bytes += size;
                    } else if (type == pkt::kChatMessage) {
                        auto line = proto::ChatLine::decode(p, size);
                        if (!line)
                            return;
                        // "<number> <send time in microseconds>"
                        const int number = std::atoi(line->text.c_str());
                        const size_t space = line->text.find(' ');
                        const int64_t sent =
                            space == std::string::npos ? at : std::atoll(line->text.c_str() + space + 1);
                        if (number != next_line)
                            ++run.lines_out_of_order;
                        if (number >= 0 && size_t(number) < read_at.size())
                            read_at[size_t(number)] = framed;
                        next_line = number + 1;
                        delays.push_back(double(at - sent) / 1000.0);
                    }
                });
            }
        }
    });

    std::this_thread::sleep_for(std::chrono::milliseconds(setup.settle_ms));
    for (int i = 0; i < setup.lines; ++i) {
        proto::ChatLine line;
        line.text = std::to_string(i) + " " + std::to_string(now_us());
        talker.send(pkt::kChat, line.encode());
        sent_at[size_t(i)] = taken.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(setup.line_interval_ms));
        talker.drain(0);
    }
    // The last line may still be on its way behind video (a loaded machine reads late); a line that was lost
    // never comes.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline && next_line < setup.lines)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    done = true;
    reader.join();
    for (auto& t : senders)
        t.join();

    run.lines_received = int(delays.size());
    run.p50_ms = percentile(delays, 0.50);
    run.p99_ms = percentile(delays, 0.99);
    run.max_ms = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
    std::vector<double> ahead;
    for (size_t i = 0; i < read_at.size(); ++i) {
        const uint64_t sent = sent_at[i];
        if (sent == kUnknown || read_at[i] == kUnknown)
            continue;
        // A talker held up right after its send notes a count past the line: nothing was ahead of it.
        ahead.push_back(read_at[i] > sent ? double(read_at[i] - sent) : 0.0);
    }
    run.ahead_p50_bytes = percentile(ahead, 0.50);
    run.ahead_p99_bytes = percentile(ahead, 0.99);
    run.ahead_max_bytes = ahead.empty() ? 0 : *std::max_element(ahead.begin(), ahead.end());
    return run;
}
