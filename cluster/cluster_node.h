// A room server as one node of a cluster: rooms are shared with the other nodes through NATS (packets) and
// Redis (the directory, presence, and which node is each room's home).
//
// Each room has one home node, which holds the room's state in its RoomHub (members, rights, host, watchers,
// rates); the home is a lease in Redis (set-if-absent with an expiry, renewed). Every other node with members
// in the room is an edge: it forwards its members' control packets (login, chat, rights, camera state, ...)
// to the home over NATS and delivers what the home addresses to them. Video and voice do not pass through the
// home: the sender's node checks the sender's right and rate (it follows them from the packets it carries),
// fans out to its own watchers and publishes the packet once on the sender's subject, which only nodes with a
// watcher (video) or a member (voice) subscribe to; each of them fans out to its own users.
//
// A node that loses its home's lease, or finds the home gone (lease expired), claims the room: the claimant
// rebuilds it from the members the edges still hold (each edge sends them with their rights, state and
// watches) and from the directory, and tells the others about users that did not come back (left). Logins
// are refused with result 6 while the node cannot reach NATS or Redis.
//
// A user is seated once in the whole cluster: the node a user's connection is on records it in Redis at the
// login (room, node, connection, address, and once the room has given the session its token, the token's
// SHA-256) and takes the record back when the connection ends. A second login of that user, into any room
// and wherever it is homed, is held to the rules of one room server: a reconnect that brings the seated
// session's token, from whatever address, takes the seat and pushes the first session out (it is told why
// and gets result 5, which its client takes as final); anything else is refused with result 5 before the
// record changes. A record whose node is gone (its mark of life in Redis ran out: node_ttl_ms) counts for
// nothing. A reconnect with a token that finds the
// record without its proof yet (written a moment after the token left) asks again for a short while, then
// is answered 6, which its client retries. A room's new home keeps each member's proof (from the member's
// node), so the members' sessions keep their seats through a failover.
//
// Redis is never waited for on the I/O thread: its commands run on the AsyncStore's thread, in order, and the
// node goes on with their answers. Logins wait for theirs (and the connection's later packets wait behind its
// login); a Redis that does not answer within login_redis_ms refuses the login with result 6, while the rooms
// already homed here go on.
//
// Threads: every method runs on the room server's I/O thread (the NATS client's and the store's threads hand
// over to it).
#pragma once

#include <asio.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cluster/envelope.h"
#include "cluster/nats_bus.h"
#include "cluster/store.h"
#include "service/room_backend.h"
#include "service/room_hub.h"
#include "service/user_directory.h"

namespace cluster {

struct ClusterConfig {
    std::string node;     // this node's name (see valid_node_name)
    std::string nats_url; // nats://HOST:PORT (user:password@ allowed)
    std::string redis_host;
    uint16_t redis_port = 6379;
    room::HubConfig hub; // rules and secret of the rooms homed here; its directory is filled from Redis
    std::string directory_file; // loaded into Redis at the start, and again when Redis has lost it
    int lease_ms = 2000;        // a home's lease; renewed every tick
    // This node's mark of life in Redis, renewed every tick. Longer than a lease: a node held up for a moment
    // (a loaded machine, a slow disk) may lose its rooms' homes, which another node takes over with every
    // session, but keeps its users' seats; those of a node that died are free this long after.
    int node_ttl_ms = 8000;
    int tick_ms = 500;
    int login_timeout_ms = 3000; // a login forwarded to a home that does not answer: result 6
    int nats_grace_ms = 3000; // NATS away this long: this node lets its users go (they reconnect elsewhere)
    int rebuild_settle_ms = 1500; // after a rebuild, users who did not come back by then have left
    int status_interval_s = 60;
    int redis_timeout_ms = 500; // one round trip to Redis
    int login_redis_ms = 1500;  // a login's questions to Redis unanswered this long: result 6
    // A reconnect whose seat's record does not name the session's proof yet (its writing is under way) asks
    // Redis again for this long after the login came, then is answered 6 (its client tries again).
    int proof_wait_ms = 1500;
    std::function<void(const std::string&)> log;
};

class ClusterNode : public room::RoomBackend {
public:
    ClusterNode(asio::io_context& io, ClusterConfig config);
    ~ClusterNode() override;

    // Connects to NATS and Redis (neither needs to be there yet), loads the directory, starts the tick.
    // False only for unusable settings.
    bool start(std::string* error);
    // Tells the other nodes and gives up this node's leases, so that its rooms move at once.
    void stop();

    void attach(Sink sink) override { sink_ = std::move(sink); }
    void on_connect(room::ConnId conn, uint32_t ip, uint16_t port) override;
    std::vector<room::Outgoing> on_packet(room::ConnId conn, uint16_t type, const uint8_t* data,
                                          size_t size) override;
    std::vector<room::Outgoing> on_disconnect(room::ConnId conn) override;
    bool logged_in(room::ConnId conn) const override;
    // Through the hub's limit: one line a second for all connections without a login, the server's included.
    void log_unauthenticated(const std::string& line) override { hub_.log_unauthenticated(line); }

