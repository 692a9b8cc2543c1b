// Room rules (see room_hub.h).
#include "service/room_hub.h"

#include "wire/framing.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace room {

namespace {
const char* const kGbkUser = "\xD3\xC3\xBB\xA7"; // "用户" in GBK
// "你已被发起人移出课堂" in GBK: what a removed user is told.
const char* const kGbkRemovedByHost =
    "\xC4\xE3\xD2\xD1\xB1\xBB\xB7\xA2\xC6\xF0\xC8\xCB\xD2\xC6\xB3\xF6\xBF\xCE\xCC\xC3";
constexpr uint32_t kEndedByServer = 1;
// The longest chat text a client sends, its terminator not counted.
constexpr size_t kMaxChatText = 4096;

uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
} // namespace

std::array<uint8_t, 20> expected_key(const std::string& secret, uint32_t user, uint32_t room,
                                     int64_t timestamp) {
    const std::string message =
        std::to_string(user) + ":" + std::to_string(room) + ":" + std::to_string(timestamp);
    std::array<uint8_t, 20> key{};
    unsigned len = 0;
    HMAC(EVP_sha1(), secret.data(), int(secret.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), key.data(), &len);
    return key;
}

SessionProof session_proof(const std::array<uint8_t, 16>& token) {
    SessionProof proof{};
    SHA256(token.data(), token.size(), proof.data());
    return proof;
}

SharedPayload::SharedPayload(uint16_t type, const uint8_t* data, size_t size)
    : offset_(framing::kHeaderSize), framed_type_(type) {
    auto frame = std::make_shared<proto::Bytes>(framing::kHeaderSize + size);
    framing::write_header(frame->data(), type, uint32_t(size));
    if (size)
        std::memcpy(frame->data() + framing::kHeaderSize, data, size);
    bytes_ = std::move(frame);
}

SharedPayload SharedPayload::from_frame(uint16_t type, proto::Bytes frame) {
    SharedPayload p;
    p.offset_ = framing::kHeaderSize;
    p.framed_type_ = type;
    p.bytes_ = std::make_shared<const proto::Bytes>(std::move(frame));
    return p;
}

bool SeatBook::claim(uint32_t user, const Holder& me, const std::function<bool(const Holder&)>& may_take,
                     std::optional<Holder>* pushed_out) {
    std::lock_guard lock(mutex_);
    auto [it, fresh] = seats_.try_emplace(user, me);
    if (fresh)
        return true;
    if (!may_take(it->second))
        return false;
    *pushed_out = it->second;
    it->second = me;
    return true;
}

void SeatBook::take(uint32_t user, const Holder& me) {
    std::lock_guard lock(mutex_);
    seats_[user] = me;
}

void SeatBook::release(uint32_t user, int hub, ConnId conn) {
    std::lock_guard lock(mutex_);
    auto it = seats_.find(user);
    if (it != seats_.end() && it->second.hub == hub && it->second.conn == conn)
        seats_.erase(it);
}

RoomHub::RoomHub(HubConfig config) : config_(std::move(config)) {
    if (!config_.seats)
        config_.seats = std::make_shared<SeatBook>();
    unauthenticated_log_ =
        config_.unauthenticated_log ? config_.unauthenticated_log : std::make_shared<UnauthenticatedLog>();
}

int64_t RoomHub::steady_ms() const {
    return steady_now_ms(config_.now_steady_ms);
}

