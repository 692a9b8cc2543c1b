// What arrives over the bus is untrusted: the cluster's message layouts refuse what does not fit, and a real
// node holds packets from another "node" to the rules of a socket (rights, rates, caps, lengths).
#include <gtest/gtest.h>

#include <nats/nats.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "cluster/envelope.h"
#include "cluster_env.h"
#include "room_peer.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

using namespace cluster;

namespace {

using Clock = std::chrono::steady_clock;

Rejoin sample_rejoin() {
    Rejoin j;
    j.node = "edge-1";
    j.room = 9;
    Rejoin::Member m;
    m.conn = 5;
    m.block.user_id = 3;
    m.block.rights = 66;
    m.block.nickname = "Bob";
    for (size_t i = 0; i < m.proof.size(); ++i)
        m.proof[i] = uint8_t(0xA0 + i);
    m.watching = {1, 2};
    j.members.push_back(m);
    return j;
}

Down sample_down() {
    Down d;
    Down::Group g;
    g.type = pkt::kChatMessage;
    g.payload = {1, 2, 3, 4};
    g.conns = {1, 2, 3};
    d.groups.push_back(g);
    Down::Group close;
    close.close = true;
    close.conns = {9};
    d.groups.push_back(close);
    return d;
}

} // namespace

TEST(ClusterEnvelope, MessagesRoundTripAndEveryCutOneIsRefused) {
    const proto::Bytes down = sample_down().encode();
    auto d = Down::decode(down.data(), down.size());
    ASSERT_TRUE(d);
    ASSERT_EQ(d->groups.size(), 2u);
    EXPECT_EQ(d->groups[0].conns, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_TRUE(d->groups[1].close);
    const proto::Bytes rejoin = sample_rejoin().encode();
    auto j = Rejoin::decode(rejoin.data(), rejoin.size());
    ASSERT_TRUE(j);
    EXPECT_EQ(j->members.at(0).block.nickname, "Bob");
    EXPECT_EQ(j->members.at(0).watching, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(j->members.at(0).proof, sample_rejoin().members.at(0).proof);
    const proto::Bytes homed = Homed{9, "n1"}.encode();
    const proto::Bytes gone = Gone{"n1", 4}.encode();
    const proto::Bytes push = Push{"n2", 77}.encode();
    auto pushed = Push::decode(push.data(), push.size());
    ASSERT_TRUE(pushed);
    EXPECT_EQ(pushed->node, "n2");
    EXPECT_EQ(pushed->conn, 77u);
    EXPECT_FALSE(Push::decode(gone.data(), gone.size())) << "a message of another kind";
    Up up;
    up.node = "n1";
    up.conn = 3;
    up.type = 2;
    up.payload = {7, 7};
    const proto::Bytes upb = up.encode();
    auto u = Up::decode(upb.data(), upb.size());
    ASSERT_TRUE(u);
    EXPECT_EQ(u->payload, (proto::Bytes{7, 7}));

    // Every cut: nothing, never a read past the end (the ASan build runs this too).
    for (const proto::Bytes* m : {&down, &rejoin, &homed, &gone, &push}) {
        for (size_t n = 0; n < m->size(); ++n) {
            proto::Bytes cut(m->begin(), m->begin() + long(n));
            EXPECT_FALSE(Down::decode(cut.data(), cut.size()));
            EXPECT_FALSE(Rejoin::decode(cut.data(), cut.size()));
            EXPECT_FALSE(Homed::decode(cut.data(), cut.size()));
            EXPECT_FALSE(Gone::decode(cut.data(), cut.size()));
            EXPECT_FALSE(Push::decode(cut.data(), cut.size()));
        }
        // A byte too many is refused as well.
        proto::Bytes longer = *m;
        longer.push_back(0);
        EXPECT_FALSE(
            Down::decode(longer.data(), longer.size()) || Rejoin::decode(longer.data(), longer.size()) ||
            Homed::decode(longer.data(), longer.size()) || Gone::decode(longer.data(), longer.size()) ||
            Push::decode(longer.data(), longer.size()));
    }
    for (size_t n = 0; n < 1 + 1 + 2 + 8 + 4 + 2 + 2; ++n)
        EXPECT_FALSE(Up::decode(upb.data(), n));
}

TEST(ClusterEnvelope, CountsAndNamesBeyondTheCapsAreRefused) {
    // A group that claims more receivers than the cap (and than the message holds).
    proto::Bytes d = {uint8_t(Kind::Down), 1, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_FALSE(Down::decode(d.data(), d.size()));
    // A payload length past the end.
    proto::Bytes p = {uint8_t(Kind::Down), 1, 0, 2, 0, 0, 0xFF, 0xFF, 0, 0};
    EXPECT_FALSE(Down::decode(p.data(), p.size()));
    // More receivers in all than the cap, spread over groups that each hold their bytes.
    Down many;
    for (int g = 0; g < 3; ++g) {
        Down::Group group;
        group.type = pkt::kChatMessage;
        group.conns.assign(kMaxReceivers / 2, 1);
        many.groups.push_back(group);
    }
    const proto::Bytes big = many.encode();
    EXPECT_FALSE(Down::decode(big.data(), big.size()));
    // A close with a payload.
    Down bad = sample_down();
    bad.groups[1].payload = {1};
    const proto::Bytes b = bad.encode();
    EXPECT_FALSE(Down::decode(b.data(), b.size()));
    // Node names: what cannot be part of a subject or a key.
    for (const std::string& name :
         std::vector<std::string>{"", "a.b", "a b", "*", ">", std::string(33, 'x'), std::string("a\0b", 3)}) {
        EXPECT_FALSE(valid_node_name(name)) << name;
        const proto::Bytes h = Homed{9, name}.encode();
        EXPECT_FALSE(Homed::decode(h.data(), h.size())) << name;
    }
    EXPECT_TRUE(valid_node_name("node-1_B"));
    // A rejoin with more watches than a member may have.
    Rejoin j = sample_rejoin();
    j.members[0].watching.assign(kMaxWatches + 1, 2);
    const proto::Bytes jb = j.encode();
    EXPECT_FALSE(Rejoin::decode(jb.data(), jb.size()));
    // Unknown kinds.
    const uint8_t zero = 0, nine = 9;
    EXPECT_FALSE(kind_of(&zero, 1));
    EXPECT_FALSE(kind_of(&nine, 1));
    EXPECT_FALSE(kind_of(nullptr, 0));
}

namespace {

// A hostile participant on the bus: publishes raw messages and listens on a subject of its own.
class BusClient {
public:
    BusClient(const std::string& url, const std::string& subject) {
        ok_ = natsConnection_ConnectTo(&nc_, url.c_str()) == NATS_OK &&
              natsConnection_Subscribe(&sub_, nc_, subject.c_str(), on_msg, this) == NATS_OK;
    }
    ~BusClient() {
        if (sub_)
            natsSubscription_Destroy(sub_);
        if (nc_)
            natsConnection_Destroy(nc_);
    }
    bool ok() const { return ok_; }
    void publish(const std::string& subject, const proto::Bytes& b) {
        natsConnection_Publish(nc_, subject.c_str(), b.data(), int(b.size()));
    }
    void flush() { natsConnection_FlushTimeout(nc_, 2000); }
    // Messages that came to our subject, decoded as Down; waits up to `ms` for at least `n`.
    std::vector<Down> downs(size_t n, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (received_.size() >= n)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Down> out;
        for (const auto& m : received_)
            if (auto d = Down::decode(m.data(), m.size()))
                out.push_back(*d);
        return out;
    }

private:
    static void on_msg(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
        auto* self = static_cast<BusClient*>(closure);
        const auto* p = reinterpret_cast<const uint8_t*>(natsMsg_GetData(msg));
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->received_.emplace_back(p, p + natsMsg_GetDataLength(msg));
        natsMsg_Destroy(msg);
    }
    natsConnection* nc_ = nullptr;
    natsSubscription* sub_ = nullptr;
    bool ok_ = false;
    std::mutex mutex_;
    std::deque<proto::Bytes> received_;
};

Up up_from(uint64_t conn, uint16_t type, const proto::Bytes& payload) {
    Up u;
    u.node = "evil";
    u.conn = conn;
    u.ip = 0x0100007F;
    u.type = type;
    u.payload = payload;
    return u;
}

size_t count_type(const std::vector<Packet>& ps, uint16_t type) {
    size_t n = 0;
    for (const Packet& p : ps)
        n += p.type == type;
    return n;
}

bool has_login_result(const std::vector<Down>& ds, uint32_t result) {
    for (const Down& d : ds)
        for (const auto& g : d.groups)
            if (g.type == pkt::kLoginResult) {
                auto r = proto::LoginResult::decode(g.payload.data(), g.payload.size());
                if (r && r->result == result)
                    return true;
            }
    return false;
}

bool has_close(const std::vector<Down>& ds, uint64_t conn) {
    for (const Down& d : ds)
        for (const auto& g : d.groups)
            if (g.close)
                for (uint64_t c : g.conns)
                    if (c == conn)
                        return true;
    return false;
}

} // namespace

// A "node" that publishes whatever it likes: garbage is dropped; its users log in and are held to the
// room's rules (chat rate, rights, broken rules close the connection); its video and voice are held to the
// rates and layouts of a socket; a rejoin cannot make a host; a push cannot end a session whose seat is its
// own. The real users go on undisturbed.
TEST(ClusterHostileBus, PacketsFromTheBusAreHeldToTheRulesOfASocket) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a", "host 9 1\n");
    auto& b = env.start_node("b", "host 9 1\n");
    RoomPeer host, ann;
    ASSERT_TRUE(host.connect(a.port()));
    ASSERT_EQ(login_peer(host, 1, 9), 0);
    ASSERT_TRUE(ann.connect(b.port()));
    ASSERT_EQ(login_peer(ann, 2, 9), 0);
    host.send(pkt::kWatchVideo, proto::WatchVideo{2, 1}.encode());
    ASSERT_TRUE(ann.wait_for(pkt::kVideoWanted, 5000));
    BusClient evil(env.nats_url(), "quorin.n.evil");
    ASSERT_TRUE(evil.ok());

    // Garbage on every subject a node listens to.
    for (const std::string& subject :
         std::vector<std::string>{"quorin.n.a", "quorin.n.b", "quorin.b", "quorin.a.9", "quorin.v.9.2"}) {
        evil.publish(subject, {});
        evil.publish(subject, {0xFF, 0xFF, 0xFF});
        evil.publish(subject, proto::Bytes(5000, 0x03));
        evil.publish(subject, {uint8_t(Kind::Down), 0xFF, 0xFF});
    }
    // A packet of a connection the home does not know: it is told to close it.
    evil.publish("quorin.n.a", up_from(70, pkt::kChat, proto::ChatLine{}.encode()).encode());
    // A user of "evil" logs in (the room's home is a).
    proto::Login login;
    login.user_id = 66;
    login.room_id = 9;
    evil.publish("quorin.n.a", up_from(71, pkt::kLogin, login.encode()).encode());
    evil.flush();
    auto downs = evil.downs(2, 5000);
    EXPECT_TRUE(has_close(downs, 70));
    EXPECT_TRUE(has_login_result(downs, 0));
    ASSERT_TRUE(host.wait_for(pkt::kUserEntered, 5000));

    // Its chat is held to the rate (ten at once at most), an oversized line is dropped.
    for (int i = 0; i < 40; ++i) {
        proto::ChatLine line;
        line.text = "flood " + std::to_string(i);
        evil.publish("quorin.n.a", up_from(71, pkt::kChat, line.encode()).encode());
    }
    proto::ChatLine huge;
    huge.text.assign(5000, 'x');
    evil.publish("quorin.n.a", up_from(71, pkt::kChat, huge.encode()).encode());
    evil.flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const auto got = host.drain(500);
    EXPECT_GE(count_type(got, pkt::kChatMessage), 5u);
    EXPECT_LE(count_type(got, pkt::kChatMessage), 12u) << "the chat rate holds for a user of the bus";

    // Video claiming to be Ann's: held to her rate; frames naming another sender are dropped.
    proto::VideoFrame f;
    f.user_id = 2;
    f.room_id = 9;
    f.frame.assign(1000, 1);
    for (int i = 0; i < 300; ++i)
        evil.publish("quorin.v.9.2", f.encode());
    f.user_id = 3;
    for (int i = 0; i < 20; ++i)
        evil.publish("quorin.v.9.2", f.encode());
    // Voice over the rate and voice with an impossible Opus size.
    proto::VoicePacket v;
    v.user_id = 2;
    v.opus.assign(60, 1);
    for (int i = 0; i < 400; ++i)
        evil.publish("quorin.a.9", v.encode());
    proto::Bytes bad_voice = v.encode();
    bad_voice.resize(proto::VoicePacket::kHeader + 2000, 0);
    evil.publish("quorin.a.9", bad_voice);
    evil.flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const auto media = host.drain(500);
    size_t frames = 0, wrong = 0;
    for (const Packet& p : media)
        if (p.type == pkt::kVideoFrame) {
            auto vf = proto::VideoFrame::decode(p.payload.data(), p.payload.size());
            ++frames;
            wrong += vf && vf->user_id != 2;
        }
    EXPECT_GT(frames, 0u);
    EXPECT_LE(frames, 70u) << "a sender's video rate holds for frames from the bus";
    EXPECT_EQ(wrong, 0u);
    EXPECT_LE(count_type(media, pkt::kVoice), 110u)
        << "a speaker's voice rate holds for packets from the bus";

    // A rejoin cannot make a host: the directory names user 1. Speaking control from that user is a broken
    // rule; enough of them close the connection.
    Rejoin j;
    j.node = "evil";
    j.room = 9;
    Rejoin::Member m;
    m.conn = 72;
    m.block.user_id = 67;
    m.block.rights = 0xFFFFFFFF;
    j.members.push_back(m);
    evil.publish("quorin.n.a", j.encode());
    for (int i = 0; i < 15; ++i)
        evil.publish("quorin.n.a",
                     up_from(72, pkt::kSpeakControl, proto::SpeakControl{2, 1}.encode()).encode());
    evil.flush();
    downs = evil.downs(4, 5000);
    EXPECT_TRUE(has_close(downs, 72)) << "closed after its broken rules, as a socket is";
    const auto after = ann.drain(500);
    EXPECT_EQ(count_type(after, pkt::kRightsChange), 0u) << "nobody got the speak right from a false host";

    // "Your user logged in elsewhere" for every connection of both nodes: nobody's seat is taken, nobody
    // goes.
    for (uint64_t conn = 1; conn <= 40; ++conn)
        for (const char* subject : {"quorin.n.a", "quorin.n.b"})
            evil.publish(subject, Push{"evil", conn}.encode());
    evil.flush();
    EXPECT_EQ(count_type(host.drain(800), pkt::kLoginResult), 0u);
    EXPECT_EQ(count_type(ann.drain(200), pkt::kLoginResult), 0u);

    // The real users go on.
    proto::ChatLine line;
    line.text = "still fine";
    ann.send(pkt::kChat, line.encode());
    bool heard = false;
    for (int i = 0; i < 50 && !heard; ++i) {
        auto p = host.wait_for(pkt::kChatMessage, 200);
        if (p) {
            auto c = proto::ChatLine::decode(p->payload.data(), p->payload.size());
            heard = c && c->text == "still fine";
        }
    }
    EXPECT_TRUE(heard);
}
