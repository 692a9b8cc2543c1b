// A room server as a cluster node (see cluster_node.h).
#include "cluster/cluster_node.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "wire/framing.h"
#include "wire/packet_types.h"

namespace cluster {
namespace {

const std::string kPrefix = "quorin.";
const std::string kBroadcast = "quorin.b";
const std::string kNodeKeyPrefix = "quorin:node:";

std::string video_subject(uint32_t room, uint32_t sender) {
    return kPrefix + "v." + std::to_string(room) + "." + std::to_string(sender);
}
std::string voice_subject(uint32_t room) {
    return kPrefix + "a." + std::to_string(room);
}
std::string node_key(const std::string& node) {
    return kNodeKeyPrefix + node;
}
std::string presence_key(uint32_t room) {
    return "quorin:presence:" + std::to_string(room);
}
std::string room_host_key(uint32_t room) {
    return "quorin:roomhost:" + std::to_string(room);
}
// A user's seat in the cluster: "ROOM NODE CONNECTION ADDRESS" of the connection the user is logged in on.
std::string seat_key(uint32_t user) {
    return "quorin:seat:" + std::to_string(user);
}
const std::string kNickKey = "quorin:dir:nick";
const std::string kHostKey = "quorin:dir:host";
const std::string kDirectoryMark = "quorin:dir:loaded";

// Renews a lease only when it is still ours; 0 when it is gone or another node's.
const std::string kRenew = "if redis.call('get', KEYS[1]) == ARGV[1] then "
                           "return redis.call('pexpire', KEYS[1], ARGV[2]) else return 0 end";
// Takes a user's seat for a login: KEYS[1] the seat; ARGV: the new record, its room, "1" for a reconnect,
// its address, the prefix of the nodes' keys, the record's time to live, and the login's proof of its
// session: the hex SHA-256 of the session token it brings ("-" for none; "" when the rooms give no tokens,
// where a reconnect from the seated session's address is its proof). A seat whose node is alive stays,
// whatever its room, unless the login is a reconnect with that proof: then it is taken over, and ("push") the
// old session is to go; in the same room its home sends it away itself, as one room server does. Otherwise
// ("refuse") nothing is written. A record without its session's proof yet, met by a reconnect that brings a
// token, is one whose proof is being written (the token left its node a moment ago): "wait", nothing
// written, and the login asks again shortly. Redis runs a script whole, so of logins at the same moment one
// wins. Answers the verdict and the record that was there.
const std::string kClaimSeat =
    "local old = redis.call('get', KEYS[1]) "
    "if old then "
    "  local room, node, conn, ip, proof = string.match(old, '^(%d+) ([%w_-]+) (%d+) (%d+) ?(%x*)$') "
    "  if room and redis.call('exists', ARGV[5] .. node) == 1 then "
    "    if ARGV[3] ~= '1' then return {'refuse', old} end "
    "    if ARGV[7] == '' then "
    "      if ip ~= ARGV[4] then return {'refuse', old} end "
    "    elseif proof == '' and ARGV[7] ~= '-' then return {'wait', old} "
    "    elseif proof ~= ARGV[7] then return {'refuse', old} end "
    "    redis.call('set', KEYS[1], ARGV[1], 'PX', ARGV[6]) "
    "    if room == ARGV[2] then return {'seat', old} end "
    "    return {'push', old} "
    "  end "
    "end "
    "redis.call('set', KEYS[1], ARGV[1], 'PX', ARGV[6]) "
    "return {'seat', old or ''}";
// Adds the session's proof to its seat's record once the room has given the session its token: KEYS[1] the
// seat; ARGV: the record without it, the record with it, the time to live. Nothing when the seat is not that
// record any more (the session was pushed out meanwhile).
const std::string kProveSeat = "if redis.call('get', KEYS[1]) == ARGV[1] then "
                               "return redis.call('set', KEYS[1], ARGV[2], 'PX', ARGV[3]) end return 0";
// Gives a seat back when it is still this record's (with or without its session's proof, whose writing may
// not have been answered): KEYS[1] the seat; ARGV: the record, what to put back (nothing: the seat is
// freed), its time to live, and the record without the proof (optional).
const std::string kReleaseSeat = "local now = redis.call('get', KEYS[1]) "
                                 "if now == ARGV[1] or (ARGV[4] and ARGV[4] ~= '' and now == ARGV[4]) then "
                                 "if ARGV[2] == '' then return redis.call('del', KEYS[1]) end "
                                 "return redis.call('set', KEYS[1], ARGV[2], 'PX', ARGV[3]) end return 0";
// Keeps a seat's record alive while it is this record's, and writes it again when Redis lost it (restarted
// empty) or still holds it without the session's proof (its writing was not answered); another session's
// record is left to run out. KEYS[1] the seat; ARGV: the record, its time to live, the record without the
// proof.
const std::string kRenewSeat = "local now = redis.call('get', KEYS[1]) "
                               "if not now or (now ~= ARGV[1] and now == ARGV[3]) then "
                               "  return redis.call('set', KEYS[1], ARGV[1], 'PX', ARGV[2]) end "
                               "if now == ARGV[1] then return redis.call('pexpire', KEYS[1], ARGV[2]) end "
                               "return 0";
// Seats whose giving back Redis did not confirm are asked again, at most this many at a time.
constexpr size_t kMaxUnreleased = 20000;
// A seat's record lives this long unless its node renews it (each node does every few seconds).
constexpr int kSeatTtlMs = 30000;
constexpr int kSeatRenewTicks = 10;
// A reconnect that finds its seat's record still without the session's proof asks again this often.
constexpr int kClaimRetryMs = 50;
// Packets a connection may send while its login waits for Redis.
constexpr size_t kMaxHeld = 64;

// Gives a lease up only when it is still ours.
const std::string kRelease = "if redis.call('get', KEYS[1]) == ARGV[1] then "
                             "return redis.call('del', KEYS[1]) else return 0 end";

// A decimal number that fits 32 bits, nothing else.
std::optional<uint32_t> parse_u32(const std::string& s) {
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return std::nullopt;
    return uint32_t(v);
}

// What a seat's record keeps of a session's token: its SHA-256 in hex, so that neither Redis nor a log line
// that quotes a record hands out what takes the seat over.
std::string token_proof(const std::array<uint8_t, 16>& token) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : room::session_proof(token)) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

// The proof a seat's record names ("ROOM NODE CONNECTION ADDRESS PROOF"), all zero when it names none.
room::SessionProof proof_of(const std::string& record) {
    room::SessionProof proof{};
    const size_t at = record.rfind(' ');
    if (at == std::string::npos || record.size() - at - 1 != 2 * proof.size())
        return {};
    auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (size_t i = 0; i < proof.size(); ++i) {
        const int hi = nibble(record[at + 1 + 2 * i]), lo = nibble(record[at + 2 + 2 * i]);
        if (hi < 0 || lo < 0)
            return {};
        proof[i] = uint8_t(hi << 4 | lo);
    }
    return proof;
}

// A seat's record without the session's proof ("ROOM NODE CONNECTION ADDRESS").
std::string unproven(const std::string& record) {
    size_t spaces = 0;
    for (size_t i = 0; i < record.size(); ++i)
        if (record[i] == ' ' && ++spaces == 4)
            return record.substr(0, i);
    return record;
}

// "quorin.v.ROOM.USER" or "quorin.a.ROOM" into its numbers.
bool parse_media_subject(const std::string& subject, char kind, uint32_t* room, uint32_t* user) {
    const std::string head = kPrefix + kind + ".";
    if (subject.compare(0, head.size(), head) != 0)
        return false;
    const std::string rest = subject.substr(head.size());
    const size_t dot = rest.find('.');
    auto r = parse_u32(rest.substr(0, dot));
    if (!r)
        return false;
    *room = *r;
    if (kind == 'a')
        return dot == std::string::npos;
    if (dot == std::string::npos)
        return false;
    auto u = parse_u32(rest.substr(dot + 1));
    if (!u)
        return false;
    *user = *u;
    return true;
}

// Hub output for a connection we know nothing of any more: the edge closes it, and its user reconnects.
Down close_one(room::ConnId remote) {
    Down d;
    Down::Group g;
    g.close = true;
    g.conns.push_back(remote);
    d.groups.push_back(std::move(g));
    return d;
}

Down refuse_one(room::ConnId remote, uint32_t result) {
    Down d;
    Down::Group g;
    g.type = pkt::kLoginResult;
    proto::LoginResult r;
    r.result = result;
    g.payload = r.encode();
    g.conns.push_back(remote);
    d.groups.push_back(std::move(g));
    return d;
}

// The rates a socket is held to (room_hub.h): the same for what comes over the bus.
constexpr double kVideoPerSecond = 60;
constexpr double kVoicePerSecond = 100;
constexpr size_t kMaxVirtualPerNode = 20000;
constexpr size_t kMaxWaitingPerNode = 512;
constexpr size_t kMaxRemoteSenders = 4096;

} // namespace

