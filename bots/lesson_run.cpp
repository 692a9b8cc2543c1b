// Scripted lesson (see lesson_run.h).
#include "bots/lesson_run.h"

#include <asio.hpp>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "chat/chat_codes.h"
#include "components/framed_socket.h"
#include "platform/text.h"
#include "video/capture.h"
#include "video/video_codec.h"
#include "voice/opus_codec.h"
#include "voice/voice_session.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace bots {

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGrantAfter = 2.0, kGrantFor = 10.0, kReplyAfter = 1.0;
constexpr int kFps = 15;

std::vector<uint8_t> chat_text(const std::string& utf8) {
    std::vector<chat::Piece> pieces;
    for (const TextPiece& p : split_faces(utf8)) {
        chat::Piece c;
        if (p.face >= 0) {
            c.kind = chat::Piece::Face;
            c.face = p.face;
        } else {
            c.text = utf8_to_gbk(p.text);
        }
        pieces.push_back(c);
    }
    return chat::Encode(pieces);
}

struct Bot {
    ScenarioUser user;
    std::shared_ptr<FramedSocket> socket;
    bool joined = false;
    bool camera_on = false;
    bool watched = false;    // the room wants its video
    bool key_wanted = false; // a new watcher needs a key frame
    uint32_t frame = 0;
    double next_frame_at = 0;
    std::unique_ptr<VideoEncoder> encoder;
    std::vector<int16_t> speech; // what is being spoken
    size_t spoken = 0;
    uint32_t voice_sequence = 0;
    double next_voice_at = 0;
    std::unique_ptr<voice::VoiceEncoder> voice;
};

// Something the room did that a bot answers later (on the timeline thread).
struct Reaction {
    double at = 0;
    enum Kind { Grant, Withdraw, Reply } kind = Grant;
    uint32_t bot = 0, other = 0;
};

class Lesson {
public:
    Lesson(const Scenario& s, const LessonConfig& c) : scenario_(s), config_(c) {
        for (const auto& u : s.users)
            bots_[u.id].user = u;
    }
    ~Lesson() {
        for (auto& [id, b] : bots_)
            if (b.socket)
                b.socket->close();
        guard_.reset();
        io_.stop();
        if (io_thread_.joinable())
            io_thread_.join();
    }

