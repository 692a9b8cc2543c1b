// The rooms of a room server, without any I/O: packets from connections in, addressed packets out.
// Rooms are made at the first login into them and dropped when their last user leaves. The hub enforces the
// rights bits whatever a client does, and drops (and reports) every packet it cannot accept.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/service_log.h"
#include "service/user_directory.h"
#include "wire/protocol.h"

namespace room {

using ConnId = uint64_t;

// A payload built once and shared by every receiver of a fan-out, so that sending it to fifty users copies
// nothing per user. One made for a packet type holds its whole frame (header and payload), which the server
// then sends as it is.
class SharedPayload {
public:
    SharedPayload() = default;
    SharedPayload(proto::Bytes bytes) : bytes_(std::make_shared<const proto::Bytes>(std::move(bytes))) {}
    SharedPayload(uint16_t type, const uint8_t* data, size_t size);
    SharedPayload(uint16_t type, const proto::Bytes& bytes)
        : SharedPayload(type, bytes.data(), bytes.size()) {}
    // A whole frame of `type`, header written.
    static SharedPayload from_frame(uint16_t type, proto::Bytes frame);
    const uint8_t* data() const { return bytes_ ? bytes_->data() + offset_ : nullptr; }
    size_t size() const { return bytes_ ? bytes_->size() - offset_ : 0; }
    bool empty() const { return size() == 0; }
    // Equal for copies of one payload: lets the sender build one frame for all of them.
    const void* identity() const { return bytes_.get(); }
    // The whole frame when this payload was made for `type`, else null.
    std::shared_ptr<const proto::Bytes> frame(uint16_t type) const {
        return offset_ && type == framed_type_ ? bytes_ : nullptr;
    }

private:
    std::shared_ptr<const proto::Bytes> bytes_;
    size_t offset_ = 0; // the frame header's size when bytes_ is a whole frame
    uint16_t framed_type_ = 0;
};

// One packet for one connection, or (close set) the instruction to close that connection.
struct Outgoing {
    ConnId to = 0;
    uint16_t type = 0;
    SharedPayload payload;
    bool close = false;
};

// What a seat keeps of its session's token: the token's SHA-256, so that a seat brought back from elsewhere
// (a cluster's new home) can be checked with what the cluster recorded, and nothing that holds seats hands
// out the token itself.
using SessionProof = std::array<uint8_t, 32>;
SessionProof session_proof(const std::array<uint8_t, 16>& token);

// Who holds each user's seat, for all the hubs of a process: one seat a user, whatever the room and whichever
// I/O thread serves it. Thread-safe: hubs on different threads share one.
class SeatBook {
public:
    struct Holder {
        int hub = 0; // which hub of the process
        ConnId conn = 0;
        uint32_t ip = 0;
        // The SHA-256 of the session's token (session tokens): a reconnect that brings the token takes the
        // seat over. All zero: no token is known, and no takeover succeeds.
        SessionProof proof{};
    };
    // Seats `user` with `me` when the seat is free, or when `may_take(holder)` lets this login take it over
    // (the holder pushed out is then in `pushed_out`). False: refused, the seat stays with its holder.
    bool claim(uint32_t user, const Holder& me, const std::function<bool(const Holder&)>& may_take,
               std::optional<Holder>* pushed_out);
    // Seats `user` with `me` whoever held it (a member adopted from other servers).
    void take(uint32_t user, const Holder& me);
    // Frees the seat when it is still held by connection `conn` of hub `hub`.
    void release(uint32_t user, int hub, ConnId conn);

private:
    std::mutex mutex_;
    std::unordered_map<uint32_t, Holder> seats_;
};

struct HubConfig {
    UserDirectory directory;
    std::string secret;          // HMAC key for the login check; empty: every key is accepted
    uint32_t output_volume = 80; // sent in the login result
    std::function<void(const std::string&)> log;
    // With a secret, a key's time stamp must lie this close to the room's clock (seconds).
    int64_t key_window_s = 600;
    // Wall clock for the keys (milliseconds since 1970) and a steady clock for rates (milliseconds); tests
    // set them, otherwise the system's clocks.
    std::function<int64_t()> now_unix_ms;
    std::function<int64_t()> now_steady_ms;
    // Rules broken after the login before the connection is closed (before the login, one is enough).
    int max_violations = 10;
    // Chat lines: at most this many a second over a burst of twice as many.
    int chat_lines_per_second = 5;
    // Video frames from one sender: at most this many a second (a camera sends 15).
    int video_frames_per_second = 60;
    // Voice packets from one speaker: one each 20 ms, with room for a burst after a stall.
    int voice_packets_per_second = 100;
    // Room server: each login gets a token (type 41, for the local service only), and a seat is taken over
    // only by a reconnect's login that brings the token back. Without (the local service's own room, one
    // client): a reconnect from the same address takes the seat over.
    bool session_tokens = true;
    // A sender is asked for a key frame (type 26 with 1) for a new watcher at most this often; a watcher
    // who comes sooner is served at the sender's first frame after that.
    int key_frame_request_ms = 1000;
    // Hubs of one process that serve their rooms on different threads share the seats; this hub's number
    // among them, and how a seat taken over from another hub reaches that hub (it calls push_out there, on
    // its own thread). Without, the hub keeps its seats to itself.
    std::shared_ptr<SeatBook> seats;
    int hub_index = 0;
    std::function<void(int hub, ConnId conn)> push_out_elsewhere;
    // Hubs of one server share the limit on lines about connections without a login; without, the hub has
    // its own.
    std::shared_ptr<UnauthenticatedLog> unauthenticated_log;
};

// Login results.
enum LoginResultCode : uint32_t {
    kLoginOk = 0,
    kLoginStaleKey = 2, // the key's time stamp is outside the window
    kLoginBadKey = 4,
    kLoginAlreadyIn = 5,
    kLoginNoRoomServer = 6, // the local service cannot reach its room server
    kLoginRemoved = 7,      // the host removed the user from the class; final, like 5
};

// "您的帐号已在别处登录" in GBK: what a session that is pushed out by a later login of its user is told.
inline constexpr const char* kGbkLoggedInElsewhere =
    "\xC4\xFA\xB5\xC4\xD5\xCA\xBA\xC5\xD2\xD1\xD4\xDA\xB1\xF0\xB4\xA6\xB5\xC7\xC2\xBC";

// The key id a user needs: HMAC-SHA1(secret, "userid:roomid:timestamp").
std::array<uint8_t, 20> expected_key(const std::string& secret, uint32_t user, uint32_t room,
                                     int64_t timestamp);

// Default rights: the host may do everything; others may use the camera and chat until granted speech.
constexpr uint32_t kHostRights = pkt::kRightHost | pkt::kRightCamera | pkt::kRightSpeak | pkt::kRightChat;
constexpr uint32_t kGuestRights = pkt::kRightCamera | pkt::kRightChat;

class RoomHub {
public:
    explicit RoomHub(HubConfig config);