bool ClusterNode::Bucket::take(double per_second, double burst, int64_t now_ms) {
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

std::string ClusterNode::lease_key(uint32_t room) {
    return "quorin:home:" + std::to_string(room);
}
std::string ClusterNode::node_subject(const std::string& node) {
    return kPrefix + "n." + node;
}

ClusterNode::ClusterNode(asio::io_context& io, ClusterConfig config)
    : io_(io), config_(std::move(config)), bus_(io, config_.nats_url, "velmor " + config_.node),
      store_(io, config_.redis_host, config_.redis_port, config_.redis_timeout_ms), hub_([this] {
          room::HubConfig c = config_.hub;
          c.directory = UserDirectory();
          if (!c.log)
              c.log = config_.log;
          return c;
      }()),
      timer_(io), claim_timer_(io) {}

ClusterNode::~ClusterNode() {
    stop();
}

int64_t ClusterNode::now_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ClusterNode::log(const std::string& line) const {
    if (config_.log)
        config_.log(line);
}

void ClusterNode::log_limited(const std::string& kind, const std::string& line) {
    const int64_t now = now_ms();
    auto& last = last_logged_[kind];
    if (last != 0 && now - last < 1000)
        return;
    last = now;
    log(line);
}

void ClusterNode::drop_log(room::ConnId conn, Local* l, const std::string& why) {
    if (!l || l->phase != Local::In) {
        log_unauthenticated("connection " + std::to_string(conn) + ": dropped packet: " + why);
        return;
    }
    const int64_t now = now_ms();
    if (now - l->last_drop_log_ms < 1000)
        return;
    l->last_drop_log_ms = now;
    log("connection " + std::to_string(conn) + ": dropped packet: " + why);
}

bool ClusterNode::start(std::string* error) {
    if (!valid_node_name(config_.node)) {
        if (error)
            *error = "bad node name '" + config_.node + "' (1 to 32 of A-Z a-z 0-9 - _)";
        return false;
    }
    bus_.on_state([this](bool up) { nats_state(up); });
    if (!bus_.start(error))
        return false;
    if (!bus_.subscribe(
            node_subject(config_.node),
            [this](const std::string& s, std::vector<uint8_t> d) { on_node_message(s, std::move(d)); }) ||
        !bus_.subscribe(kBroadcast, [this](const std::string& s, std::vector<uint8_t> d) {
            on_broadcast(s, std::move(d));
        })) {
        if (error)
            *error = "cannot subscribe on NATS";
        return false;
    }
    if (!bus_.connected()) {
        nats_down_since_ = now_ms();
        log("NATS at " + config_.nats_url + " not reachable yet; cluster logins are refused until it is");
    }
    store_.start();
    store_.run(
        {{"PING"}},
        [this](AsyncStore::Replies r) {
            redis_ok_ = r && !r->empty() && r->front().type == Reply::Status;
            if (!redis_ok_)
                log("Redis at " + config_.redis_host + ":" + std::to_string(config_.redis_port) +
                    " not reachable yet; cluster logins are refused until it is");
        },
        config_.login_redis_ms);
    load_directory();
    log("cluster node " + config_.node + " on " + config_.nats_url + " and redis://" + config_.redis_host +
        ":" + std::to_string(config_.redis_port));
    last_counts_ = bus_.counts();
    last_counts_ms_ = now_ms();
    next_status_ms_ = now_ms() + int64_t(config_.status_interval_s) * 1000;
    tick();
    return true;
}

void ClusterNode::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    timer_.cancel();
    claim_timer_.cancel();
    // The others need not wait for the leases to run out.
    std::vector<std::vector<std::string>> cmds;
    for (const auto& [room, h] : homed_)
        cmds.push_back({"EVAL", kRelease, "1", lease_key(room), config_.node});
    cmds.push_back({"DEL", node_key(config_.node)});
    for (const auto& [c, l] : locals_)
        if (!l.seat_record.empty())
            cmds.push_back({"EVAL", kReleaseSeat, "1", seat_key(l.user), l.seat_record, "", "0"});
    for (const auto& [key, record] : unreleased_)
        cmds.push_back({"EVAL", kReleaseSeat, "1", key, record, "", "0"});
    store_.run_and_wait(cmds, 1000);
    publish(kBroadcast, Bye{config_.node}.encode());
}

void ClusterNode::load_directory() {
    if (config_.directory_file.empty())
        return;
    UserDirectory dir;
    std::vector<std::string> warnings;
    if (!dir.load(config_.directory_file, &warnings)) {
        log_limited("directory", "cannot read the user directory " + config_.directory_file);
        return;
    }
    std::vector<std::vector<std::string>> cmds;
    std::vector<std::string> nick{"HSET", kNickKey}, host{"HSET", kHostKey};
    for (const auto& [user, name] : dir.nicknames()) {
        nick.push_back(std::to_string(user));
        nick.push_back(name);
    }
    for (const auto& [room, user] : dir.hosts()) {
        host.push_back(std::to_string(room));
        host.push_back(std::to_string(user));
    }
    if (nick.size() > 2)
        cmds.push_back(nick);
    if (host.size() > 2)
        cmds.push_back(host);
    cmds.push_back({"SET", kDirectoryMark, "1"});
    file_directory_ = dir;
    const std::string what = "user directory " + config_.directory_file + " loaded into Redis (" +
                             std::to_string(dir.nicknames().size()) + " users, " +
                             std::to_string(dir.hosts().size()) + " room hosts)";
    store_.run(
        std::move(cmds),
        [this, what](AsyncStore::Replies r) {
            if (r)
                log(what);
        },
        10000);
}

void ClusterNode::nats_state(bool up) {
    if (up) {
        if (nats_down_since_ >= 0)
            log("NATS connection up");
        nats_down_since_ = -1;
    } else if (nats_down_since_ < 0) {
        nats_down_since_ = now_ms();
        log("NATS connection lost; trying again");
    }
}

void ClusterNode::deliver(const Out& out) {
    if (!out.empty() && sink_)
        sink_(out);
}

void ClusterNode::publish(const std::string& subject, const proto::Bytes& bytes) {
    if (!bus_.publish(subject, bytes.data(), bytes.size()))
        log_limited("publish", "cannot publish " + std::to_string(bytes.size()) + " bytes on " + subject);
}

// ---- this node's connections
// -------------------------------------------------------------------------------

void ClusterNode::on_connect(room::ConnId conn, uint32_t ip, uint16_t port) {
    Local l;
    l.ip = ip;
    l.port = port;
    locals_[conn] = l;
}

bool ClusterNode::logged_in(room::ConnId conn) const {
    auto it = locals_.find(conn);
    return it != locals_.end() && it->second.phase == Local::In;
}

std::vector<room::Outgoing> ClusterNode::on_packet(room::ConnId conn, uint16_t type, const uint8_t* data,
                                                   size_t size) {
    Out out;
    auto it = locals_.find(conn);
    if (it == locals_.end())
        return out;
    Local& l = it->second;
    if (type == pkt::kLogin && l.phase == Local::Fresh) {
        auto login = proto::Login::decode(data, size);
        if (!login) {
            drop_log(conn, &l, "short login");
            out.push_back({conn, 0, {}, true});
            return out;
        }
        if (!bus_.connected()) {
            log_limited("refused",
                        "login of user " + std::to_string(login->user_id) + " refused: NATS not reachable");
            proto::LoginResult refused;
            refused.result = room::kLoginNoRoomServer;
            out.push_back({conn, pkt::kLoginResult, refused.encode(), false});
            return out;
        }
        l.phase = Local::Resolving;
        l.room = login->room_id;
        l.user = login->user_id;
        l.pending_since = now_ms();
        l.login.assign(data, data + size);
        l.held.clear();
        start_login(conn, l, *login);
        return out;
    }
    if (l.phase == Local::Resolving) {
        // After the login, before its answer: kept for the home, in order (media goes nowhere yet).
        if (type == pkt::kVideoFrame || type == pkt::kVoice)
            return out;
        if (l.held.size() >= kMaxHeld) {
            drop_log(conn, &l, "type " + std::to_string(type) + " while the login waits; too many");
            return out;
        }
        l.held.emplace_back(type, proto::Bytes(data, data + size));
        return out;
    }
    if (l.phase == Local::Fresh) {
        // As from a socket into one room server: nothing before the login.
        drop_log(conn, &l, "type " + std::to_string(type) + " before login");
        out.push_back({conn, 0, {}, true});
        return out;
    }
    if (l.phase == Local::In) {
        switch (type) {
        case pkt::kVideoFrame:
            video_from_local(conn, l, data, size, out);
            return out;
        case pkt::kVoice:
            voice_from_local(conn, l, data, size, out);
            return out;
        case pkt::kWatchVideo:
            watch_from_local(conn, l, data, size);
            break;
        case pkt::kMicrophoneOn:
            if (l.block.rights & pkt::kRightSpeak)
                l.block.state |= pkt::kStateMicrophone;
            break;
        case pkt::kMicrophoneOff:
            l.block.state &= ~uint32_t(pkt::kStateMicrophone);
            break;
        case pkt::kCameraState:
            if (auto c = proto::CameraState::decode(data, size); c && (l.block.rights & pkt::kRightCamera))
                l.block.stream = c->stream;
            break;
        default:
            break;
        }
    } else if (type == pkt::kVideoFrame || type == pkt::kVoice) {
        return out; // media before the login is answered goes nowhere
    }
    forward(conn, l, type, data, size, out);
    return out;
}

void ClusterNode::forward(room::ConnId conn, Local& l, uint16_t type, const uint8_t* data, size_t size,
                          Out& out) {
    if (l.home == config_.node) {
        if (!l.in_hub) {
            hub_.on_connect(conn, l.ip, l.port);
            l.in_hub = true;
        }
        if (type == pkt::kLogin && !admitting_.count(conn) && !seats_.count(conn)) {
            if (auto login = proto::Login::decode(data, size)) {
                admit(conn, config_.node, conn, *login, proto::Bytes(data, data + size));
                return;
            }
        }
        hub_packet(conn, type, data, size, out);
        return;
    }
    Up up;
    up.node = config_.node;
    up.conn = conn;
    up.ip = l.ip;
    up.port = l.port;
    up.type = type;
    up.payload.assign(data, data + size);
    publish(node_subject(l.home), up.encode());
}