    struct Figures {
        size_t rooms_homed = 0;
        size_t users_here = 0;   // logged in at this node
        size_t remote_users = 0; // members of rooms homed here, logged in at other nodes
        double in_msgs_s = 0, in_bytes_s = 0, out_msgs_s = 0, out_bytes_s = 0; // NATS, last interval
        bool nats = false, redis = false;
        size_t redis_waiting = 0; // commands for Redis not answered yet (grows while Redis is slow)
    };
    Figures figures() const { return figures_; }
    static std::string format(const std::string& node, const Figures& f);
    // `velmor --status`: every node's last figures from Redis, one line each; false when Redis is away.
    static bool print_status(const std::string& redis_host, uint16_t redis_port);

    // Redis keys and NATS subjects.
    static std::string lease_key(uint32_t room);
    static std::string node_subject(const std::string& node);

private:
    using Out = std::vector<room::Outgoing>;
    static constexpr room::ConnId kVirtualBase = room::ConnId(1) << 48;

    struct Bucket {
        double tokens = -1;
        int64_t last_ms = 0;
        bool take(double per_second, double burst, int64_t now_ms);
    };
    // A connection of this node.
    struct Local {
        uint32_t ip = 0;
        uint16_t port = 0;
        // Resolving: the login waits for Redis (its home, its seat in the cluster); Pending: for the home.
        enum Phase { Fresh, Resolving, Pending, In } phase = Fresh;
        uint64_t ticket = 0; // the login being resolved
        uint32_t room = 0, user = 0;
        std::string home;
        int64_t pending_since = 0;
        proto::Bytes login;                                  // while pending: sent again to a new home
        std::vector<std::pair<uint16_t, proto::Bytes>> held; // while resolving: what came after the login
        std::string seat_record;                             // this login's record in Redis, once claimed
        std::string seat_before;                             // the record it replaced (put back on failure)
        std::string pushed;                                  // the record of a session this login pushes out
        bool in_hub = false;    // known to this node's hub (the room is homed here)
        proto::UserBlock block; // once in: rights, microphone, camera format, nickname
        std::set<uint32_t> watching;
        Bucket video, voice;
        int64_t last_drop_log_ms = -100000;
    };
    // A room with members at this node.
    struct View {
        std::string home;
        std::set<room::ConnId> members;
        std::map<uint32_t, std::set<room::ConnId>> watchers; // sender -> watchers here
        std::map<uint32_t, uint64_t> video_subs;             // sender -> subscription
        uint64_t voice_sub = 0;
        int missing = 0; // ticks the home's lease was found missing
        std::map<uint32_t, Bucket> remote_video, remote_voice;
    };
    // A member of a room homed here who is connected to another node.
    struct Virtual {
        std::string node;
        room::ConnId remote = 0;
        bool seated = false;
    };
    struct HomeRoom {
        std::set<room::ConnId> seats;
        std::set<room::ConnId> by_login; // seated by a login here, not brought back by a rebuild
        int64_t rebuilt_at = -1;         // a rebuild's settle time runs from here
        std::vector<std::pair<uint32_t, uint32_t>> pending_watches; // (target, watcher) until both are back
    };

    // A login at the home waiting for the directory (and for the room's lease, coming from another node).
    struct Admitting {
        uint64_t ticket = 0;
        std::vector<std::pair<uint16_t, proto::Bytes>> held; // the connection's later packets
    };

    // Edge side.
    void start_login(room::ConnId conn, Local& l, const proto::Login& login);
    void login_resolved(room::ConnId conn, uint64_t ticket, bool asked_lease, AsyncStore::Replies r);
    // The login's claim of its seat asked again shortly (the seat's record names no proof yet).
    void claim_later(room::ConnId conn, uint64_t ticket);
    // The home of a room from a lease's SET NX and GET replies; empty when neither names a valid node.
    std::string home_from(uint32_t room, const Reply& set, const Reply& get, bool rebuild, Out& out);
    // Sends away the session a record names (on this node, or through its node).
    void push_out(const std::string& record, Out& out);
    void push_local(room::ConnId conn, Out& out);
    // A push from another node: sent away once Redis shows its seat taken by another session.
    void check_push(room::ConnId conn);
    // The room gave the session its token: its seat's record gets the token's proof, which a takeover must
    // bring.
    void prove_seat(Local& l, const uint8_t* data, size_t size);
    // Gives the seat back: freed, or (restore) the record it replaced put back.
    void release_seat(Local& l, bool restore);
    void unreleased(const std::string& key, const std::string& record);
    void retry_releases();
    void forward(room::ConnId conn, Local& l, uint16_t type, const uint8_t* data, size_t size, Out& out);
    void video_from_local(room::ConnId conn, Local& l, const uint8_t* data, size_t size, Out& out);
    void voice_from_local(room::ConnId conn, Local& l, const uint8_t* data, size_t size, Out& out);
    void watch_from_local(room::ConnId conn, Local& l, const uint8_t* data, size_t size);
    void unwatch(View& view, uint32_t room, uint32_t sender, room::ConnId conn);
    void leave_view(room::ConnId conn, Local& l);
    // Packets for this node's connections: follows the login, rights and departures, then sends them.
    void to_locals(const Out& out, Out& sent);
    void switch_home(uint32_t room, const std::string& home);
    void send_rejoin(uint32_t room, const std::string& home);
    void on_video(const std::string& subject, std::vector<uint8_t> data);
    void on_voice(const std::string& subject, std::vector<uint8_t> data);
    void drop_log(room::ConnId conn, Local* l, const std::string& why);