    // A new connection from ip (network byte order) and port.
    void on_connect(ConnId conn, uint32_t ip, uint16_t port);
    std::vector<Outgoing> on_packet(ConnId conn, uint16_t type, const uint8_t* data, size_t size);
    std::vector<Outgoing> on_disconnect(ConnId conn);
    // A session whose seat a login on another hub took over: told why, and closed.
    std::vector<Outgoing> push_out(ConnId conn);

    // Read-only views for the server, tests and status lines.
    bool logged_in(ConnId conn) const;
    size_t room_count() const { return rooms_.size(); }
    std::optional<uint32_t> rights_of(uint32_t room, uint32_t user) const;
    std::set<uint32_t> watchers_of(uint32_t room, uint32_t user) const;
    // The raised hands of a room, oldest first.
    std::vector<uint32_t> hands_of(uint32_t room) const;
    std::optional<proto::UserBlock> member(uint32_t room, uint32_t user) const;
    // The connections seated in a room.
    std::vector<ConnId> connections_of(uint32_t room) const;

    // For a room rebuilt from what other servers still hold (a cluster's new home): the directory is filled
    // before logins; a member already known to the room's other users is seated without a login and without
    // telling anyone, keeping its session (with `proof`, its session's reconnect takes the seat over as it
    // would have at the old server); a watch is restored silently (false when the watched user is not seated
    // yet).
    UserDirectory& directory() { return config_.directory; }
    void adopt(ConnId conn, uint32_t room, const proto::UserBlock& block, const SessionProof& proof = {});
    bool adopt_watch(uint32_t room, uint32_t target, uint32_t watcher);