void ClusterNode::start_login(room::ConnId conn, Local& l, const proto::Login& login) {
    const uint64_t ticket = next_ticket_++;
    l.ticket = ticket;
    const uint32_t room = login.room_id;
    // A home this node already serves members of, and has not found gone, is the home: a lease missing for a
    // moment (Redis restarted) is the home's to take again, not a login's.
    bool known = homed_.count(room) > 0;
    if (auto v = views_.find(room); v != views_.end() && !v->second.home.empty() && v->second.missing == 0)
        known = true;
    AsyncStore::Commands cmds;
    if (known) {
        cmds.push_back({"PING"}); // Redis is asked all the same: without it a login is refused
        cmds.push_back({"PING"});
    } else {
        cmds.push_back({"SET", lease_key(room), config_.node, "NX", "PX", std::to_string(config_.lease_ms)});
        cmds.push_back({"GET", lease_key(room)});
    }
    l.seat_record =
        std::to_string(room) + " " + config_.node + " " + std::to_string(conn) + " " + std::to_string(l.ip);
    l.seat_before.clear();
    l.pushed.clear();
    const bool reconnect = (login.flags & proto::Login::kReconnectFlag) != 0;
    std::string proof;
    if (config_.hub.session_tokens)
        proof = login.token ? token_proof(*login.token) : "-";
    cmds.push_back({"EVAL", kClaimSeat, "1", seat_key(login.user_id), l.seat_record, std::to_string(room),
                    reconnect ? "1" : "0", std::to_string(l.ip), kNodeKeyPrefix, std::to_string(kSeatTtlMs),
                    proof});
    store_.run(
        std::move(cmds),
        [this, conn, ticket, known](AsyncStore::Replies r) {
            login_resolved(conn, ticket, !known, std::move(r));
        },
        config_.login_redis_ms);
}

void ClusterNode::login_resolved(room::ConnId conn, uint64_t ticket, bool asked_lease,
                                 AsyncStore::Replies r) {
    auto it = locals_.find(conn);
    if (it == locals_.end() || it->second.phase != Local::Resolving || it->second.ticket != ticket)
        return; // gone meanwhile: its seat was given back as it went
    Local& l = it->second;
    Out out;
    auto refuse = [&](uint32_t result) {
        l.phase = Local::Fresh;
        l.login.clear();
        l.held.clear();
        l.pushed.clear();
        proto::LoginResult lr;
        lr.result = result;
        out.push_back({conn, pkt::kLoginResult, lr.encode(), false});
        deliver(out);
    };
    if (!r || r->size() < 3 || !bus_.connected()) {
        if (r && r->size() >= 3 && (*r)[2].type == Reply::Array && (*r)[2].elements.size() == 2 &&
            (*r)[2].elements[0].str != "refuse") {
            l.seat_before = (*r)[2].elements[1].str;
            release_seat(l, true); // taken just now, for nothing
        } else if (!r && !l.seat_record.empty()) {
            unreleased(seat_key(l.user), l.seat_record); // the claim may have been written all the same
        }
        l.seat_record.clear();
        log_limited("refused", "login of user " + std::to_string(l.user) +
                                   " refused: " + (r ? "NATS" : "Redis") + " not reachable");
        return refuse(room::kLoginNoRoomServer);
    }
    const Reply& claim = (*r)[2];
    std::string verdict, before;
    if (claim.type == Reply::Array && claim.elements.size() == 2) {
        verdict = claim.elements[0].str;
        before = claim.elements[1].str;
    }
    if (verdict == "wait") {
        // Nothing was written. Never seated without the proof: asked again until it is there or the time is
        // up; then the login is answered with a result its client tries again after, not with a final one.
        l.seat_record.clear();
        if (now_ms() - l.pending_since < config_.proof_wait_ms)
            return claim_later(conn, ticket);
        log_unauthenticated("login of user " + std::to_string(l.user) + " into room " +
                            std::to_string(l.room) + " refused for now: the seat's record (" + before +
                            ") names no session's proof yet");
        return refuse(room::kLoginNoRoomServer);
    }
    if (verdict == "refuse") {
        l.seat_record.clear();
        log_unauthenticated("login of user " + std::to_string(l.user) + " into room " +
                            std::to_string(l.room) + " refused: already logged in (" + before + ")");
        return refuse(room::kLoginAlreadyIn);
    }
    if (verdict != "seat" && verdict != "push") {
        l.seat_record.clear();
        log_limited("claim", "login of user " + std::to_string(l.user) + " refused: Redis answered " +
                                 (claim.type == Reply::Error ? claim.str : "something else"));
        return refuse(room::kLoginNoRoomServer);
    }
    l.seat_before = before;
    if (verdict == "push")
        l.pushed = before;
    std::string home;
    if (homed_.count(l.room))
        home = config_.node;
    else if (asked_lease)
        home = home_from(l.room, (*r)[0], (*r)[1], views_.count(l.room) > 0, out);
    else if (auto v = views_.find(l.room); v != views_.end())
        home = v->second.home;
    if (home.empty()) {
        release_seat(l, true);
        return refuse(room::kLoginNoRoomServer);
    }
    l.phase = Local::Pending;
    l.home = home;
    l.pending_since = now_ms();
    const proto::Bytes login = l.login;
    forward(conn, l, pkt::kLogin, login.data(), login.size(), out);
    auto held = std::move(l.held);
    l.held.clear();
    for (const auto& [type, bytes] : held) {
        Out more = on_packet(conn, type, bytes.data(), bytes.size());
        out.insert(out.end(), more.begin(), more.end());
    }
    deliver(out);
}

void ClusterNode::claim_later(room::ConnId conn, uint64_t ticket) {
    claims_waiting_.emplace_back(conn, ticket);
    if (claim_timer_armed_)
        return;
    claim_timer_armed_ = true;
    claim_timer_.expires_after(std::chrono::milliseconds(kClaimRetryMs));
    claim_timer_.async_wait([this](std::error_code ec) {
        if (ec)
            return;
        claim_timer_armed_ = false;
        const auto waiting = std::move(claims_waiting_);
        claims_waiting_.clear();
        for (const auto& [conn, ticket] : waiting) {
            auto it = locals_.find(conn);
            if (it == locals_.end() || it->second.phase != Local::Resolving || it->second.ticket != ticket)
                continue; // gone meanwhile
            if (auto login = proto::Login::decode(it->second.login.data(), it->second.login.size()))
                start_login(conn, it->second, *login);
        }
    });
}

std::string ClusterNode::home_from(uint32_t room, const Reply& set, const Reply& get, bool rebuild,
                                   Out& out) {
    if ((set.type == Reply::Status && set.str == "OK") ||
        (get.type == Reply::String && get.str == config_.node)) {
        become_home(room, rebuild, out);
        return config_.node;
    }
    if (get.type == Reply::String && valid_node_name(get.str))
        return get.str;
    return {};
}

void ClusterNode::release_seat(Local& l, bool restore) {
    if (l.seat_record.empty())
        return;
    const std::string back = restore ? l.seat_before : std::string();
    std::string key = seat_key(l.user), record = l.seat_record;
    store_.run(
        {{"EVAL", kReleaseSeat, "1", key, record, back, std::to_string(kSeatTtlMs), unproven(record)}},
        [this, key, record](AsyncStore::Replies r) {
            if (!r)
                unreleased(key, record);
        },
        10000);
    l.seat_record.clear();
    l.seat_before.clear();
    l.pushed.clear();
}

void ClusterNode::unreleased(const std::string& key, const std::string& record) {
    // Asked again until Redis answers: a record left behind would keep its user out of every other room
    // while this node lives. The record names this connection alone, so asking late frees nothing else.
    // What it replaced is not put back then: that session's own node writes its record again if it is
    // still there.
    if (unreleased_.size() < kMaxUnreleased)
        unreleased_.insert({key, record});
    else
        log_limited("unreleased", "too many seats waiting to be given back; " + key + " runs out by itself");
}

void ClusterNode::retry_releases() {
    if (unreleased_.empty() || releasing_)
        return;
    AsyncStore::Commands cmds;
    std::vector<std::pair<std::string, std::string>> asked(unreleased_.begin(), unreleased_.end());
    for (const auto& [key, record] : asked)
        cmds.push_back({"EVAL", kReleaseSeat, "1", key, record, "", "0"});
    releasing_ = true;
    store_.run(
        std::move(cmds),
        [this, asked = std::move(asked)](AsyncStore::Replies r) {
            releasing_ = false;
            if (!r)
                return;
            for (const auto& a : asked)
                unreleased_.erase(a);
        },
        5000);
}

void ClusterNode::prove_seat(Local& l, const uint8_t* data, size_t size) {
    auto token = proto::SessionToken::decode(data, size);
    if (!token || l.seat_record.empty() || l.seat_record != unproven(l.seat_record))
        return;
    // From now on the record names the session's proof; a reconnect of the session brings the token back.
    const std::string before = l.seat_record;
    l.seat_record = before + " " + token_proof(token->token);
    const std::string key = seat_key(l.user), record = l.seat_record;
    // Not answered: the seat's renewal writes it, and giving the seat back takes either form. Redis runs this
    // node's commands in order, so a session that goes meanwhile gives back the record written here.
    store_.run(
        {{"EVAL", kProveSeat, "1", key, before, record, std::to_string(kSeatTtlMs)}},
        [](AsyncStore::Replies) {}, 5000);
}

void ClusterNode::push_out(const std::string& record, Out& out) {
    // "ROOM NODE CONNECTION ADDRESS", as written by the node of that connection.
    std::istringstream in(record);
    std::string room, node, conn;
    in >> room >> node >> conn;
    uint64_t c = 0;
    if (!conn.empty() && conn.size() <= 19 && conn.find_first_not_of("0123456789") == std::string::npos)
        c = std::stoull(conn);
    if (!valid_node_name(node) || !c)
        return;
    if (node != config_.node)
        publish(node_subject(node), Push{config_.node, c}.encode());
    else
        push_local(c, out);
}

void ClusterNode::check_push(room::ConnId c) {
    // Believed only when Redis agrees: the user's seat is another session's now. What comes over the bus
    // cannot end a session by itself.
    auto l = locals_.find(c);
    if (l == locals_.end() || l->second.seat_record.empty())
        return;
    store_.run(
        {{"GET", seat_key(l->second.user)}},
        [this, c, record = l->second.seat_record](AsyncStore::Replies r) {
            auto l = locals_.find(c);
            if (!r || l == locals_.end() || l->second.seat_record != record)
                return;
            const Reply& now = r->front();
            if (now.type != Reply::String || now.str == record || now.str == unproven(record)) {
                log_limited("push", "connection " + std::to_string(c) +
                                        ": told over the bus to go, but it holds its seat; ignored");
                return;
            }
            Out out;
            push_local(c, out);
            deliver(out);
        },
        5000);
}

