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

    // The receiver reads at its rate: every 5 ms what the rate allows since the start.
    std::vector<double> delays;
    std::atomic<int> next_line{0};
    std::thread reader([&] {
        framing::Decoder decoder;
        std::vector<uint8_t> buf(256 * 1024);
        const auto start = Clock::now();
        uint64_t taken = 0;
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
        std::this_thread::sleep_for(std::chrono::milliseconds(setup.line_interval_ms));
        talker.drain(0);
    }
    // The last line has a second to arrive.
    const auto deadline = Clock::now() + std::chrono::seconds(1);
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
    return run;
}
