// Speech of a session (see voice_session.h).
#include "voice/voice_session.h"

#include <time.h>

#include "voice/pcm_stream.h"
#include "wire/packet_types.h"

namespace voice {

namespace {
// A speaker that has sent nothing this long is forgotten (its decoder state included).
constexpr uint64_t kSpeakerTimeoutUs = 3'000'000;
// The playback device is closed after this many frames without any speaker (1 s).
constexpr int kIdleFramesBeforeClose = 50;
} // namespace

uint64_t monotonic_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

std::string spurt_summary(uint32_t user, const JitterBuffer& buffer) {
    const auto& st = buffer.stats();
    return "voice of user " + std::to_string(user) + ": played " + std::to_string(st.played) +
           ", concealed " + std::to_string(st.concealed) + ", lost " + std::to_string(st.lost) + ", late " +
           std::to_string(st.late) + ", dropped " + std::to_string(st.overflow) + ", buffer " +
           std::to_string(buffer.target() * kFrameMs) + " ms, skipped " + std::to_string(st.skipped);
}

VoiceSession::VoiceSession(VoiceConfig config, VoiceHooks hooks)
    : config_(config), hooks_(std::move(hooks)) {}

VoiceSession::~VoiceSession() {
    stop();
}

void VoiceSession::stop() {
    microphone_wanted_ = false;
    logged_in_ = false;
    stop_capture();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (playback_thread_.joinable())
        playback_thread_.join();
}

void VoiceSession::from_client(uint16_t type, const uint8_t* data, size_t size) {
    switch (type) {
    case pkt::kLogin:
        if (auto l = proto::Login::decode(data, size))
            user_ = l->user_id;
        break;
    case pkt::kMicrophoneOn:
        if (auto m = proto::MicrophoneOn::decode(data, size)) {
            microphone_wanted_ = true;
            record_device_ = int32_t(m->device);
            update_capture();
        }
        break;
    case pkt::kMicrophoneOff:
        microphone_wanted_ = false;
        update_capture();
        break;
    case pkt::kOutputVolume:
        if (auto v = proto::OutputVolume::decode(data, size))
            volume_ = int(std::min<uint32_t>(v->volume, 100));
        break;
    case pkt::kSpeakerVolume:
        if (auto v = proto::SpeakerVolume::decode(data, size)) {
            std::lock_guard lock(mutex_);
            // A room has a bounded number of users; a client that sends levels for ever more ids is capped.
            if (v->percent == 100)
                speaker_percent_.erase(v->user_id);
            else if (speaker_percent_.size() < 1024 || speaker_percent_.count(v->user_id))
                speaker_percent_[v->user_id] = std::min<int>(v->percent, proto::SpeakerVolume::kMaxPercent);
        }
        break;
    default:
        break;
    }
}

bool VoiceSession::from_room(uint16_t type, const uint8_t* data, size_t size) {
    switch (type) {
    case pkt::kLoginResult:
        if (auto r = proto::LoginResult::decode(data, size); r && r->result == 0) {
            members_.clear(); // the room is announced anew
            logged_in_ = true;
            rights_ = r->rights;
            volume_ = int(std::min<uint32_t>(r->output_volume, 100));
            update_capture();
        }
        return false;
    case pkt::kRightsChange:
        if (auto c = proto::RightsChange::decode(data, size); c && c->user_id == user_) {
            if (c->operation == pkt::kRightsAdd)
                rights_ |= c->rights;
            else if (c->operation == pkt::kRightsRemove)
                rights_ &= ~c->rights;
            // The room switches a microphone off with the right; it stays off when the right comes back.
            if (!(rights_ & pkt::kRightSpeak))
                microphone_wanted_ = false;
            update_capture();
        }
        return false;
    case pkt::kUserEntered:
    case pkt::kUserPresent:
        if (auto b = proto::UserBlock::decode(data, size); b && members_.size() < kMaxMembers)
            members_.insert(b->user_id);
        return false;
    case pkt::kUserLeft:
        if (auto l = proto::UserLeft::decode(data, size)) {
            members_.erase(l->user_id);
            std::lock_guard lock(mutex_);
            speakers_.erase(l->user_id);
        }
        return false;
    case pkt::kVoice: {
        auto v = proto::VoicePacket::decode(data, size);
        if (!v || v->user_id == user_) // nobody hears themselves
            return true;
        if (!members_.count(v->user_id)) {
            ++refused_voice_;
            return true;
        }
        {
            std::lock_guard lock(mutex_);
            auto& s = speakers_[v->user_id];
            if (!s) {
                if (speakers_.size() > kMaxSpeakers) { // the new entry counts already
                    speakers_.erase(v->user_id);
                    ++refused_voice_;
                    return true;
                }
                s = std::make_unique<Speaker>(config_.start_jitter_frames);
            }
            s->last_packet_us = monotonic_us();
            s->buffer.push(v->sequence, std::move(v->opus));
        }
        // The playback thread starts with the first speech a session hears; a silent class needs none.
        if (!playback_thread_.joinable())
            playback_thread_ = std::thread([this] { playback_loop(); });
        wake_.notify_all();
        return true;
    }
    default:
        return false;
    }
}

void VoiceSession::update_capture() {
    const bool wanted = logged_in_ && microphone_wanted_ && (rights_ & pkt::kRightSpeak);
    if (capture_thread_.joinable() && !capturing_)
        capture_thread_.join(); // ended by itself (device failure)
    if (wanted && !capture_thread_.joinable()) {
        capturing_ = true;
        capture_thread_ = std::thread([this, device = record_device_] { capture_loop(device); });
    } else if (!wanted) {
        stop_capture();
    }
}

void VoiceSession::stop_capture() {
    capturing_ = false;
    if (capture_thread_.joinable())
        capture_thread_.join();
}

void VoiceSession::capture_loop(int device_id) {
    std::string error;
    auto pcm = open_sound(device_id, true, config_.capture_latency_ms, &error);
    VoiceEncoder encoder;
    if (!pcm || !encoder.ok()) {
        capturing_ = false;
        if (hooks_.microphone_failed)
            hooks_.microphone_failed(pcm ? "Opus encoder" : error);
        return;
    }
    if (hooks_.microphone_opened)
        hooks_.microphone_opened();
    Frame frame(kFrameSamples);
    uint32_t sequence = 0;
    while (capturing_) {
        if (!pcm->read(frame.data())) {
            capturing_ = false;
            if (hooks_.microphone_failed)
                hooks_.microphone_failed(pcm->name() + ": device lost");
            return;
        }
        // Old sound dropped to keep up: the listener sees a gap in the sequence, not speech that comes late.
        sequence += uint32_t(pcm->take_skipped());
        proto::VoicePacket packet;
        packet.sequence = sequence++;
        packet.capture_us = monotonic_us();
        packet.opus = encoder.encode(frame.data());
        // Under DTX a silent frame is one or two bytes: not sent, the listener conceals and then stops.
        if (packet.opus.size() > 2 && hooks_.send_voice)
            hooks_.send_voice(packet.encode());
    }
}

void VoiceSession::playback_loop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !speakers_.empty(); });
            if (stopping_)
                return;
        }
        std::string error;
        auto pcm = open_sound(config_.play_device, false, config_.playback_latency_ms, &error);
        if (!pcm) {
            // No playback device: what arrived is dropped, and the next speech tries again.
            std::unique_lock lock(mutex_);
            speakers_.clear();
            wake_.wait_for(lock, std::chrono::seconds(2), [&] { return stopping_; });
            continue;
        }
        if (!pcm->prefill())
            continue;
        int idle = 0;
        std::vector<Frame> frames;
        while (idle < kIdleFramesBeforeClose) {
            frames.clear();
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return;
                const uint64_t now = monotonic_us();
                for (auto it = speakers_.begin(); it != speakers_.end();) {
                    Speaker& s = *it->second;
                    const bool was_playing = s.buffer.playing();
                    JitterBuffer::Pull p = s.buffer.pull();
                    // The end of a talk spurt: how the network treated it.
                    if (was_playing && !s.buffer.playing() && hooks_.log)
                        hooks_.log(spurt_summary(it->first, s.buffer));
                    const size_t before = frames.size();
                    if (p.kind == JitterBuffer::Pull::Packet)
                        frames.push_back(s.decoder.decode(p.packet));
                    else if (p.kind == JitterBuffer::Pull::Lost)
                        frames.push_back(s.decoder.conceal(p.next.empty() ? nullptr : &p.next));
                    if (frames.size() > before)
                        if (auto level = speaker_percent_.find(it->first); level != speaker_percent_.end())
                            scale_frame(frames.back(), level->second);
                    if (!s.buffer.playing() && s.buffer.waiting() == 0 &&
                        now - s.last_packet_us > kSpeakerTimeoutUs)
                        it = speakers_.erase(it);
                    else
                        ++it;
                }
                idle = speakers_.empty() ? idle + 1 : 0;
            }
            const Frame out = mixer_.mix(frames, volume_);
            if (!pcm->write(out.data()))
                break;
        }
    }
}

} // namespace voice