void ClusterNode::push_local(room::ConnId c, Out& out) {
    auto l = locals_.find(c);
    if (l == locals_.end() || (l->second.phase != Local::In && l->second.phase != Local::Pending))
        return;
    // As one room server does it: told why, in words and with the result its client takes as final.
    out.push_back({c, pkt::kSystemText, proto::SystemText{room::kGbkLoggedInElsewhere}.encode(), false});
    proto::LoginResult pushed;
    pushed.result = room::kLoginAlreadyIn;
    out.push_back({c, pkt::kLoginResult, pushed.encode(), false});
    out.push_back({c, 0, {}, true});
}

void ClusterNode::video_from_local(room::ConnId conn, Local& l, const uint8_t* data, size_t size, Out& out) {
    if (!(l.block.rights & pkt::kRightCamera)) {
        drop_log(conn, &l, "type 10 without right 2");
        return;
    }
    if (!l.video.take(kVideoPerSecond, kVideoPerSecond, now_ms())) {
        drop_log(conn, &l, "video frames too fast");
        return;
    }
    auto frame = proto::VideoFrame::decode(data, size);
    if (!frame)
        return;
    frame->user_id = l.user;
    frame->room_id = l.room;
    const room::SharedPayload payload = frame->encode();
    auto v = views_.find(l.room);
    if (v == views_.end())
        return;
    auto w = v->second.watchers.find(l.user);
    if (w != v->second.watchers.end())
        for (room::ConnId c : w->second)
            if (c != conn)
                out.push_back({c, pkt::kVideoFrame, payload, false});
    // Once for every node with a watcher: the bus sends it only to the nodes subscribed to this sender.
    if (payload.size() <= bus_.max_payload())
        bus_.publish(video_subject(l.room, l.user), payload.data(), payload.size());
    else
        log_limited("bigframe",
                    "video frame of " + std::to_string(payload.size()) + " bytes not sent to other nodes");
}

void ClusterNode::voice_from_local(room::ConnId conn, Local& l, const uint8_t* data, size_t size, Out& out) {
    // Speech still on its way when the right or the microphone went is normal, not a broken rule.
    if (!(l.block.rights & pkt::kRightSpeak) || !(l.block.state & pkt::kStateMicrophone))
        return;
    if (!l.voice.take(kVoicePerSecond, kVoicePerSecond, now_ms())) {
        drop_log(conn, &l, "voice packets too fast");
        return;
    }
    auto packet = proto::VoicePacket::decode(data, size);
    if (!packet)
        return;
    packet->user_id = l.user;
    const room::SharedPayload payload = packet->encode();
    auto v = views_.find(l.room);
    if (v == views_.end())
        return;
    for (room::ConnId c : v->second.members)
        if (c != conn)
            out.push_back({c, pkt::kVoice, payload, false});
    bus_.publish(voice_subject(l.room), payload.data(), payload.size());
}

void ClusterNode::watch_from_local(room::ConnId conn, Local& l, const uint8_t* data, size_t size) {
    auto w = proto::WatchVideo::decode(data, size);
    if (!w || w->user_id == l.user)
        return;
    auto v = views_.find(l.room);
    if (v == views_.end())
        return;
    View& view = v->second;
    if (w->start) {
        if (l.watching.size() >= kMaxWatches)
            return;
        l.watching.insert(w->user_id);
        auto& set = view.watchers[w->user_id];
        set.insert(conn);
        if (!view.video_subs.count(w->user_id)) {
            const uint32_t room = l.room;
            const uint64_t id = bus_.subscribe(
                video_subject(room, w->user_id),
                [this](const std::string& s, std::vector<uint8_t> d) { on_video(s, std::move(d)); });
            if (id)
                view.video_subs[w->user_id] = id;
        }
    } else {
        l.watching.erase(w->user_id);
        unwatch(view, l.room, w->user_id, conn);
    }
}

void ClusterNode::unwatch(View& view, uint32_t, uint32_t sender, room::ConnId conn) {
    auto set = view.watchers.find(sender);
    if (set == view.watchers.end())
        return;
    set->second.erase(conn);
    if (!set->second.empty())
        return;
    view.watchers.erase(set);
    auto sub = view.video_subs.find(sender);
    if (sub != view.video_subs.end()) {
        bus_.unsubscribe(sub->second);
        view.video_subs.erase(sub);
    }
    view.remote_video.erase(sender);
}

void ClusterNode::leave_view(room::ConnId conn, Local& l) {
    auto v = views_.find(l.room);
    if (v == views_.end())
        return;
    View& view = v->second;
    view.members.erase(conn);
    for (uint32_t sender : l.watching)
        unwatch(view, l.room, sender, conn);
    l.watching.clear();
    if (!view.members.empty())
        return;
    for (auto& [sender, id] : view.video_subs)
        bus_.unsubscribe(id);
    if (view.voice_sub)
        bus_.unsubscribe(view.voice_sub);
    views_.erase(v);
}

std::vector<room::Outgoing> ClusterNode::on_disconnect(room::ConnId conn) {
    Out out;
    auto it = locals_.find(conn);
    if (it == locals_.end())
        return out;
    Local& l = it->second;
    release_seat(l, false);
    admitting_.erase(conn);
    if (l.phase != Local::Fresh || l.in_hub) {
        if (l.in_hub) {
            const bool seated = seats_.count(conn) > 0;
            Out hub_out = hub_.on_disconnect(conn);
            if (seated)
                seat_left(conn);
            login_room_.erase(conn);
            route(hub_out, out);
        } else if (!l.home.empty() && l.phase != Local::Resolving) {
            publish(node_subject(l.home), Gone{config_.node, conn}.encode());
        }
    }
    if (l.phase == Local::In)
        leave_view(conn, l);
    locals_.erase(conn);
    // Also when the server closed this connection itself, the room's other users are to hear of it: sent
    // from here, since the server does not deliver what a close brings.
    deliver(out);
    return {};
}

void ClusterNode::to_locals(const Out& out, Out& sent) {
    for (const room::Outgoing& o : out) {
        auto it = locals_.find(o.to);
        if (it == locals_.end())
            continue;
        Local& l = it->second;
        if (!o.close) {
            if (o.type == pkt::kLoginResult) {
                auto r = proto::LoginResult::decode(o.payload.data(), o.payload.size());
                if (r && l.phase == Local::Pending) {
                    if (r->result == room::kLoginOk) {
                        // Seated: a session of this user elsewhere goes, as on one room server.
                        if (!l.pushed.empty()) {
                            push_out(l.pushed, sent);
                            l.pushed.clear();
                        }
                        l.phase = Local::In;
                        l.login.clear();
                        l.block = proto::UserBlock{};
                        l.block.user_id = l.user;
                        l.block.ip = l.ip;
                        l.block.port = l.port;
                        l.block.rights = r->rights;
                        l.block.nickname = r->nickname;
                        View& view = views_[l.room];
                        if (view.home.empty() || view.home != l.home)
                            view.home = l.home;
                        view.members.insert(o.to);
                        if (!view.voice_sub)
                            view.voice_sub = bus_.subscribe(
                                voice_subject(l.room), [this](const std::string& s, std::vector<uint8_t> d) {
                                    on_voice(s, std::move(d));
                                });
                    } else {
                        l.phase = Local::Fresh;
                        l.login.clear();
                        release_seat(l, true);
                        if (!l.in_hub)
                            l.home.clear();
                    }
                }
            } else if (o.type == pkt::kSessionToken && l.phase == Local::In) {
                prove_seat(l, o.payload.data(), o.payload.size());
            } else if (o.type == pkt::kRightsChange && l.phase == Local::In) {
                auto c = proto::RightsChange::decode(o.payload.data(), o.payload.size());
                if (c && c->user_id == l.user) {
                    if (c->operation == pkt::kRightsAdd)
                        l.block.rights |= c->rights;
                    else if (c->operation == pkt::kRightsRemove)
                        l.block.rights &= ~c->rights;
                    if (!(l.block.rights & pkt::kRightSpeak))
                        l.block.state &= ~uint32_t(pkt::kStateMicrophone);
                }
            } else if (o.type == pkt::kUserLeft && l.phase == Local::In) {
                auto left = proto::UserLeft::decode(o.payload.data(), o.payload.size());
                auto v = views_.find(l.room);
                if (left && v != views_.end() && l.watching.erase(left->user_id))
                    unwatch(v->second, l.room, left->user_id, o.to);
            }
        }
        sent.push_back(o);
    }
}

void ClusterNode::on_video(const std::string& subject, std::vector<uint8_t> data) {
    uint32_t room = 0, sender = 0;
    if (!parse_media_subject(subject, 'v', &room, &sender))
        return;
    auto v = views_.find(room);
    if (v == views_.end())
        return;
    View& view = v->second;
    auto w = view.watchers.find(sender);
    if (w == view.watchers.end() || data.size() > framing::kMaxPayload)
        return;
    auto frame = proto::VideoFrame::decode(data.data(), data.size());
    if (!frame || frame->user_id != sender || frame->room_id != room) {
        log_limited("badvideo", "dropped a video frame from the bus: not what " + subject + " carries");
        return;
    }
    if (view.remote_video.size() >= kMaxRemoteSenders && !view.remote_video.count(sender))
        view.remote_video.clear();
    if (!view.remote_video[sender].take(kVideoPerSecond, kVideoPerSecond, now_ms())) {
        log_limited("fastvideo",
                    "dropped video of user " + std::to_string(sender) + " from the bus: too fast");
        return;
    }
    const room::SharedPayload payload = frame->encode();
    Out out;
    for (room::ConnId c : w->second)
        out.push_back({c, pkt::kVideoFrame, payload, false});
    if (sink_)
        sink_(out);
}