    // Lines about connections that have not logged in (drops, closes, refusals) share one limit for the
    // whole server: one line a second, with a count of the ones left out. The server's own such lines go
    // through here too.
    void log_unauthenticated(const std::string& line);

private:
    struct Member {
        ConnId conn = 0;
        proto::UserBlock block;
        std::set<uint32_t> watchers; // users who receive this member's video
        int64_t last_key_request_ms = -1000000;
        bool key_frame_owed = false; // a new watcher came while requests were limited
        // The watchers' connections, in the order of `watchers`: made again when the room's epoch moved.
        std::vector<ConnId> watcher_conns;
        uint64_t watcher_conns_epoch = 0;
        // The user-present packet that tells a newcomer of this member, made at the first login after a
        // change of the block (a class that arrives together shares one copy per member).
        SharedPayload present;
        // Drops the present packet: the block changed.
        void changed() { present = {}; }
    };
    struct RaisedHand {
        uint32_t user_id;
        int64_t since_ms; // wall clock
    };
    struct Room {
        uint32_t host = 0;
        std::map<uint32_t, Member> members; // by user id, in id order
        std::vector<RaisedHand> hands;      // in the order they went up
        // Moves on every change of the members or of who watches whom.
        uint64_t epoch = 1;
        // Every member's (user, connection), in user order: made again when the epoch moved.
        std::vector<std::pair<uint32_t, ConnId>> everyone;
        uint64_t everyone_epoch = 0;
    };
    // A budget of events per second with a burst, refilled by the steady clock.
    struct Bucket {
        double tokens = -1; // -1: full at first use
        int64_t last_ms = 0;
        bool Take(double per_second, double burst, int64_t now_ms);
    };
    struct Conn {
        uint32_t ip = 0;
        uint16_t port = 0;
        std::optional<std::pair<uint32_t, uint32_t>> seat; // (room, user) once logged in
        int violations = 0;
        int64_t last_drop_log_ms = -1000000;
        int unlogged_drops = 0;
        Bucket chat, video, voice;
    };

    using Out = std::vector<Outgoing>;
    Out dispatch(ConnId conn, uint16_t type, const uint8_t* data, size_t size);
    void login(ConnId conn, Conn& c, const uint8_t* data, size_t size, Out& out);
    void chat(Room& room, Member& from, const uint8_t* data, size_t size, Out& out);
    void video(uint32_t room_id, Room& room, Member& from, const uint8_t* data, size_t size, Out& out);
    void voice(Room& room, Member& from, const uint8_t* data, size_t size, Out& out);
    void camera(uint32_t room_id, Room& room, Member& from, const uint8_t* data, size_t size, Out& out);
    void microphone(Room& room, Member& from, bool on, Out& out);
    void speak_request(Room& room, Member& from, Out& out);
    void hand_lowered(Room& room, Member& from, Out& out);
    void remove_user(ConnId conn, Room& room, Member& host, const uint8_t* data, size_t size, Out& out);
    // Takes a user's hand out of the queue; true when it was up.
    static bool lower_hand(Room& room, uint32_t user_id);
    void watch(Room& room, Member& from, const uint8_t* data, size_t size, Out& out);
    void speak_control(Room& room, Member& from, const uint8_t* data, size_t size, Out& out);
    void chat_control(ConnId conn, Room& room, Member& host, const uint8_t* data, size_t size, Out& out);
    void leave(ConnId conn, Out& out, uint32_t ended_by = 2);

    void to_others(Room& room, uint32_t except, uint16_t type, const SharedPayload& payload, Out& out) const;
    void set_watched(Room& room, Member& target, uint32_t watcher, bool watch, Out& out);
    // Asks `sender` for a key frame now, or marks it owed when the last request was too recent.
    void request_key_frame(Member& sender, Out& out);
    // A seat held by another connection: true when this login may take it over.
    bool may_take_over(const SeatBook::Holder& holder, const Conn& c, const proto::Login& l) const;
    // Tells the session of `conn` that its user logged in elsewhere, and closes it.
    void push_out(ConnId conn, Out& out);
    // Reports a broken rule (rate-limited per connection) and counts it; true when the connection is to be
    // closed for it.
    bool violation(ConnId conn, const std::string& why);
    void drop(ConnId conn, const std::string& why) { violation(conn, why); }
    // A packet over a rate: dropped and reported (rate-limited), not counted against the connection.
    void over_rate(ConnId conn, const std::string& why);
    // Writes the drop to the log, at most one line a second per connection (k null: no connection known).
    void log_drop(ConnId conn, Conn* k, const std::string& why);
    int64_t steady_ms() const;
    int64_t unix_ms() const;
    std::optional<ConnId> closing_; // set by a violation that ends the connection
    std::shared_ptr<UnauthenticatedLog> unauthenticated_log_;

    HubConfig config_;
    std::map<uint32_t, Room> rooms_;
    std::map<ConnId, Conn> conns_;
};

} // namespace room