int64_t RoomHub::unix_ms() const {
    if (config_.now_unix_ms)
        return config_.now_unix_ms();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool RoomHub::Bucket::Take(double per_second, double burst, int64_t now_ms) {
    if (tokens < 0) {
        tokens = burst;
        last_ms = now_ms;
    }
    tokens = std::min(burst, tokens + double(now_ms - last_ms) * per_second / 1000.0);
    last_ms = now_ms;
    if (tokens < 1)
        return false;
    tokens -= 1;
    return true;
}

void RoomHub::log_unauthenticated(const std::string& line) {
    // A loop of reconnecting peers makes a few lines per connection: one a second, whatever the number of
    // connections or addresses.
    unauthenticated_log_->write(line, steady_ms(), config_.log);
}

void RoomHub::log_drop(ConnId conn, Conn* k, const std::string& why) {
    const std::string head = "connection " + std::to_string(conn) + ": dropped packet: " + why;
    if (!k || !k->seat) {
        log_unauthenticated(head);
        return;
    }
    // One line a second at most: a hostile peer cannot fill the disk with our log.
    const int64_t now = steady_ms();
    if (now - k->last_drop_log_ms >= 1000) {
        if (config_.log)
            config_.log(head +
                        (k->unlogged_drops ? " (and " + std::to_string(k->unlogged_drops) + " more)" : ""));
        k->last_drop_log_ms = now;
        k->unlogged_drops = 0;
    } else {
        ++k->unlogged_drops;
    }
}

void RoomHub::over_rate(ConnId conn, const std::string& why) {
    // Too fast is not hostile by itself (a burst, a fast camera): the packet is dropped, the log line
    // limited, and the connection stays.
    auto c = conns_.find(conn);
    if (c != conns_.end())
        log_drop(conn, &c->second, why);
}

bool RoomHub::violation(ConnId conn, const std::string& why) {
    auto c = conns_.find(conn);
    if (c == conns_.end()) {
        log_drop(conn, nullptr, why);
        return false;
    }
    Conn& k = c->second;
    ++k.violations;
    log_drop(conn, &k, why);
    const bool close = !k.seat || k.violations > config_.max_violations;
    if (close) {
        const std::string line = "connection " + std::to_string(conn) + ": closed after " +
                                 std::to_string(k.violations) + " broken rule(s)";
        if (!k.seat)
            log_unauthenticated(line);
        else if (config_.log)
            config_.log(line);
        closing_ = conn;
    }
    return close;
}

void RoomHub::on_connect(ConnId conn, uint32_t ip, uint16_t port) {
    Conn c;
    c.ip = ip;
    c.port = port;
    conns_[conn] = c;
}

bool RoomHub::logged_in(ConnId conn) const {
    auto c = conns_.find(conn);
    return c != conns_.end() && c->second.seat.has_value();
}

std::optional<uint32_t> RoomHub::rights_of(uint32_t room_id, uint32_t user) const {
    auto r = rooms_.find(room_id);
    if (r == rooms_.end())
        return std::nullopt;
    auto m = r->second.members.find(user);
    if (m == r->second.members.end())
        return std::nullopt;
    return m->second.block.rights;
}

std::set<uint32_t> RoomHub::watchers_of(uint32_t room_id, uint32_t user) const {
    auto r = rooms_.find(room_id);
    if (r == rooms_.end())
        return {};
    auto m = r->second.members.find(user);
    return m == r->second.members.end() ? std::set<uint32_t>{} : m->second.watchers;
}

std::vector<uint32_t> RoomHub::hands_of(uint32_t room_id) const {
    std::vector<uint32_t> ids;
    auto r = rooms_.find(room_id);
    if (r != rooms_.end())
        for (const RaisedHand& h : r->second.hands)
            ids.push_back(h.user_id);
    return ids;
}

std::optional<proto::UserBlock> RoomHub::member(uint32_t room_id, uint32_t user) const {
    auto r = rooms_.find(room_id);
    if (r == rooms_.end())
        return std::nullopt;
    auto m = r->second.members.find(user);
    if (m == r->second.members.end())
        return std::nullopt;
    return m->second.block;
}

std::vector<ConnId> RoomHub::connections_of(uint32_t room_id) const {
    std::vector<ConnId> out;
    auto r = rooms_.find(room_id);
    if (r != rooms_.end())
        for (const auto& [id, m] : r->second.members)
            out.push_back(m.conn);
    return out;
}

void RoomHub::adopt(ConnId conn, uint32_t room_id, const proto::UserBlock& block, const SessionProof& proof) {
    Conn& c = conns_[conn];
    c.ip = block.ip;
    c.port = block.port;
    c.seat = std::make_pair(room_id, block.user_id);
    Room& room = rooms_[room_id];
    if (room.host == 0)
        room.host = config_.directory.host_of(room_id).value_or(0);
    if (room.host == 0 && (block.rights & pkt::kRightHost))
        room.host = block.user_id;
    Member& m = room.members[block.user_id];
    m.conn = conn;
    m.block = block;
    m.changed();
    ++room.epoch;
    config_.seats->take(block.user_id, {config_.hub_index, conn, block.ip, proof});
}

bool RoomHub::adopt_watch(uint32_t room_id, uint32_t target, uint32_t watcher) {
    auto r = rooms_.find(room_id);
    if (r == rooms_.end() || target == watcher)
        return false;
    auto t = r->second.members.find(target);
    if (t == r->second.members.end() || !r->second.members.count(watcher))
        return false;
    t->second.watchers.insert(watcher);
    ++r->second.epoch;
    return true;
}

void RoomHub::to_others(Room& room, uint32_t except, uint16_t type, const SharedPayload& payload,
                        Out& out) const {
    if (room.everyone_epoch != room.epoch) {
        room.everyone.clear();
        room.everyone.reserve(room.members.size());
        for (const auto& [id, m] : room.members)
            room.everyone.emplace_back(id, m.conn);
        room.everyone_epoch = room.epoch;
    }
    out.reserve(out.size() + room.everyone.size());
    for (const auto& [id, conn] : room.everyone)
        if (id != except)
            out.push_back({conn, type, payload, false});
}

std::vector<Outgoing> RoomHub::on_packet(ConnId conn, uint16_t type, const uint8_t* data, size_t size) {
    Out out = dispatch(conn, type, data, size);
    if (closing_) {
        const ConnId gone = *closing_;
        closing_.reset();
        leave(gone, out);
        out.push_back({gone, 0, {}, true});
        conns_.erase(gone);
    }
    return out;
}

std::vector<Outgoing> RoomHub::dispatch(ConnId conn, uint16_t type, const uint8_t* data, size_t size) {
    Out out;
    auto c = conns_.find(conn);
    if (c == conns_.end()) {
        drop(conn, "unknown connection");
        return out;
    }
    if (proto::is_known_type(type) && size < proto::min_payload(type)) {
        drop(conn,
             "type " + std::to_string(type) + " shorter than its layout (" + std::to_string(size) + ")");
        return out;
    }
    if (type == pkt::kLogin) {
        login(conn, c->second, data, size, out);
        return out;
    }
    if (!c->second.seat) {
        drop(conn, "type " + std::to_string(type) + " before login");
        return out;
    }
    const auto [room_id, user_id] = *c->second.seat;
    Room& room = rooms_.at(room_id);
    Member& me = room.members.at(user_id);
    const uint32_t rights = me.block.rights;
    auto require = [&](uint32_t bit) {
        if (rights & bit)
            return true;
        drop(conn, "type " + std::to_string(type) + " without right " + std::to_string(bit));
        return false;
    };

    switch (type) {
    case pkt::kChat:
        if (!require(pkt::kRightChat))
            break;
        if (size > proto::ChatLine::kHeader + kMaxChatText + 1) {
            drop(conn, "chat line of " + std::to_string(size) + " bytes");
            break;
        }
        if (!c->second.chat.Take(config_.chat_lines_per_second, 2.0 * config_.chat_lines_per_second,
                                 steady_ms())) {
            over_rate(conn, "chat lines too fast");
            break;
        }
        chat(room, me, data, size, out);
        break;
    case pkt::kVideoFrame:
        if (!require(pkt::kRightCamera))
            break;
        if (!c->second.video.Take(config_.video_frames_per_second, config_.video_frames_per_second,
                                  steady_ms())) {
            over_rate(conn, "video frames too fast");
            break;
        }
        video(room_id, room, me, data, size, out);
        break;
    case pkt::kCameraState:
        if (require(pkt::kRightCamera))
            camera(room_id, room, me, data, size, out);
        break;
    case pkt::kMicrophoneOn:
        if (require(pkt::kRightSpeak))
            microphone(room, me, true, out);
        break;
    case pkt::kMicrophoneOff:
        microphone(room, me, false, out);
        break;
    case pkt::kSpeakRequest:
        speak_request(room, me, out);
        break;
    case pkt::kHandLowered:
        hand_lowered(room, me, out);
        break;
    case pkt::kRemoveUser:
        if (require(pkt::kRightHost))
            remove_user(conn, room, me, data, size, out);
        break;
    case pkt::kSpeakerVolume:
        break; // a level of the user's own playback, for the local service
    case pkt::kWatchVideo:
        watch(room, me, data, size, out);
        break;
    case pkt::kSpeakControl:
        if (require(pkt::kRightHost))
            speak_control(room, me, data, size, out);
        break;
    case pkt::kRightsChange:
        if (require(pkt::kRightHost))
            chat_control(conn, room, me, data, size, out);
        break;
    case pkt::kOutputVolume:
        break; // the user's own playback level; nothing for the others
    case pkt::kVoice:
        // Speech still on its way when the right or the microphone went is normal, not a broken rule.
        if (!(rights & pkt::kRightSpeak) || !(me.block.state & pkt::kStateMicrophone))
            break;
        if (!c->second.voice.Take(config_.voice_packets_per_second, config_.voice_packets_per_second,
                                  steady_ms())) {
            over_rate(conn, "voice packets too fast");
            break;
        }
        voice(room, me, data, size, out);
        break;
    default:
        drop(conn, "unexpected type " + std::to_string(type));
        break;
    }
    return out;
}

void RoomHub::login(ConnId conn, Conn& c, const uint8_t* data, size_t size, Out& out) {
    auto l = proto::Login::decode(data, size);
    if (!l) {
        drop(conn, "short login");
        return;
    }
    if (c.seat) {
        drop(conn, "second login on one connection");
        return;
    }
    proto::LoginResult result;
    if (!config_.secret.empty()) {
        if (CRYPTO_memcmp(expected_key(config_.secret, l->user_id, l->room_id, l->timestamp).data(),
                          l->key.data(), 20) != 0) {
            result.result = kLoginBadKey;
            out.push_back({conn, pkt::kLoginResult, result.encode(), false});
            return;
        }
        // A key is good only near its time: one seen once cannot be replayed forever. Launchers write the
        // time stamp in seconds or in milliseconds; both are understood.
        const int64_t stamp_ms = l->timestamp > 100000000000LL ? l->timestamp : l->timestamp * 1000;
        const int64_t skew_ms = unix_ms() - stamp_ms;
        if (skew_ms > config_.key_window_s * 1000 || skew_ms < -config_.key_window_s * 1000) {
            log_unauthenticated("connection " + std::to_string(conn) + ": key of user " +
                                std::to_string(l->user_id) + " outside its time window");
            result.result = kLoginStaleKey;
            out.push_back({conn, pkt::kLoginResult, result.encode(), false});
            return;
        }
    }
    // A user logged in on another connection: only a reconnect of that very session takes the seat over
    // (its earlier link is gone or going); anything else is refused.
    SeatBook::Holder me_holder{config_.hub_index, conn, c.ip, {}};
    std::array<uint8_t, 16> token{};
    // Without randomness no token is known: no takeover succeeds.
    if (config_.session_tokens && RAND_bytes(token.data(), int(token.size())) == 1)
        me_holder.proof = session_proof(token);
    std::optional<SeatBook::Holder> pushed;
    if (!config_.seats->claim(
            l->user_id, me_holder, [&](const SeatBook::Holder& h) { return may_take_over(h, c, *l); },
            &pushed)) {
        log_unauthenticated(
            "connection " + std::to_string(conn) + ": user " + std::to_string(l->user_id) +
            " is in already; " +
            (l->flags & proto::Login::kReconnectFlag ? "no proof of that session" : "not a reconnect"));
        result.result = kLoginAlreadyIn;
        out.push_back({conn, pkt::kLoginResult, result.encode(), false});
        return;
    }
    if (pushed && pushed->hub == config_.hub_index)
        push_out(pushed->conn, out);
    else if (pushed && config_.push_out_elsewhere)
        config_.push_out_elsewhere(pushed->hub, pushed->conn);

    Room& room = rooms_[l->room_id];
    if (room.host == 0) {
        // A room brought back with its members (adopted after its server failed) may not know its host yet:
        // the directory's host is the host when they come.
        if (auto host = config_.directory.host_of(l->room_id))
            room.host = *host;
        else if (room.members.empty())
            room.host = l->user_id;
    }

    Member me;
    me.conn = conn;
    me.block.user_id = l->user_id;
    me.block.ip = c.ip;
    me.block.port = c.port;
    me.block.rights = l->user_id == room.host ? kHostRights : kGuestRights;
    me.block.nickname =
        config_.directory.nickname(l->user_id).value_or(kGbkUser + std::to_string(l->user_id));
    c.seat = std::make_pair(l->room_id, l->user_id);

    result.result = kLoginOk;
    result.rights = me.block.rights;
    result.nickname = me.block.nickname;
    result.output_volume = config_.output_volume;
    result.ip = c.ip;
    result.port = c.port;
    out.push_back({conn, pkt::kLoginResult, result.encode(), false});
    if (config_.session_tokens) {
        // A fresh token for every session: only the local service that holds it can take this seat over.
        proto::SessionToken t{token};
        out.push_back({conn, pkt::kSessionToken, t.encode(), false});
    }
    out.reserve(out.size() + 2 * room.members.size() + 2);
    for (auto& [id, m] : room.members) {
        if (m.present.empty()) {
            proto::UserBlock b = m.block;
            b.state = 0;
            m.present = SharedPayload(pkt::kUserPresent, b.encode());
        }
        out.push_back({conn, pkt::kUserPresent, m.present, false});
    }
    to_others(room, l->user_id, pkt::kUserEntered, SharedPayload(pkt::kUserEntered, me.block.encode()), out);
    room.members[l->user_id] = std::move(me);
    ++room.epoch;
    // A host who comes (back) finds the hands that are up, in the order they went up.
    if (l->user_id == room.host)
        for (const RaisedHand& h : room.hands)
            out.push_back({conn, pkt::kSpeakRequest, proto::SpeakRequest{h.user_id}.encode(), false});
    out.push_back({conn, pkt::kMediaStart, {}, false});
    if (config_.log)
        config_.log("user " + std::to_string(l->user_id) + " entered room " + std::to_string(l->room_id));
}

void RoomHub::push_out(ConnId stale, Out& out) {
    // The session pushed out is told why before it is closed, in words and with the result the client takes
    // as final (it does not reconnect).
    leave(stale, out);
    out.push_back({stale, pkt::kSystemText, proto::SystemText{kGbkLoggedInElsewhere}.encode(), false});
    proto::LoginResult pushed;
    pushed.result = kLoginAlreadyIn;
    out.push_back({stale, pkt::kLoginResult, pushed.encode(), false});
    out.push_back({stale, 0, {}, true});
}

std::vector<Outgoing> RoomHub::push_out(ConnId conn) {
    Out out;
    auto c = conns_.find(conn);
    if (c != conns_.end() && c->second.seat)
        push_out(conn, out);
    return out;
}

bool RoomHub::may_take_over(const SeatBook::Holder& holder, const Conn& c, const proto::Login& l) const {
    if (!(l.flags & proto::Login::kReconnectFlag))
        return false;
    if (!config_.session_tokens)
        return holder.ip == c.ip;
    static const SessionProof kNone{};
    if (!l.token || CRYPTO_memcmp(holder.proof.data(), kNone.data(), kNone.size()) == 0)
        return false;
    const SessionProof brought = session_proof(*l.token);
    return CRYPTO_memcmp(brought.data(), holder.proof.data(), brought.size()) == 0;
}

void RoomHub::chat(Room& room, Member& from, const uint8_t* data, size_t size, Out& out) {
    auto line = proto::ChatLine::decode(data, size);
    if (!line)
        return;
    line->sender = from.block.user_id;
    const SharedPayload payload(pkt::kChatMessage, line->encode());
    if (line->private_flag == 0) {
        to_others(room, from.block.user_id, pkt::kChatMessage, payload, out);
        return;
    }
    auto target = room.members.find(line->target);
    if (target != room.members.end() && line->target != from.block.user_id)
        out.push_back({target->second.conn, pkt::kChatMessage, payload, false});
}

void RoomHub::video(uint32_t room_id, Room& room, Member& from, const uint8_t* data, size_t size, Out& out) {
    if (from.watchers.empty() || size < proto::VideoFrame::kHeader)
        return;
    if (from.key_frame_owed)
        request_key_frame(from, out);
    // The frame as it came, with the sender and the room filled in and a length field past the payload cut
    // to what is there: one copy, whatever the number of watchers.
    const uint32_t length = uint32_t(std::min<size_t>(get_le32(data + 8), size - proto::VideoFrame::kHeader));
    const size_t payload_size = proto::VideoFrame::kHeader + length;
    // Filled as it is made (a frame is kilobytes: no zeroing first).
    proto::Bytes frame;
    frame.reserve(framing::kHeaderSize + payload_size);
    frame.resize(framing::kHeaderSize);
    framing::write_header(frame.data(), pkt::kVideoFrame, uint32_t(payload_size));
    frame.insert(frame.end(), data, data + payload_size);
    uint8_t* p = frame.data() + framing::kHeaderSize;
    put_le32(p, from.block.user_id);
    put_le32(p + 4, room_id);
    put_le32(p + 8, length);
    const SharedPayload payload = SharedPayload::from_frame(pkt::kVideoFrame, std::move(frame));
    if (from.watcher_conns_epoch != room.epoch) {
        from.watcher_conns.clear();
        for (uint32_t w : from.watchers)
            if (auto m = room.members.find(w); m != room.members.end())
                from.watcher_conns.push_back(m->second.conn);
        from.watcher_conns_epoch = room.epoch;
    }
    out.reserve(out.size() + from.watcher_conns.size());
    for (ConnId to : from.watcher_conns)
        out.push_back({to, pkt::kVideoFrame, payload, false});
}

void RoomHub::voice(Room& room, Member& from, const uint8_t* data, size_t size, Out& out) {
    // The packet as it came with the speaker filled in, framed once for every listener (the layout's own
    // check: some Opus bytes, never more than one frame's).
    if (size <= proto::VoicePacket::kHeader ||
        size - proto::VoicePacket::kHeader > proto::VoicePacket::kMaxOpus)
        return;
    proto::Bytes frame(framing::kHeaderSize + size);
    framing::write_header(frame.data(), pkt::kVoice, uint32_t(size));
    std::memcpy(frame.data() + framing::kHeaderSize, data, size);
    put_le32(frame.data() + framing::kHeaderSize, from.block.user_id);
    to_others(room, from.block.user_id, pkt::kVoice, SharedPayload::from_frame(pkt::kVoice, std::move(frame)),
              out);
}

void RoomHub::camera(uint32_t room_id, Room& room, Member& from, const uint8_t* data, size_t size, Out& out) {
    auto state = proto::CameraState::decode(data, size);
    if (!state)
        return;
    state->user_id = from.block.user_id;
    state->room_id = room_id;
    from.block.stream = state->stream;
    from.changed();
    to_others(room, from.block.user_id, pkt::kCameraState, state->encode(), out);
}

void RoomHub::microphone(Room& room, Member& from, bool on, Out& out) {
    if (on)
        from.block.state |= pkt::kStateMicrophone;
    else
        from.block.state &= ~uint32_t(pkt::kStateMicrophone);
    proto::MicrophoneState m{from.block.user_id, 1, uint8_t(on ? 0 : 1)};
    to_others(room, from.block.user_id, pkt::kMicrophoneState, m.encode(), out);
}

void RoomHub::speak_request(Room& room, Member& from, Out& out) {
    if (room.host == from.block.user_id)
        return;
    // The queue keeps the first time a hand went up; asking again while it is up does not move it back.
    const uint32_t id = from.block.user_id;
    if (std::none_of(room.hands.begin(), room.hands.end(),
                     [id](const RaisedHand& h) { return h.user_id == id; }))
        room.hands.push_back({id, unix_ms()});
    auto host = room.members.find(room.host);
    if (host == room.members.end())
        return;
    out.push_back(
        {host->second.conn, pkt::kSpeakRequest, proto::SpeakRequest{from.block.user_id}.encode(), false});
}

bool RoomHub::lower_hand(Room& room, uint32_t user_id) {
    auto it = std::find_if(room.hands.begin(), room.hands.end(),
                           [user_id](const RaisedHand& h) { return h.user_id == user_id; });
    if (it == room.hands.end())
        return false;
    room.hands.erase(it);
    return true;
}

void RoomHub::hand_lowered(Room& room, Member& from, Out& out) {
    if (!lower_hand(room, from.block.user_id))
        return;
    auto host = room.members.find(room.host);
    if (host != room.members.end())
        out.push_back(
            {host->second.conn, pkt::kHandLowered, proto::UserRef{from.block.user_id}.encode(), false});
}

void RoomHub::remove_user(ConnId conn, Room& room, Member& host, const uint8_t* data, size_t size, Out& out) {
    auto who = proto::UserRef::decode(data, size);
    if (!who || who->user_id == host.block.user_id) {
        drop(conn, "removal of the host itself");
        return;
    }
    auto target = room.members.find(who->user_id);
    if (target == room.members.end())
        return; // gone already
    // The removed user is told why, then gets the final result the client does not reconnect after, then
    // the seat closes; the others see the user leave, ended by the server.
    const ConnId gone = target->second.conn;
    if (config_.log)
        config_.log("user " + std::to_string(who->user_id) + " removed by the host " +
                    std::to_string(host.block.user_id));
    leave(gone, out, kEndedByServer);
    out.push_back({gone, pkt::kSystemText, proto::SystemText{kGbkRemovedByHost}.encode(), false});
    proto::LoginResult removed;
    removed.result = kLoginRemoved;
    out.push_back({gone, pkt::kLoginResult, removed.encode(), false});
    out.push_back({gone, 0, {}, true});
}

void RoomHub::set_watched(Room& room, Member& target, uint32_t watcher, bool watch, Out& out) {
    ++room.epoch;
    const bool before = !target.watchers.empty();
    bool inserted = false;
    if (watch)
        inserted = target.watchers.insert(watcher).second;
    else
        target.watchers.erase(watcher);
    const bool after = !target.watchers.empty();
    if (!after) {
        target.key_frame_owed = false;
        if (before)
            out.push_back({target.conn, pkt::kVideoWanted, proto::VideoWanted{0}.encode(), false});
        return;
    }
    // The first watcher starts the video (always said at once); every later new watcher needs a key frame
    // too (the stream's header travels with it), so the sender is asked again, within the request limit.
    if (!before) {
        target.last_key_request_ms = steady_ms();
        target.key_frame_owed = false;
        out.push_back({target.conn, pkt::kVideoWanted, proto::VideoWanted{1}.encode(), false});
    } else if (inserted) {
        request_key_frame(target, out);
    }
}

void RoomHub::request_key_frame(Member& sender, Out& out) {
    const int64_t now = steady_ms();
    if (now - sender.last_key_request_ms < config_.key_frame_request_ms) {
        sender.key_frame_owed = true;
        return;
    }
    sender.last_key_request_ms = now;
    sender.key_frame_owed = false;
    out.push_back({sender.conn, pkt::kVideoWanted, proto::VideoWanted{1}.encode(), false});
}

void RoomHub::watch(Room& room, Member& from, const uint8_t* data, size_t size, Out& out) {
    auto w = proto::WatchVideo::decode(data, size);
    if (!w || w->user_id == from.block.user_id)
        return;
    auto target = room.members.find(w->user_id);
    if (target == room.members.end())
        return;
    set_watched(room, target->second, from.block.user_id, w->start != 0, out);
}

void RoomHub::speak_control(Room& room, Member&, const uint8_t* data, size_t size, Out& out) {
    auto sc = proto::SpeakControl::decode(data, size);
    if (!sc)
        return;
    auto target = room.members.find(sc->user_id);
    if (target == room.members.end())
        return;
    proto::RightsChange change{sc->user_id, pkt::kRightSpeak,
                               sc->allow ? pkt::kRightsAdd : pkt::kRightsRemove, 0};
    if (sc->allow) {
        // A granted hand is down.
        lower_hand(room, sc->user_id);
        target->second.block.rights |= pkt::kRightSpeak;
    } else {
        target->second.block.rights &= ~uint32_t(pkt::kRightSpeak);
        target->second.block.state &= ~uint32_t(pkt::kStateMicrophone);
    }
    target->second.changed();
    to_others(room, 0, pkt::kRightsChange, change.encode(), out);
}

void RoomHub::chat_control(ConnId conn, Room& room, Member& host, const uint8_t* data, size_t size,
                           Out& out) {
    // The host takes the right to chat away (22) or gives it back (21); no other right travels this way.
    auto change = proto::RightsChange::decode(data, size);
    if (!change || change->rights != pkt::kRightChat ||
        (change->operation != pkt::kRightsAdd && change->operation != pkt::kRightsRemove) ||
        change->user_id == host.block.user_id) {
        drop(conn, "rights change other than the chat right of another user");
        return;
    }
    auto target = room.members.find(change->user_id);
    if (target == room.members.end())
        return;
    if (change->operation == pkt::kRightsAdd)
        target->second.block.rights |= pkt::kRightChat;
    else
        target->second.block.rights &= ~uint32_t(pkt::kRightChat);
    target->second.changed();
    proto::RightsChange relayed{change->user_id, pkt::kRightChat, change->operation, 0};
    to_others(room, 0, pkt::kRightsChange, relayed.encode(), out);
}

void RoomHub::leave(ConnId conn, Out& out, uint32_t ended_by) {
    auto c = conns_.find(conn);
    if (c == conns_.end() || !c->second.seat)
        return;
    const auto [room_id, user_id] = *c->second.seat;
    c->second.seat.reset();
    config_.seats->release(user_id, config_.hub_index, conn);
    auto r = rooms_.find(room_id);
    if (r == rooms_.end())
        return;
    Room& room = r->second;
    room.members.erase(user_id);
    lower_hand(room, user_id);
    ++room.epoch;
    for (auto& [id, m] : room.members)
        if (m.watchers.count(user_id))
            set_watched(room, m, user_id, false, out);
    to_others(room, user_id, pkt::kUserLeft, proto::UserLeft{user_id, ended_by}.encode(), out);
    if (room.members.empty())
        rooms_.erase(r);
    if (config_.log)
        config_.log("user " + std::to_string(user_id) + " left room " + std::to_string(room_id));
}

std::vector<Outgoing> RoomHub::on_disconnect(ConnId conn) {
    Out out;
    leave(conn, out);
    conns_.erase(conn);
    return out;
}

} // namespace room