void ClusterNode::on_voice(const std::string& subject, std::vector<uint8_t> data) {
    uint32_t room = 0, unused = 0;
    if (!parse_media_subject(subject, 'a', &room, &unused))
        return;
    auto v = views_.find(room);
    if (v == views_.end())
        return;
    View& view = v->second;
    auto packet = proto::VoicePacket::decode(data.data(), data.size());
    if (!packet) {
        log_limited("badvoice", "dropped a voice packet from the bus: malformed");
        return;
    }
    if (view.remote_voice.size() >= kMaxRemoteSenders && !view.remote_voice.count(packet->user_id))
        view.remote_voice.clear();
    if (!view.remote_voice[packet->user_id].take(kVoicePerSecond, kVoicePerSecond, now_ms())) {
        log_limited("fastvoice",
                    "dropped voice of user " + std::to_string(packet->user_id) + " from the bus: too fast");
        return;
    }
    const room::SharedPayload payload = packet->encode();
    Out out;
    for (room::ConnId c : view.members) {
        auto l = locals_.find(c);
        if (l != locals_.end() && l->second.user != packet->user_id)
            out.push_back({c, pkt::kVoice, payload, false});
    }
    if (sink_)
        sink_(out);
}

void ClusterNode::switch_home(uint32_t room, const std::string& home) {
    auto v = views_.find(room);
    if (v == views_.end() || v->second.home == home)
        return;
    log("room " + std::to_string(room) + ": home now " + home + " (was " + v->second.home + ")");
    v->second.home = home;
    v->second.missing = 0;
    send_rejoin(room, home);
}

void ClusterNode::send_rejoin(uint32_t room, const std::string& home) {
    Rejoin j;
    j.node = config_.node;
    j.room = room;
    auto v = views_.find(room);
    if (v != views_.end())
        for (room::ConnId c : v->second.members) {
            Local& l = locals_.at(c);
            l.home = home;
            Rejoin::Member m;
            m.conn = c;
            m.block = l.block;
            m.proof = proof_of(l.seat_record);
            m.watching.assign(l.watching.begin(), l.watching.end());
            j.members.push_back(std::move(m));
        }
    if (!j.members.empty())
        publish(node_subject(home), j.encode());
    // Logins under way go to the new home.
    for (auto& [c, l] : locals_)
        if (l.phase == Local::Pending && l.room == room && !l.in_hub && !l.login.empty()) {
            l.home = home;
            l.pending_since = now_ms();
            Up up;
            up.node = config_.node;
            up.conn = c;
            up.ip = l.ip;
            up.port = l.port;
            up.type = pkt::kLogin;
            up.payload = l.login;
            publish(node_subject(home), up.encode());
        }
}

// ---- rooms homed here -----------------------------------------------------------------------------------

void ClusterNode::apply_directory(uint32_t user, uint32_t room, const Reply& nick, const Reply& host,
                                  const Reply& chosen_host) {
    if (user && nick.type == Reply::String && !nick.str.empty())
        hub_.directory().set_nickname(
            user, nick.str.substr(0, proto::gbk_fit(nick.str, proto::UserBlock::kNickSize)));
    else if (auto name = user ? file_directory_.nickname(user) : std::nullopt)
        // Redis came back empty and the file is not in it again yet: the node's own copy of the file.
        hub_.directory().set_nickname(user, *name);
    std::optional<uint32_t> id;
    if (host.type == Reply::String)
        id = parse_u32(host.str);
    if (!id && chosen_host.type == Reply::String)
        id = parse_u32(chosen_host.str);
    if (!id)
        id = file_directory_.host_of(room);
    if (id)
        hub_.directory().set_host(room, *id);
}

void ClusterNode::fetch_host(uint32_t room) {
    store_.run(
        {{"HGET", kHostKey, std::to_string(room)}, {"GET", room_host_key(room)}},
        [this, room](AsyncStore::Replies r) {
            if (r && r->size() == 2 && homed_.count(room))
                apply_directory(0, room, Reply{}, (*r)[0], (*r)[1]);
        },
        10000);
}

void ClusterNode::admit(room::ConnId c, const std::string& node, room::ConnId remote,
                        const proto::Login& login, proto::Bytes bytes) {
    const uint64_t ticket = next_ticket_++;
    admitting_[c] = Admitting{ticket, {}};
    const uint32_t room = login.room_id;
    AsyncStore::Commands cmds{{"HGET", kNickKey, std::to_string(login.user_id)},
                              {"HGET", kHostKey, std::to_string(room)},
                              {"GET", room_host_key(room)}};
    if (!homed_.count(room)) {
        // An edge found this node in the room's lease: still so, or free, and the room is homed here.
        cmds.push_back({"SET", lease_key(room), config_.node, "NX", "PX", std::to_string(config_.lease_ms)});
        cmds.push_back({"GET", lease_key(room)});
    }
    store_.run(
        std::move(cmds),
        [this, c, ticket, node, remote, bytes = std::move(bytes)](AsyncStore::Replies r) mutable {
            admitted(c, ticket, node, remote, std::move(bytes), std::move(r));
        },
        config_.login_redis_ms);
}

void ClusterNode::admitted(room::ConnId c, uint64_t ticket, const std::string& node, room::ConnId remote,
                           proto::Bytes bytes, AsyncStore::Replies r) {
    auto a = admitting_.find(c);
    if (a == admitting_.end() || a->second.ticket != ticket)
        return; // the connection went meanwhile
    auto held = std::move(a->second.held);
    admitting_.erase(a);
    auto login = proto::Login::decode(bytes.data(), bytes.size());
    if (!login || (c < kVirtualBase ? !locals_.count(c) : !virtuals_.count(c)))
        return;
    Out out;
    const uint32_t room = login->room_id;
    bool ok = r && r->size() >= 3;
    if (ok && !homed_.count(room))
        ok = r->size() >= 5 && home_from(room, (*r)[3], (*r)[4], views_.count(room) > 0, out) == config_.node;
    if (!ok) {
        log_limited("admit", "login of user " + std::to_string(login->user_id) + " into room " +
                                 std::to_string(room) +
                                 " refused: " + (r ? "the room is not homed here" : "Redis not reachable"));
        proto::LoginResult refused;
        refused.result = room::kLoginNoRoomServer;
        if (c < kVirtualBase) {
            to_locals({{c, pkt::kLoginResult, refused.encode(), false}}, out);
        } else {
            publish(node_subject(node), refuse_one(remote, room::kLoginNoRoomServer).encode());
            hub_.on_disconnect(c);
            by_remote_.erase({node, remote});
            virtuals_.erase(c);
        }
        deliver(out);
        return;
    }
    apply_directory(login->user_id, room, (*r)[0], (*r)[1], (*r)[2]);
    login_room_[c] = {room, login->user_id};
    route(hub_.on_packet(c, pkt::kLogin, bytes.data(), bytes.size()), out);
    for (const auto& [type, data] : held) {
        if (c < kVirtualBase) {
            auto l = locals_.find(c);
            if (l == locals_.end())
                break;
            forward(c, l->second, type, data.data(), data.size(), out);
        } else {
            if (!virtuals_.count(c))
                break;
            up_packet(c, node, remote, type, data.data(), data.size(), out);
        }
    }
    deliver(out);
}

void ClusterNode::hub_packet(room::ConnId c, uint16_t type, const uint8_t* data, size_t size, Out& out) {
    if (auto a = admitting_.find(c); a != admitting_.end()) {
        // The login before it still waits for Redis: this waits behind it.
        if (a->second.held.size() < kMaxHeld)
            a->second.held.emplace_back(type, proto::Bytes(data, data + size));
        else
            log_limited("held", "connection " + std::to_string(c) + ": too much while its login waits");
        return;
    }
    route(hub_.on_packet(c, type, data, size), out);
}

void ClusterNode::up_packet(room::ConnId c, const std::string& node, room::ConnId remote, uint16_t type,
                            const uint8_t* data, size_t size, Out& out) {
    if (admitting_.count(c)) {
        hub_packet(c, type, data, size, out);
        return;
    }
    route(hub_.on_packet(c, type, data, size), out);
    // A connection the hub closed for its conduct is gone from the hub; so is its place here.
    if (!hub_.logged_in(c) && virtuals_.count(c) && type != pkt::kLogin && !seats_.count(c)) {
        by_remote_.erase({node, remote});
        virtuals_.erase(c);
    }
}

void ClusterNode::become_home(uint32_t room, bool rebuild, Out& out) {
    if (homed_.count(room))
        return;
    HomeRoom& h = homed_[room];
    log("room " + std::to_string(room) + ": homed here" + (rebuild ? " (rebuilding it)" : ""));
    publish(kBroadcast, Homed{room, config_.node}.encode());
    fetch_host(room);
    auto v = views_.find(room);
    if (v == views_.end())
        return;
    View& view = v->second;
    view.home = config_.node;
    view.missing = 0;
    if (!rebuild)
        return;
    h.rebuilt_at = now_ms();
    // This node's own members are the first to be back.
    for (room::ConnId c : view.members) {
        Local& l = locals_.at(c);
        l.home = config_.node;
        if (hub_.rights_of(room, l.user))
            continue;
        hub_.adopt(c, room, l.block, proof_of(l.seat_record));
        l.in_hub = true;
        seats_[c] = {room, l.user};
        h.seats.insert(c);
        presence_ops_.push_back({"HSET", presence_key(room), std::to_string(l.user), config_.node});
        for (uint32_t target : l.watching)
            h.pending_watches.push_back({target, l.user});
    }
    // Logins under way here are answered by the new home, this node.
    for (auto& [c, l] : locals_)
        if (l.phase == Local::Pending && l.room == room && !l.login.empty() && !l.in_hub) {
            l.home = config_.node;
            const proto::Bytes login = l.login;
            forward(c, l, pkt::kLogin, login.data(), login.size(), out);
        }
}