    // Home side.
    // A login for a room homed here (or claimed for it): the directory first, then the hub.
    void admit(room::ConnId c, const std::string& node, room::ConnId remote, const proto::Login& login,
               proto::Bytes bytes);
    void admitted(room::ConnId c, uint64_t ticket, const std::string& node, room::ConnId remote,
                  proto::Bytes bytes, AsyncStore::Replies r);
    void hub_packet(room::ConnId c, uint16_t type, const uint8_t* data, size_t size, Out& out);
    void up_packet(room::ConnId c, const std::string& node, room::ConnId remote, uint16_t type,
                   const uint8_t* data, size_t size, Out& out);
    void apply_directory(uint32_t user, uint32_t room, const Reply& nick, const Reply& host,
                         const Reply& chosen_host);
    void become_home(uint32_t room, bool rebuild, Out& out);
    void drop_room(uint32_t room, Out& out);
    void fetch_host(uint32_t room);
    // Hub output: this node's connections get theirs, every other node one message with its share.
    void route(const Out& hub_out, Out& out);
    void seated(const room::Outgoing& login_result);
    // Tells a member's node the member's rights and microphone as the hub now holds them.
    void tell_state(uint32_t room, uint32_t user, Out& out);
    // A member brought back and those who logged in here since the room came: they learn of each other.
    void announce_adopted(uint32_t room, room::ConnId conn, const proto::UserBlock& block, Out& out);
    void seat_left(room::ConnId conn);
    void release_if_empty(uint32_t room);
    room::ConnId virtual_for(const std::string& node, room::ConnId remote, bool create);
    void drop_node(const std::string& node, Out& out);
    void sweep(uint32_t room);

    void on_node_message(const std::string& subject, std::vector<uint8_t> data);
    void on_broadcast(const std::string& subject, std::vector<uint8_t> data);
    void on_up(const Up& up, Out& out);
    void on_rejoin(const Rejoin& j, Out& out);
    void tick();
    void tick_answered(std::vector<uint32_t> leased, std::vector<uint32_t> watched,
                       std::vector<std::string> nodes, size_t first_lease, size_t first_home,
                       size_t first_node, size_t first_other, AsyncStore::Commands presence,
                       AsyncStore::Replies replies);
    void claim_missing(uint32_t room);
    void load_directory();
    // The directory file as last read: names and hosts for logins while Redis, back empty after a restart,
    // does not hold it again yet.
    UserDirectory file_directory_;
    void nats_state(bool up);
    void publish(const std::string& subject, const proto::Bytes& bytes);
    void log(const std::string& line) const;
    void log_limited(const std::string& kind, const std::string& line);
    int64_t now_ms() const;
    void deliver(const Out& out);

    asio::io_context& io_;
    ClusterConfig config_;
    Sink sink_;
    NatsBus bus_;
    AsyncStore store_;
    room::RoomHub hub_;
    asio::steady_timer timer_;
    asio::steady_timer claim_timer_;
    bool claim_timer_armed_ = false;
    std::vector<std::pair<room::ConnId, uint64_t>> claims_waiting_; // (connection, its login's ticket)

    std::map<room::ConnId, Local> locals_;
    std::map<uint32_t, View> views_;
    std::map<room::ConnId, Virtual> virtuals_;
    std::map<std::pair<std::string, room::ConnId>, room::ConnId> by_remote_;
    room::ConnId next_virtual_ = kVirtualBase;
    std::map<uint32_t, HomeRoom> homed_;
    std::map<room::ConnId, std::pair<uint32_t, uint32_t>> seats_;      // hub connection -> (room, user)
    std::map<room::ConnId, std::pair<uint32_t, uint32_t>> login_room_; // hub connection -> its login's seat
    std::map<std::string, int> node_missing_; // nodes with members here, ticks unseen
    std::vector<std::vector<std::string>> presence_ops_;
    std::map<room::ConnId, Admitting> admitting_;
    uint64_t next_ticket_ = 1;
    bool tick_waiting_ = false; // the last tick's Redis job is not answered yet
    int seat_renewal_ = 0;      // ticks since the seats' records were renewed
    std::set<std::pair<std::string, std::string>>
        unreleased_;         // (seat, record) Redis did not confirm given back
    bool releasing_ = false; // they are being asked again
    std::map<std::string, int64_t> last_logged_;

    bool redis_ok_ = false;
    int64_t nats_down_since_ = -1;
    int64_t next_status_ms_ = 0;
    NatsBus::Counts last_counts_;
    int64_t last_counts_ms_ = 0;
    Figures figures_;
    bool stopped_ = false;
};

} // namespace cluster