    bool run(std::string* error) {
        io_thread_ = std::thread([this] { io_.run(); });
        asio::ip::tcp::resolver resolver(io_);
        std::error_code ec;
        endpoints_ = resolver.resolve(config_.host, std::to_string(config_.port), ec);
        if (ec || endpoints_.empty()) {
            *error = "cannot resolve " + config_.host + ": " + ec.message();
            return false;
        }
        // The room server must be there at the start; later failures only make users drop out.
        asio::ip::tcp::socket probe(io_);
        asio::connect(probe, endpoints_, ec);
        if (ec) {
            *error = "cannot connect to " + config_.host + ":" + std::to_string(config_.port) + ": " +
                     ec.message();
            return false;
        }
        probe.close(ec);
        const auto start = Clock::now();
        double cycle_start = 0;
        size_t next_event = 0;
        for (;;) {
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if ((config_.stop && *config_.stop) || (config_.seconds > 0 && t >= config_.seconds))
                break;
            while (next_event < scenario_.events.size() && scenario_.events[next_event].at <= t - cycle_start)
                perform(scenario_.events[next_event++], t);
            if (next_event == scenario_.events.size() && scenario_.repeat > 0 &&
                t - cycle_start >= scenario_.repeat) {
                cycle_start += scenario_.repeat;
                next_event = 0;
            }
            react(t);
            send_media(t);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    void log(const std::string& line) {
        if (config_.log)
            config_.log(line);
    }

    void send(Bot& b, uint16_t type, const proto::Bytes& payload, bool droppable = false) {
        if (b.socket && b.socket->is_open())
            b.socket->send_frame(framing::make_frame(type, payload), droppable);
    }

    void join(Bot& b) {
        if (b.joined && b.socket && b.socket->is_open())
            return;
        asio::ip::tcp::socket s(io_);
        std::error_code ec;
        asio::connect(s, endpoints_, ec);
        if (ec) {
            log("user " + std::to_string(b.user.id) + " cannot join: " + ec.message());
            return;
        }
        const uint32_t id = b.user.id;
        b.socket = std::make_shared<FramedSocket>(std::move(s));
        b.socket->start(
            [this, id](uint16_t type, const uint8_t* p, uint32_t n) { on_packet(id, type, p, n); },
            [this, id](const std::string& why) { log("user " + std::to_string(id) + ": " + why); });
        proto::Login login;
        login.user_id = id;
        login.room_id = scenario_.room;
        login.timestamp = std::time(nullptr);
        send(b, pkt::kLogin, login.encode());
        b.joined = true;
        b.watched = false;
        if (b.camera_on)
            announce_camera(b, true);
    }

    void leave(Bot& b) {
        if (b.socket)
            b.socket->close();
        b.socket.reset();
        b.joined = false;
        b.watched = false;
    }

    void announce_camera(Bot& b, bool on) {
        proto::CameraState state;
        if (on)
            state.stream = {kFourccXvid, uint16_t(capture::kWidth), uint16_t(capture::kHeight), 24};
        send(b, pkt::kCameraState, state.encode());
    }

    void chat(Bot& b, uint32_t target, bool is_private, const std::string& utf8) {
        proto::ChatLine line;
        line.sender = b.user.id;
        line.target = is_private ? target : pkt::kEveryone;
        line.private_flag = is_private ? 1 : 0;
        line.colour = b.user.host ? 0x00A05000 : 0x00303030;
        const auto text = chat_text(utf8);
        line.text.assign(text.begin(), text.end() - 1); // without its terminator, which encode adds
        send(b, pkt::kChat, line.encode());
    }

    void perform(const ScenarioEvent& e, double t) {
        Bot& b = bots_[e.user];
        switch (e.action) {
        case ScenarioEvent::Join:
            join(b);
            break;
        case ScenarioEvent::Leave:
            leave(b);
            break;
        case ScenarioEvent::Hand:
            send(b, pkt::kSpeakRequest, {});
            break;
        case ScenarioEvent::CameraOn:
        case ScenarioEvent::CameraOff:
            b.camera_on = e.action == ScenarioEvent::CameraOn;
            announce_camera(b, b.camera_on);
            break;
        case ScenarioEvent::Say:
            chat(b, 0, false, e.text);
            break;
        case ScenarioEvent::Whisper:
            if (e.to_client && config_.client_user == 0)
                break;
            chat(b, e.to_client ? config_.client_user : e.target, true, e.text);
            break;
        case ScenarioEvent::Speak:
            b.speech = speech_for(e.text);
            b.spoken = 0;
            b.next_voice_at = t;
            if (!b.voice)
                b.voice = std::make_unique<voice::VoiceEncoder>();
            send(b, pkt::kMicrophoneOn, proto::MicrophoneOn{uint32_t(-1)}.encode());
            break;
        }
    }

    // I/O thread: what a bot hears.
    void on_packet(uint32_t id, uint16_t type, const uint8_t* p, uint32_t n) {
        std::lock_guard lock(mutex_);
        const Bot& me = bots_[id];
        if (type == pkt::kVideoWanted) {
            if (auto w = proto::VideoWanted::decode(p, n))
                wanted_[id] = w->wanted != 0;
        } else if (type == pkt::kSpeakRequest && me.user.host) {
            if (auto r = proto::SpeakRequest::decode(p, n))
                pending_.push_back({-1, Reaction::Grant, id, r->user_id});
        } else if (type == pkt::kChatMessage) {
            auto line = proto::ChatLine::decode(p, n);
            if (line && line->private_flag && !scenario_.user(line->sender))
                pending_.push_back({-1, Reaction::Reply, id, line->sender});
        }
    }

    void react(double t) {
        std::vector<Reaction> due;
        {
            std::lock_guard lock(mutex_);
            for (auto& [id, w] : wanted_) {
                bots_[id].watched = w;
                bots_[id].key_wanted = bots_[id].key_wanted || w;
            }
            wanted_.clear();
            for (auto& r : pending_) {
                if (r.at < 0)
                    r.at = t + (r.kind == Reaction::Reply ? kReplyAfter : kGrantAfter);
                if (r.at <= t)
                    due.push_back(r);
            }
            std::erase_if(pending_, [t](const Reaction& r) { return r.at >= 0 && r.at <= t; });
        }
        for (const Reaction& r : due) {
            Bot& b = bots_[r.bot];
            switch (r.kind) {
            case Reaction::Grant:
                send(b, pkt::kSpeakControl, proto::SpeakControl{r.other, 1}.encode());
                {
                    std::lock_guard lock(mutex_);
                    pending_.push_back({t + kGrantFor, Reaction::Withdraw, r.bot, r.other});
                }
                break;
            case Reaction::Withdraw:
                send(b, pkt::kSpeakControl, proto::SpeakControl{r.other, 0}.encode());
                break;
            case Reaction::Reply:
                chat(b, r.other, true, b.user.nickname + "收到，谢谢！[face 13]");
                break;
            }
        }
    }

    void send_media(double t) {
        for (auto& [id, b] : bots_) {
            if (!b.joined)
                continue;
            if (b.camera_on && b.user.camera && b.watched && t >= b.next_frame_at) {
                b.next_frame_at = std::max(b.next_frame_at + 1.0 / kFps, t - 0.5);
                send_frame(b);
            }
            while (!b.speech.empty() && t >= b.next_voice_at) {
                b.next_voice_at += voice::kFrameMs / 1000.0;
                send_voice(b);
            }
        }
    }

    void send_frame(Bot& b) {
        if (!b.encoder) {
            b.encoder = std::make_unique<VideoEncoder>();
            if (!b.encoder->Open(capture::kWidth, capture::kHeight, kFps)) {
                log("no video encoder");
                b.user.camera = false;
                return;
            }
            b.encoder->ForceKeyFrame();
        }
        if (b.key_wanted) {
            b.encoder->ForceKeyFrame();
            b.key_wanted = false;
        }
        yuyv_.resize(capture::kFrameBytes);
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        if (b.user.host && config_.slide)
            config_.slide(yuyv_.data(), b.frame);
        else
            capture::draw_test_pattern(yuyv_.data(), b.frame, tm.tm_hour, tm.tm_min, tm.tm_sec, b.user.tint);
        ++b.frame;
        std::vector<uint8_t> packet;
        bool key = false;
        if (!b.encoder->Encode(yuyv_.data(), packet, key) || packet.empty())
            return;
        proto::VideoFrame f;
        f.user_id = b.user.id;
        f.room_id = scenario_.room;
        f.capture_length = uint32_t(capture::kFrameBytes);
        f.key_frame = key ? 1 : 0;
        f.frame = std::move(packet);
        send(b, pkt::kVideoFrame, f.encode(), true);
    }

    void send_voice(Bot& b) {
        const size_t frame = voice::kFrameSamples;
        if (b.spoken >= b.speech.size()) {
            b.speech.clear();
            send(b, pkt::kMicrophoneOff, {});
            return;
        }
        std::vector<int16_t> pcm(frame, 0);
        for (size_t i = 0; i < frame && b.spoken + i < b.speech.size(); ++i)
            pcm[i] = b.speech[b.spoken + i];
        b.spoken += frame;
        proto::VoicePacket v;
        v.sequence = b.voice_sequence++;
        v.capture_us = voice::monotonic_us();
        v.opus = b.voice->encode(pcm.data());
        if (v.opus.size() > 2)
            send(b, pkt::kVoice, v.encode());
    }

    const Scenario& scenario_;
    const LessonConfig& config_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(io_);
    std::thread io_thread_;
    asio::ip::tcp::resolver::results_type endpoints_;
    std::map<uint32_t, Bot> bots_;
    std::mutex mutex_; // what the I/O thread hands over
    std::map<uint32_t, bool> wanted_;
    std::vector<Reaction> pending_;
    std::vector<uint8_t> yuyv_;
};

} // namespace

bool run_lesson(const Scenario& scenario, const LessonConfig& config, std::string* error) {
    Lesson lesson(scenario, config);
    std::string why;
    const bool ok = lesson.run(&why);
    if (!ok && error)
        *error = why;
    return ok;
}

std::vector<int16_t> speech_for(const std::string& utf8_text) {
    std::vector<int16_t> out;
    // espeak-ng writes a WAV file at 22050 Hz to its standard output; the text goes in as an argument.
    std::string quoted = "'";
    for (char c : utf8_text.substr(0, 300)) {
        if (c == '\'')
            quoted += "'\\''";
        else if (c != '[' && c != ']')
            quoted += c;
    }
    quoted += "'";
    if (FILE* f = popen(("espeak-ng -v cmn --stdout " + quoted + " 2>/dev/null").c_str(), "r")) {
        std::vector<uint8_t> wav;
        uint8_t buf[8192];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0 && wav.size() < (4u << 20);)
            wav.insert(wav.end(), buf, buf + n);
        pclose(f);
        // A canonical 44-byte header, 16-bit mono at its sample rate; resampled linearly to 48 kHz.
        if (wav.size() > 44 && std::memcmp(wav.data(), "RIFF", 4) == 0) {
            const uint32_t rate = uint32_t(wav[24] | (wav[25] << 8) | (wav[26] << 16) | (wav[27] << 24));
            const size_t samples = (wav.size() - 44) / 2;
            if (rate >= 8000 && rate <= 48000 && samples > 0) {
                auto at = [&](size_t i) { return int16_t(wav[44 + 2 * i] | (wav[45 + 2 * i] << 8)); };
                const size_t n = std::min<size_t>(samples * 48000 / rate, 48000 * 10);
                for (size_t i = 0; i < n; ++i) {
                    const double x = double(i) * rate / 48000.0;
                    const size_t k = std::min(size_t(x), samples - 1), k1 = std::min(k + 1, samples - 1);
                    out.push_back(int16_t(at(k) + (at(k1) - at(k)) * (x - double(k))));
                }
                return out;
            }
        }
    }
    // No speech synthesis: a rising melody, one note per two characters.
    const double notes[] = {392.0, 440.0, 493.9, 523.3, 587.3};
    const size_t count = std::clamp<size_t>(utf8_text.size() / 6, 3, 10);
    for (size_t note = 0; note < count; ++note) {
        const double hz = notes[note % 5];
        for (int i = 0; i < 48000 / 4; ++i) {
            const double fade = std::min(1.0, std::min(i, 48000 / 4 - i) / 480.0);
            out.push_back(int16_t(7000 * fade * std::sin(2 * M_PI * hz * i / 48000.0)));
        }
    }
    return out;
}

} // namespace bots