void ClusterNode::drop_room(uint32_t room, Out&) {
    auto h = homed_.find(room);
    if (h == homed_.end())
        return;
    log("room " + std::to_string(room) + ": no longer homed here");
    homed_.erase(h);
    for (room::ConnId c : hub_.connections_of(room)) {
        hub_.on_disconnect(c); // nobody is told: the room goes on at its new home
        seats_.erase(c);
        login_room_.erase(c);
        if (c >= kVirtualBase) {
            // Their own nodes bring them to the new home.
            auto v = virtuals_.find(c);
            if (v != virtuals_.end()) {
                by_remote_.erase({v->second.node, v->second.remote});
                virtuals_.erase(v);
            }
        } else if (auto l = locals_.find(c); l != locals_.end()) {
            l->second.in_hub = false; // still a member, now through the new home
        }
    }
    // This node becomes an edge of the room: its members go to the new home, or (none known yet) the room is
    // claimed again at the next tick.
    auto v = views_.find(room);
    if (v == views_.end())
        return;
    v->second.home.clear();
    v->second.missing = 2;
    store_.run(
        {{"GET", lease_key(room)}},
        [this, room](AsyncStore::Replies r) {
            auto v = views_.find(room);
            if (!r || v == views_.end() || !v->second.home.empty() || homed_.count(room))
                return;
            const Reply& home = r->front();
            if (home.type == Reply::String && valid_node_name(home.str) && home.str != config_.node)
                switch_home(room, home.str);
        },
        2000);
}

void ClusterNode::seated(const room::Outgoing& o) {
    auto r = proto::LoginResult::decode(o.payload.data(), o.payload.size());
    auto lr = login_room_.find(o.to);
    if (!r || lr == login_room_.end())
        return;
    const auto [room, user] = lr->second;
    login_room_.erase(lr);
    auto h = homed_.find(room);
    if (r->result != room::kLoginOk || h == homed_.end())
        return;
    seats_[o.to] = {room, user};
    h->second.seats.insert(o.to);
    h->second.by_login.insert(o.to);
    std::string node = config_.node;
    if (o.to >= kVirtualBase) {
        Virtual& v = virtuals_[o.to];
        v.seated = true;
        node = v.node;
    }
    presence_ops_.push_back({"HSET", presence_key(room), std::to_string(user), node});
    // The room's host as chosen at its start, for a new home after a failure (the directory may name none).
    if (r->rights & pkt::kRightHost)
        presence_ops_.push_back({"SET", room_host_key(room), std::to_string(user)});
}

void ClusterNode::announce_adopted(uint32_t room, room::ConnId conn, const proto::UserBlock& block,
                                   Out& out) {
    auto h = homed_.find(room);
    if (h == homed_.end() || h->second.by_login.empty())
        return;
    // A user the others already know is announced again; the client keeps one record of a user.
    Out told;
    const room::SharedPayload entered = block.encode();
    for (room::ConnId c : h->second.by_login) {
        if (c == conn)
            continue;
        told.push_back({c, pkt::kUserEntered, entered, false});
        auto s = seats_.find(c);
        auto other = s == seats_.end() ? std::nullopt : hub_.member(room, s->second.second);
        if (!other)
            continue;
        other->state = 0;
        told.push_back({conn, pkt::kUserEntered, other->encode(), false});
    }
    route(told, out);
}

void ClusterNode::seat_left(room::ConnId conn) {
    auto s = seats_.find(conn);
    if (s == seats_.end())
        return;
    const auto [room, user] = s->second;
    seats_.erase(s);
    presence_ops_.push_back({"HDEL", presence_key(room), std::to_string(user)});
    auto h = homed_.find(room);
    if (h != homed_.end()) {
        h->second.seats.erase(conn);
        h->second.by_login.erase(conn);
    }
    release_if_empty(room);
}

void ClusterNode::release_if_empty(uint32_t room) {
    auto h = homed_.find(room);
    if (h == homed_.end() || !hub_.connections_of(room).empty())
        return;
    homed_.erase(h);
    // An empty room is forgotten, as on one server: the next first user finds it new.
    store_.run({{"EVAL", kRelease, "1", lease_key(room), config_.node},
                {"DEL", room_host_key(room)},
                {"DEL", presence_key(room)}},
               nullptr, 10000);
}

room::ConnId ClusterNode::virtual_for(const std::string& node, room::ConnId remote, bool create) {
    auto it = by_remote_.find({node, remote});
    if (it != by_remote_.end())
        return it->second;
    if (!create)
        return 0;
    size_t from_node = 0, waiting = 0;
    for (const auto& [id, v] : virtuals_)
        if (v.node == node) {
            ++from_node;
            if (!v.seated)
                ++waiting;
        }
    if (from_node >= kMaxVirtualPerNode || waiting >= kMaxWaitingPerNode) {
        log_limited("virtualcap", "node " + node + ": too many connections (" + std::to_string(from_node) +
                                      ", " + std::to_string(waiting) + " not logged in); refused one");
        return 0;
    }
    const room::ConnId id = next_virtual_++;
    virtuals_[id] = Virtual{node, remote, false};
    by_remote_[{node, remote}] = id;
    node_missing_.emplace(node, 0);
    return id;
}

void ClusterNode::route(const Out& hub_out, Out& out) {
    Out local;
    std::map<std::string, Down> down;
    std::map<std::string, std::map<std::pair<const void*, uint16_t>, size_t>> groups;
    std::vector<room::ConnId> closed;
    // Members whose rights or microphone changed: their own nodes gate their voice by what the room holds.
    std::set<std::pair<uint32_t, uint32_t>> changed;
    for (const room::Outgoing& o : hub_out) {
        if (o.type == pkt::kLoginResult && !o.close)
            seated(o);
        if (!o.close && (o.type == pkt::kMicrophoneState || o.type == pkt::kRightsChange)) {
            auto seat = seats_.find(o.to);
            const uint32_t user = o.payload.size() >= 4
                                      ? uint32_t(o.payload.data()[0]) | uint32_t(o.payload.data()[1]) << 8 |
                                            uint32_t(o.payload.data()[2]) << 16 |
                                            uint32_t(o.payload.data()[3]) << 24
                                      : 0;
            if (seat != seats_.end() && user)
                changed.insert({seat->second.first, user});
        }
        if (o.to < kVirtualBase) {
            local.push_back(o);
        } else {
            auto v = virtuals_.find(o.to);
            if (v == virtuals_.end())
                continue;
            Down& d = down[v->second.node];
            auto& index = groups[v->second.node];
            // Copies of one payload (a fan-out) travel once, with the list of their receivers.
            const auto key =
                std::make_pair(o.close ? nullptr : o.payload.identity(), o.close ? uint16_t(0) : o.type);
            const bool shared = o.close || o.payload.identity();
            auto g = shared ? index.find(key) : index.end();
            size_t at;
            if (g != index.end()) {
                at = g->second;
            } else {
                Down::Group group;
                group.type = o.close ? 0 : o.type;
                group.close = o.close;
                if (!o.close)
                    group.payload.assign(o.payload.data(), o.payload.data() + o.payload.size());
                d.groups.push_back(std::move(group));
                at = d.groups.size() - 1;
                if (shared)
                    index[key] = at;
            }
            d.groups[at].conns.push_back(v->second.remote);
            if (o.close)
                closed.push_back(o.to);
        }
    }
    for (auto& [node, d] : down) {
        // One message per node, split when it would be larger than the bus takes.
        Down part;
        size_t size = 3;
        const size_t limit = std::min<size_t>(bus_.max_payload(), kMaxMessage) - 64;
        for (auto& g : d.groups) {
            const size_t gsize = 11 + g.payload.size() + 8 * g.conns.size();
            if (!part.groups.empty() && (size + gsize > limit || part.groups.size() >= kMaxDownGroups)) {
                publish(node_subject(node), part.encode());
                part.groups.clear();
                size = 3;
            }
            size += gsize;
            part.groups.push_back(std::move(g));
        }
        if (!part.groups.empty())
            publish(node_subject(node), part.encode());
    }
    for (room::ConnId c : closed) {
        hub_.on_disconnect(c); // a seat taken over is still known to the hub
        seat_left(c);
        login_room_.erase(c);
        auto v = virtuals_.find(c);
        if (v != virtuals_.end()) {
            by_remote_.erase({v->second.node, v->second.remote});
            virtuals_.erase(v);
        }
    }
    for (const auto& [room, user] : changed)
        tell_state(room, user, out);
    to_locals(local, out);
}

void ClusterNode::tell_state(uint32_t room, uint32_t user, Out&) {
    auto block = hub_.member(room, user);
    if (!block)
        return;
    for (room::ConnId c : hub_.connections_of(room)) {
        auto seat = seats_.find(c);
        if (seat == seats_.end() || seat->second.second != user)
            continue;
        if (c < kVirtualBase) {
            if (auto l = locals_.find(c); l != locals_.end() && l->second.phase == Local::In) {
                l->second.block.rights = block->rights;
                l->second.block.state = (l->second.block.state & ~uint32_t(pkt::kStateMicrophone)) |
                                        (block->state & pkt::kStateMicrophone);
            }
        } else if (auto v = virtuals_.find(c); v != virtuals_.end()) {
            publish(node_subject(v->second.node),
                    State{v->second.remote, block->rights, block->state}.encode());
        }
        return;
    }
}

void ClusterNode::drop_node(const std::string& node, Out& out) {
    std::vector<room::ConnId> gone;
    for (const auto& [id, v] : virtuals_)
        if (v.node == node)
            gone.push_back(id);
    if (!gone.empty())
        log("node " + node + " is gone: " + std::to_string(gone.size()) + " of its users leave");
    for (room::ConnId c : gone) {
        admitting_.erase(c);
        route(hub_.on_disconnect(c), out);
        seat_left(c);
        login_room_.erase(c);
        auto v = virtuals_.find(c);
        if (v != virtuals_.end()) {
            by_remote_.erase({v->second.node, v->second.remote});
            virtuals_.erase(v);
        }
    }
    node_missing_.erase(node);
}

