// Scripted load (see load_run.h).
#include "bots/load_run.h"

#include <asio.hpp>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "components/framed_socket.h"
#include "platform/process.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace bots {
namespace {

using Clock = std::chrono::steady_clock;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Chat lines carry "L<send time in ns>" as their text; video frames their send time in the first 8 bytes.
constexpr char kChatMark = 'L';

struct Bot {
    uint32_t user = 0, room = 0;
    std::shared_ptr<FramedSocket> socket;
    bool camera = false;
    bool speaker = false;
    uint64_t frames_sent = 0;
    uint64_t voice_sent = 0;
    int watchers = 0;
};

// What the receivers record; touched only on the I/O thread until the run ends.
struct Tally {
    uint64_t chat = 0, video = 0, voice = 0;
    std::vector<double> chat_ms, video_ms, voice_ms;
};

// CPU and memory of the room servers together.
ProcessUsage usage_of(const LoadConfig& c) {
    ProcessUsage sum = process_usage(c.server_pid);
    for (int pid : c.more_pids) {
        const ProcessUsage u = process_usage(pid);
        sum.cpu_seconds += u.cpu_seconds;
        sum.rss_kb += u.rss_kb;
    }
    return sum;
}

Percentiles percentiles(std::vector<double>& v) {
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size())))]; };
    return {at(0.5), at(0.99)};
}

} // namespace