void ClusterNode::sweep(uint32_t room) {
    // Users the room had before its home failed who did not come back (their node died with it, and they
    // have not logged in again): the others are told they left.
    store_.run(
        {{"HGETALL", presence_key(room)}},
        [this, room](AsyncStore::Replies r) {
            if (!r || r->front().type != Reply::Array || !homed_.count(room))
                return;
            const Reply& all = r->front();
            Out out;
            AsyncStore::Commands dels;
            const std::vector<room::ConnId> conns = hub_.connections_of(room);
            for (size_t i = 0; i + 1 < all.elements.size(); i += 2) {
                auto user = parse_u32(all.elements[i].str);
                if (!user || hub_.rights_of(room, *user))
                    continue;
                dels.push_back({"HDEL", presence_key(room), all.elements[i].str});
                const room::SharedPayload left = proto::UserLeft{*user, 1}.encode();
                Out told;
                for (room::ConnId c : conns)
                    told.push_back({c, pkt::kUserLeft, left, false});
                route(told, out);
            }
            if (!dels.empty()) {
                log("room " + std::to_string(room) + ": " + std::to_string(dels.size()) +
                    " user(s) did not come back");
                store_.run(std::move(dels), nullptr, 10000);
            }
            deliver(out);
        },
        5000);
}

void ClusterNode::on_node_message(const std::string&, std::vector<uint8_t> data) {
    Out out;
    auto kind = kind_of(data.data(), data.size());
    if (!kind) {
        log_limited("badkind", "dropped a message from the bus: unknown kind");
        return;
    }
    switch (*kind) {
    case Kind::Up:
        if (auto up = Up::decode(data.data(), data.size()); up && up->node != config_.node)
            on_up(*up, out);
        else
            log_limited("badup", "dropped a malformed packet from the bus");
        break;
    case Kind::Gone:
        if (auto g = Gone::decode(data.data(), data.size())) {
            const room::ConnId c = virtual_for(g->node, g->conn, false);
            if (c) {
                admitting_.erase(c);
                Out hub_out = hub_.on_disconnect(c);
                seat_left(c);
                login_room_.erase(c);
                by_remote_.erase({g->node, g->conn});
                virtuals_.erase(c);
                route(hub_out, out);
            }
        }
        break;
    case Kind::Down:
        if (auto d = Down::decode(data.data(), data.size())) {
            Out hub_out;
            for (Down::Group& g : d->groups) {
                // Only what a room would send to a user, in its layout.
                if (!g.close &&
                    (!proto::is_known_type(g.type) || g.payload.size() < proto::min_payload(g.type) ||
                     g.type == pkt::kLogin || g.type == pkt::kVideoFrame || g.type == pkt::kVoice)) {
                    log_limited("baddown",
                                "dropped a packet of type " + std::to_string(g.type) + " from the bus");
                    continue;
                }
                const room::SharedPayload payload = std::move(g.payload);
                for (uint64_t c : g.conns) {
                    auto l = locals_.find(c);
                    if (l == locals_.end() || l->second.phase == Local::Fresh || l->second.in_hub)
                        continue;
                    hub_out.push_back({c, g.type, payload, g.close});
                }
            }
            to_locals(hub_out, out);
        } else {
            log_limited("baddown", "dropped a malformed message from the bus");
        }
        break;
    case Kind::State:
        if (auto st = State::decode(data.data(), data.size())) {
            auto l = locals_.find(st->conn);
            if (l != locals_.end() && l->second.phase == Local::In && !l->second.in_hub) {
                l->second.block.rights = st->rights & room::kHostRights;
                l->second.block.state = (l->second.block.state & ~uint32_t(pkt::kStateMicrophone)) |
                                        (st->state & pkt::kStateMicrophone);
            }
        } else {
            log_limited("badstate", "dropped a malformed state from the bus");
        }
        break;
    case Kind::Push:
        // This node's user logged in again on another node: this session ends, as on one room server.
        if (auto p = Push::decode(data.data(), data.size()); p && p->node != config_.node)
            check_push(p->conn);
        else
            log_limited("badpush", "dropped a malformed push from the bus");
        break;
    case Kind::Rejoin:
        if (auto j = Rejoin::decode(data.data(), data.size()); j && j->node != config_.node)
            on_rejoin(*j, out);
        else
            log_limited("badrejoin", "dropped a malformed rejoin from the bus");
        break;
    default:
        log_limited("badkind", "dropped a message of the wrong kind from the bus");
        break;
    }
    if (!out.empty() && sink_)
        sink_(out);
}

void ClusterNode::on_up(const Up& up, Out& out) {
    room::ConnId c = virtual_for(up.node, up.conn, false);
    if (!c) {
        if (up.type != pkt::kLogin || !proto::Login::decode(up.payload.data(), up.payload.size())) {
            // An edge that thinks its user is here (this node restarted, or forgot the room): the user logs
            // in again and finds the room's present home.
            publish(node_subject(up.node), close_one(up.conn).encode());
            return;
        }
        c = virtual_for(up.node, up.conn, true);
        if (!c) {
            publish(node_subject(up.node), close_one(up.conn).encode());
            return;
        }
        hub_.on_connect(c, up.ip, up.port);
    }
    if (up.type == pkt::kLogin && !seats_.count(c) && !admitting_.count(c)) {
        if (auto login = proto::Login::decode(up.payload.data(), up.payload.size())) {
            admit(c, up.node, up.conn, *login, up.payload);
            return;
        }
    }
    up_packet(c, up.node, up.conn, up.type, up.payload.data(), up.payload.size(), out);
}

void ClusterNode::on_rejoin(const Rejoin& j, Out& out) {
    if (!homed_.count(j.room)) {
        // Not (or no longer) the home: the edge finds the right one through Redis at its next tick.
        log_limited("rejoin",
                    "rejoin for room " + std::to_string(j.room) + " from " + j.node + ": not homed here");
        return;
    }
    HomeRoom& h = homed_[j.room];
    for (const Rejoin::Member& m : j.members) {
        if (m.block.user_id == 0)
            continue;
        const room::ConnId c = virtual_for(j.node, m.conn, true);
        if (!c)
            break;
        if (seats_.count(c))
            continue; // already back
        if (hub_.rights_of(j.room, m.block.user_id)) {
            // The user is back already through a new login: this older connection ends.
            publish(node_subject(j.node), close_one(m.conn).encode());
            by_remote_.erase({j.node, m.conn});
            virtuals_.erase(c);
            continue;
        }
        proto::UserBlock block = m.block;
        // Only the rights a member can hold: the host's are the host's alone.
        const auto host = hub_.directory().host_of(j.room);
        if (host && *host != block.user_id)
            block.rights &= ~uint32_t(pkt::kRightHost);
        block.rights &= room::kHostRights;
        hub_.adopt(c, j.room, block, m.proof);
        virtuals_[c].seated = true;
        seats_[c] = {j.room, block.user_id};
        h.seats.insert(c);
        announce_adopted(j.room, c, block, out);
        presence_ops_.push_back({"HSET", presence_key(j.room), std::to_string(block.user_id), j.node});
        for (uint32_t target : m.watching)
            h.pending_watches.push_back({target, block.user_id});
    }
    // Watches come back once both ends are.
    auto& pending = h.pending_watches;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [&](const std::pair<uint32_t, uint32_t>& w) {
                                     return hub_.adopt_watch(j.room, w.first, w.second);
                                 }),
                  pending.end());
    if (pending.size() > kMaxRejoinUsers)
        pending.clear();
}

void ClusterNode::on_broadcast(const std::string&, std::vector<uint8_t> data) {
    Out out;
    auto kind = kind_of(data.data(), data.size());
    if (kind == Kind::Homed) {
        auto h = Homed::decode(data.data(), data.size());
        if (!h || h->node == config_.node)
            return;
        if (homed_.count(h->room)) {
            // Two homes for one room: the lease decides.
            store_.run(
                {{"GET", lease_key(h->room)}},
                [this, room = h->room, node = h->node](AsyncStore::Replies r) {
                    if (!r || r->front().type != Reply::String || r->front().str == config_.node ||
                        !homed_.count(room))
                        return;
                    Out out;
                    drop_room(room, out);
                    switch_home(room, node);
                    deliver(out);
                },
                2000);
        } else {
            switch_home(h->room, h->node);
        }
    } else if (kind == Kind::Bye) {
        auto b = Bye::decode(data.data(), data.size());
        if (!b || b->node == config_.node)
            return;
        drop_node(b->node, out);
        for (auto& [room, view] : views_)
            if (view.home == b->node)
                view.missing = 2; // claimed at the next tick, no need to wait
    }
    if (!out.empty() && sink_)
        sink_(out);
}

void ClusterNode::tick() {
    if (stopped_)
        return;
    Out out;
    const int64_t now = now_ms();
    // NATS away too long: this node cannot hold its part of any room; its users go elsewhere.
    if (nats_down_since_ >= 0 && now - nats_down_since_ > config_.nats_grace_ms) {
        bool any = false;
        for (auto& [c, l] : locals_)
            if (l.phase != Local::Fresh) {
                out.push_back({c, 0, {}, true});
                any = true;
            }
        std::vector<uint32_t> rooms;
        for (const auto& [room, h] : homed_)
            rooms.push_back(room);
        for (uint32_t room : rooms) {
            drop_room(room, out);
            store_.run({{"EVAL", kRelease, "1", lease_key(room), config_.node}}, nullptr, 2000);
        }
        if (any || !rooms.empty())
            log("NATS away for " + std::to_string((now - nats_down_since_) / 1000) +
                " s: users of this node let go, rooms given up");
    }

    // Everything for Redis in one round trip: this node's figures, the leases it holds, the homes of the
    // rooms it has members in, the nodes whose users it holds, presence changes, and now and then the seats
    // of this node's users. A Redis that has not answered the last tick's yet is not asked again.
    if (!tick_waiting_) {
        AsyncStore::Commands cmds;
        cmds.push_back({"SET", node_key(config_.node), format(config_.node, figures_), "PX",
                        std::to_string(config_.node_ttl_ms)});
        const size_t first_lease = cmds.size();
        std::vector<uint32_t> leased;
        for (const auto& [room, h] : homed_) {
            leased.push_back(room);
            cmds.push_back(
                {"EVAL", kRenew, "1", lease_key(room), config_.node, std::to_string(config_.lease_ms)});
        }
        const size_t first_home = cmds.size();
        std::vector<uint32_t> watched;
        for (const auto& [room, view] : views_)
            if (view.home != config_.node) {
                watched.push_back(room);
                cmds.push_back({"GET", lease_key(room)});
            }
        const size_t first_node = cmds.size();
        std::vector<std::string> nodes;
        for (const auto& [node, missing] : node_missing_) {
            nodes.push_back(node);
            cmds.push_back({"EXISTS", node_key(node)});
        }
        const size_t first_other = cmds.size();
        if (!config_.directory_file.empty())
            cmds.push_back({"EXISTS", kDirectoryMark});
        AsyncStore::Commands presence = std::move(presence_ops_);
        presence_ops_.clear();
        cmds.insert(cmds.end(), presence.begin(), presence.end());
        if (++seat_renewal_ >= kSeatRenewTicks) {
            seat_renewal_ = 0;
            for (const auto& [c, l] : locals_)
                if (!l.seat_record.empty() && l.phase != Local::Resolving) // a claim's answer is awaited
                    cmds.push_back({"EVAL", kRenewSeat, "1", seat_key(l.user), l.seat_record,
                                    std::to_string(kSeatTtlMs), unproven(l.seat_record)});
        }
        tick_waiting_ = true;
        store_.run(
            std::move(cmds),
            [this, leased = std::move(leased), watched = std::move(watched), nodes = std::move(nodes),
             first_lease, first_home, first_node, first_other,
             presence = std::move(presence)](AsyncStore::Replies r) mutable {
                tick_answered(std::move(leased), std::move(watched), std::move(nodes), first_lease,
                              first_home, first_node, first_other, std::move(presence), std::move(r));
            },
            config_.tick_ms * 4);
    }

    retry_releases();

    // Rebuilt rooms: who did not come back has left.
    for (auto& [room, h] : homed_)
        if (h.rebuilt_at >= 0 && now - h.rebuilt_at >= config_.rebuild_settle_ms) {
            h.rebuilt_at = -1;
            h.pending_watches.clear();
            sweep(room);
        }
    // Logins a home never answered.
    for (auto& [c, l] : locals_)
        if (l.phase == Local::Pending && !l.in_hub && now - l.pending_since > config_.login_timeout_ms) {
            l.phase = Local::Fresh;
            l.login.clear();
            l.home.clear();
            release_seat(l, true);
            proto::LoginResult r;
            r.result = room::kLoginNoRoomServer;
            out.push_back({c, pkt::kLoginResult, r.encode(), false});
        }

    // Figures.
    if (now - last_counts_ms_ >= 5000) {
        const NatsBus::Counts c = bus_.counts();
        const double s = double(now - last_counts_ms_) / 1000.0;
        figures_.in_msgs_s = double(c.in_msgs - last_counts_.in_msgs) / s;
        figures_.in_bytes_s = double(c.in_bytes - last_counts_.in_bytes) / s;
        figures_.out_msgs_s = double(c.out_msgs - last_counts_.out_msgs) / s;
        figures_.out_bytes_s = double(c.out_bytes - last_counts_.out_bytes) / s;
        last_counts_ = c;
        last_counts_ms_ = now;
    }
    figures_.rooms_homed = homed_.size();
    figures_.users_here = 0;
    for (const auto& [c, l] : locals_)
        figures_.users_here += l.phase == Local::In;
    figures_.remote_users = 0;
    for (const auto& [c, v] : virtuals_)
        figures_.remote_users += v.seated;
    figures_.nats = bus_.connected();
    figures_.redis = redis_ok_;
    figures_.redis_waiting = store_.waiting();
    if (now >= next_status_ms_) {
        next_status_ms_ = now + int64_t(config_.status_interval_s) * 1000;
        log(format(config_.node, figures_));
    }

    if (!out.empty() && sink_)
        sink_(out);
    timer_.expires_after(std::chrono::milliseconds(config_.tick_ms));
    timer_.async_wait([this](std::error_code ec) {
        if (!ec)
            tick();
    });
}

void ClusterNode::tick_answered(std::vector<uint32_t> leased, std::vector<uint32_t> watched,
                                std::vector<std::string> nodes, size_t first_lease, size_t first_home,
                                size_t first_node, size_t first_other, AsyncStore::Commands presence,
                                AsyncStore::Replies replies) {
    tick_waiting_ = false;
    Out out;
    const bool was_ok = redis_ok_;
    redis_ok_ = replies.has_value() && replies->size() >= first_other;
    if (redis_ok_ != was_ok)
        log(redis_ok_ ? "Redis connection up" : "Redis connection lost; trying again");
    if (!redis_ok_) {
        // While Redis is away, presence changes wait, in their order, up to a limit (the homes write presence
        // again as users come and go).
        if (presence.size() + presence_ops_.size() <= 100000)
            presence_ops_.insert(presence_ops_.begin(), std::make_move_iterator(presence.begin()),
                                 std::make_move_iterator(presence.end()));
        return;
    }
    // Leases: renewed, or taken again after Redis lost them, or lost to another node.
    for (size_t i = 0; i < leased.size(); ++i) {
        const Reply& r = (*replies)[first_lease + i];
        if ((r.type == Reply::Integer && r.integer == 1) || !homed_.count(leased[i]))
            continue;
        const uint32_t room = leased[i];
        store_.run(
            {{"SET", lease_key(room), config_.node, "NX", "PX", std::to_string(config_.lease_ms)},
             {"GET", lease_key(room)}},
            [this, room](AsyncStore::Replies again) {
                if (!again || again->size() != 2 || (*again)[0].type == Reply::Status ||
                    (*again)[1].str == config_.node || !homed_.count(room))
                    return;
                log("room " + std::to_string(room) + ": lease lost to " + (*again)[1].str);
                Out out;
                drop_room(room, out);
                deliver(out);
            },
            config_.lease_ms);
    }
    // Homes of rooms with members here: moved, or gone (then claimed after two ticks).
    for (size_t i = 0; i < watched.size(); ++i) {
        const Reply& r = (*replies)[first_home + i];
        auto v = views_.find(watched[i]);
        if (v == views_.end() || homed_.count(watched[i]))
            continue;
        if (r.type == Reply::String && valid_node_name(r.str)) {
            v->second.missing = 0;
            if (r.str == config_.node)
                become_home(watched[i], true, out);
            else if (r.str != v->second.home)
                switch_home(watched[i], r.str);
            continue;
        }
        if (++v->second.missing < 2)
            continue;
        claim_missing(watched[i]);
    }
    // Nodes whose users are members here: gone after three ticks without their mark of life.
    for (size_t i = 0; i < nodes.size(); ++i) {
        const Reply& r = (*replies)[first_node + i];
        auto m = node_missing_.find(nodes[i]);
        if (m == node_missing_.end())
            continue;
        int& missing = m->second;
        missing = r.type == Reply::Integer && r.integer == 1 ? 0 : missing + 1;
        bool holds_users = false;
        for (const auto& [id, v] : virtuals_)
            if (v.node == nodes[i]) {
                holds_users = true;
                break;
            }
        if (!holds_users)
            node_missing_.erase(m);
        else if (missing >= 3)
            drop_node(nodes[i], out);
    }
    if (!config_.directory_file.empty() && replies->size() > first_other) {
        const Reply& r = (*replies)[first_other];
        if (r.type == Reply::Integer && r.integer == 0)
            load_directory(); // Redis came back empty
    }
    deliver(out);
}

void ClusterNode::claim_missing(uint32_t room) {
    store_.run(
        {{"SET", lease_key(room), config_.node, "NX", "PX", std::to_string(config_.lease_ms)},
         {"GET", lease_key(room)}},
        [this, room](AsyncStore::Replies r) {
            if (!r || r->size() != 2 || !views_.count(room) || homed_.count(room))
                return;
            Out out;
            const std::string home = home_from(room, (*r)[0], (*r)[1], true, out);
            if (!home.empty() && home != config_.node)
                switch_home(room, home);
            deliver(out);
        },
        config_.lease_ms);
}

std::string ClusterNode::format(const std::string& node, const Figures& f) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "node %s: rooms homed %zu, users here %zu, users of other nodes in rooms homed here %zu; "
                  "NATS in %.0f msg/s %.1f kB/s, out %.0f msg/s %.1f kB/s; NATS %s, Redis %s (%zu waiting)",
                  node.c_str(), f.rooms_homed, f.users_here, f.remote_users, f.in_msgs_s, f.in_bytes_s / 1000,
                  f.out_msgs_s, f.out_bytes_s / 1000, f.nats ? "up" : "down", f.redis ? "up" : "down",
                  f.redis_waiting);
    return buf;
}

bool ClusterNode::print_status(const std::string& host, uint16_t port) {
    Store store(host, port, 1000);
    auto keys = store.command({"KEYS", "quorin:node:*"});
    if (!keys || keys->type != Reply::Array)
        return false;
    std::vector<std::string> names;
    for (const Reply& k : keys->elements)
        names.push_back(k.str);
    std::sort(names.begin(), names.end());
    if (names.empty())
        std::printf("no node is running\n");
    for (const std::string& k : names) {
        auto v = store.command({"GET", k});
        if (v && v->type == Reply::String)
            std::printf("%s\n", v->str.c_str());
    }
    return true;
}

} // namespace cluster