LoadReport run_load(const LoadConfig& config, std::string* error) {
    LoadReport report;
    asio::io_context io;
    auto guard = asio::make_work_guard(io);
    std::thread io_thread([&] { io.run(); });
    Tally tally;
    std::atomic<int> logged_in{0}, refused{0}, granted{0};
    std::vector<Bot> bots;
    // Rights each user holds as its login was answered: the host of a room is whoever the room made host
    // (through a cluster, the first login to reach the room's home, not necessarily the first one sent).
    std::vector<std::atomic<uint32_t>> login_rights(
        size_t(std::max(0, config.rooms * config.users_per_room)));

    asio::ip::tcp::resolver resolver(io);
    std::error_code ec;
    std::vector<asio::ip::tcp::resolver::results_type> servers;
    servers.push_back(resolver.resolve(config.host, std::to_string(config.port), ec));
    for (const auto& [host, port] : config.more_servers)
        if (!ec)
            servers.push_back(resolver.resolve(host, std::to_string(port), ec));
    const auto& endpoints = servers.front();
    auto finish = [&](const std::string& why) {
        if (error)
            *error = why;
        for (Bot& b : bots)
            if (b.socket)
                b.socket->close();
        guard.reset();
        io.stop();
        io_thread.join();
        return LoadReport{};
    };
    if (ec || endpoints.empty())
        return finish("cannot resolve " + config.host + ": " + ec.message());

    // Logs in at most this many at a time: the server admits only a few waiting logins per address.
    constexpr int kLoginBatch = 16;
    for (int r = 0; r < config.rooms; ++r)
        for (int u = 0; u < config.users_per_room; ++u) {
            Bot b;
            b.room = config.first_room + uint32_t(r);
            b.user = config.first_user + uint32_t(r * config.users_per_room + u);
            b.camera = u >= 1 && u <= config.cameras_per_room;
            // The speakers are the last users of the room, so that they are not also the cameras.
            b.speaker = u >= config.users_per_room - config.speakers_per_room && u >= 1;
            bots.push_back(b);
        }
    for (size_t i = 0; i < bots.size(); ++i) {
        Bot& b = bots[i];
        asio::ip::tcp::socket s(io);
        const size_t server = (size_t(b.user - config.first_user) % size_t(config.users_per_room) +
                               size_t(b.room - config.first_room)) %
                              servers.size();
        asio::connect(s, servers[server], ec);
        if (ec)
            return finish("cannot connect to room server " + std::to_string(server) + ": " + ec.message());
        b.socket = std::make_shared<FramedSocket>(std::move(s));
        b.socket->start(
            [&tally, &logged_in, &refused, &granted, rights = &login_rights[i],
             user = b.user](uint16_t type, const uint8_t* p, uint32_t n) {
                const int64_t t = now_ns();
                if (type == pkt::kLoginResult) {
                    auto r = proto::LoginResult::decode(p, n);
                    (r && r->result == 0 ? logged_in : refused)++;
                    if (r && r->result == 0)
                        rights->store(r->rights);
                } else if (type == pkt::kRightsChange) {
                    auto r = proto::RightsChange::decode(p, n);
                    if (r && r->user_id == user && r->operation == pkt::kRightsAdd &&
                        (r->rights & pkt::kRightSpeak))
                        ++granted;
                } else if (type == pkt::kChatMessage) {
                    auto line = proto::ChatLine::decode(p, n);
                    if (line && line->text.size() > 1 && line->text[0] == kChatMark) {
                        ++tally.chat;
                        tally.chat_ms.push_back(double(t - std::stoll(line->text.substr(1))) / 1e6);
                    }
                } else if (type == pkt::kVoice) {
                    auto v = proto::VoicePacket::decode(p, n);
                    if (v && v->opus.size() >= 8) {
                        int64_t sent;
                        std::memcpy(&sent, v->opus.data(), 8);
                        ++tally.voice;
                        tally.voice_ms.push_back(double(t - sent) / 1e6);
                    }
                } else if (type == pkt::kVideoFrame) {
                    // Only the send time is read: the receiving side of the run stays cheap beside the
                    // server it measures.
                    if (n >= proto::VideoFrame::kHeader + 8) {
                        int64_t sent;
                        std::memcpy(&sent, p + proto::VideoFrame::kHeader, 8);
                        ++tally.video;
                        tally.video_ms.push_back(double(t - sent) / 1e6);
                    }
                }
            },
            [](const std::string&) {});
        proto::Login login;
        login.user_id = b.user;
        login.room_id = b.room;
        login.timestamp = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
        b.socket->send_frame(framing::make_frame(pkt::kLogin, login.encode()), false);
        if ((i + 1) % kLoginBatch == 0 || i + 1 == bots.size()) {
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (size_t(logged_in + refused) < i + 1 && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (refused > 0 || size_t(logged_in) < i + 1)
                return finish(std::to_string(i + 1 - size_t(logged_in)) + " of " + std::to_string(i + 1) +
                              " users could not log in");
        }
    }
    report.logged_in = logged_in;

    // Each user watches the next few cameras of its room (not its own).
    for (int r = 0; r < config.rooms; ++r) {
        const size_t base = size_t(r * config.users_per_room);
        for (int u = 0; u < config.users_per_room && config.cameras_per_room > 0; ++u) {
            int picked = 0;
            for (int k = 0; k < config.cameras_per_room && picked < config.watched_per_user; ++k) {
                const int cam = 1 + (u + k) % config.cameras_per_room;
                if (cam == u || cam >= config.users_per_room)
                    continue;
                Bot& target = bots[base + size_t(cam)];
                bots[base + size_t(u)].socket->send_frame(
                    framing::make_frame(pkt::kWatchVideo, proto::WatchVideo{target.user, 1}.encode()), false);
                ++target.watchers;
                ++picked;
            }
        }
    }
    // The host of each room grants its speakers the right to speak; they switch their microphones on.
    int speakers = 0;
    for (size_t i = 0; i < bots.size(); ++i) {
        if (!bots[i].speaker)
            continue;
        ++speakers;
        if (login_rights[i].load() & pkt::kRightSpeak) {
            ++granted; // the room's host speaks by its own right
            continue;
        }
        const size_t first = i - i % size_t(config.users_per_room);
        size_t host = first;
        for (size_t k = first; k < first + size_t(config.users_per_room); ++k)
            if (login_rights[k].load() & pkt::kRightHost) {
                host = k;
                break;
            }
        bots[host].socket->send_frame(
            framing::make_frame(pkt::kSpeakControl, proto::SpeakControl{bots[i].user, 1}.encode()), false);
    }
    // As the client does: the microphone goes on once the grant has arrived (through a cluster, a request
    // sent a fixed time after the grant can reach the room before the grant does).
    const auto granted_by = Clock::now() + std::chrono::seconds(10);
    while (granted < speakers && Clock::now() < granted_by)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    report.speakers = speakers;
    report.speakers_granted = granted;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (Bot& b : bots)
        if (b.speaker)
            b.socket->send_frame(framing::make_frame(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode()),
                                 false);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // The run: one tick a millisecond sends whatever is due.
    const ProcessUsage first = usage_of(config);
    ProcessUsage early{}, late{};
    bool early_taken = false, late_taken = false;
    const auto start = Clock::now();
    const double tenth = config.seconds / 10;
    uint64_t chat_sent = 0;
    uint64_t chat_index = 0;
    proto::VideoFrame frame;
    frame.frame.assign(std::max<size_t>(config.frame_bytes, 8), 0x5A);
    frame.key_frame = 1;
    std::vector<Bot*> cameras;
    for (Bot& b : bots)
        if (b.camera)
            cameras.push_back(&b);
    uint64_t voice_tick = 0;
    proto::VoicePacket voice_packet;
    voice_packet.opus.assign(60, 0x33); // about a 24 kbit/s Opus frame
    const double chat_interval = config.chat_per_second > 0 ? 1.0 / config.chat_per_second : 1e9;
    double next_chat = 0;
    ProcessUsage late_begin{};
    double late_begin_at = 0;
    for (;;) {
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (t >= config.seconds)
            break;
        if (!early_taken && t >= tenth) {
            early = usage_of(config);
            early_taken = true;
        }
        if (!late_taken && t >= config.seconds - tenth) {
            late_begin = usage_of(config);
            late_begin_at = t;
            late_taken = true;
        }
        // Video: every camera at its rate, each at its own moment within the frame interval, as cameras
        // that were switched on at different times are (all of them at once would measure the burst).
        for (size_t c = 0; c < cameras.size() && config.fps > 0; ++c) {
            Bot& b = *cameras[c];
            const double phase = double(c) / double(cameras.size());
            while ((double(b.frames_sent) + phase) / config.fps <= t) {
                const int64_t sent = now_ns();
                std::memcpy(frame.frame.data(), &sent, 8);
                frame.user_id = b.user;
                frame.room_id = b.room;
                b.socket->send_frame(framing::make_frame(pkt::kVideoFrame, frame.encode()), true);
                ++b.frames_sent;
            }
        }
        // Voice: every speaker each 20 ms.
        while (config.speakers_per_room > 0 && double(voice_tick) * 0.02 <= t) {
            for (Bot& b : bots) {
                if (!b.speaker)
                    continue;
                const int64_t sent = now_ns();
                std::memcpy(voice_packet.opus.data(), &sent, 8);
                voice_packet.sequence = uint32_t(voice_tick);
                b.socket->send_frame(framing::make_frame(pkt::kVoice, voice_packet.encode()), false);
                ++b.voice_sent;
            }
            ++voice_tick;
        }
        // Chat: each room's lines in turn from its users, round robin.
        while (config.chat_per_second > 0 && next_chat <= t) {
            for (int r = 0; r < config.rooms; ++r) {
                Bot& from =
                    bots[size_t(r * config.users_per_room) + chat_index % size_t(config.users_per_room)];
                proto::ChatLine line;
                line.sender = from.user;
                line.text = kChatMark + std::to_string(now_ns());
                from.socket->send_frame(framing::make_frame(pkt::kChat, line.encode()), false);
                ++chat_sent;
            }
            ++chat_index;
            next_chat += chat_interval;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    late = usage_of(config);
    const double late_span = std::chrono::duration<double>(Clock::now() - start).count() - late_begin_at;
    // What is still on its way arrives within a second.
    std::this_thread::sleep_for(std::chrono::seconds(1));

    for (Bot& b : bots)
        b.socket->close();
    guard.reset();
    io.stop();
    io_thread.join();

    report.chat_expected = chat_sent * uint64_t(config.users_per_room - 1);
    for (const Bot& b : bots) {
        report.video_expected += b.frames_sent * uint64_t(b.watchers);
        report.voice_expected += b.voice_sent * uint64_t(config.users_per_room - 1);
    }
    report.voice_received = tally.voice;
    report.voice_ms = percentiles(tally.voice_ms);
    report.chat_received = tally.chat;
    report.video_received = tally.video;
    report.chat_ms = percentiles(tally.chat_ms);
    report.video_ms = percentiles(tally.video_ms);
    if (config.server_pid > 0) {
        report.cpu_start = (early.cpu_seconds - first.cpu_seconds) / tenth;
        report.cpu_end = late_span > 0 ? (late.cpu_seconds - late_begin.cpu_seconds) / late_span : 0;
        report.rss_start_kb = early.rss_kb;
        report.rss_end_kb = late.rss_kb;
    }
    return report;
}

std::string format_report(const LoadConfig& c, const LoadReport& r) {
    char buf[1024];
    auto frac = [](uint64_t got, uint64_t want) { return want ? double(got) / double(want) : 1.0; };
    std::snprintf(
        buf, sizeof buf,
        "%d room(s) x %d users, %d cameras a room at %d/s (%zu B), %.0f chat lines/s a room, %d "
        "speakers a room, %.0f s\n"
        "  chat:  delivered %.4f (%llu of %llu)  p50 %.2f ms  p99 %.2f ms\n"
        "  video: delivered %.4f (%llu of %llu)  p50 %.2f ms  p99 %.2f ms\n"
        "  voice: delivered %.4f (%llu of %llu)  p50 %.2f ms  p99 %.2f ms; %d of %d speakers granted\n"
        "  server: CPU %.1f %% of a core at the start, %.1f %% at the end; memory %ld kB -> %ld kB\n",
        c.rooms, c.users_per_room, c.cameras_per_room, c.fps, c.frame_bytes, c.chat_per_second,
        c.speakers_per_room, c.seconds, frac(r.chat_received, r.chat_expected),
        (unsigned long long)r.chat_received, (unsigned long long)r.chat_expected, r.chat_ms.p50,
        r.chat_ms.p99, frac(r.video_received, r.video_expected), (unsigned long long)r.video_received,
        (unsigned long long)r.video_expected, r.video_ms.p50, r.video_ms.p99,
        frac(r.voice_received, r.voice_expected), (unsigned long long)r.voice_received,
        (unsigned long long)r.voice_expected, r.voice_ms.p50, r.voice_ms.p99, r.speakers_granted, r.speakers,
        r.cpu_start * 100, r.cpu_end * 100, r.rss_start_kb, r.rss_end_kb);
    return buf;
}

} // namespace bots
