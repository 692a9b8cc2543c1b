// Cluster messages (see envelope.h).
#include "cluster/envelope.h"

#include <cstring>

#include "wire/framing.h"

namespace cluster {
namespace {

class Writer {
public:
    explicit Writer(Kind kind) { u8(uint8_t(kind)); }
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) { put(v, 2); }
    void u32(uint32_t v) { put(v, 4); }
    void u64(uint64_t v) { put(v, 8); }
    void bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    void name(const std::string& s) {
        u8(uint8_t(s.size()));
        bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    proto::Bytes out;

private:
    void put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    }
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n, Kind kind) : p_(p), n_(n) {
        if (n_ < 1 || p_[0] != uint8_t(kind))
            ok_ = false;
        pos_ = 1;
    }
    bool ok() const { return ok_; }
    size_t left() const { return ok_ ? n_ - pos_ : 0; }
    uint8_t u8() { return uint8_t(get(1)); }
    uint16_t u16() { return uint16_t(get(2)); }
    uint32_t u32() { return uint32_t(get(4)); }
    uint64_t u64() { return get(8); }
    const uint8_t* take(size_t n) {
        if (!ok_ || n_ - pos_ < n) {
            ok_ = false;
            return nullptr;
        }
        const uint8_t* at = p_ + pos_;
        pos_ += n;
        return at;
    }
    std::string name() {
        const size_t len = u8();
        const uint8_t* at = take(len);
        if (!at)
            return {};
        std::string s(reinterpret_cast<const char*>(at), len);
        if (!valid_node_name(s))
            ok_ = false;
        return s;
    }
    // True when everything was read and nothing is left over.
    bool done() const { return ok_ && pos_ == n_; }

private:
    uint64_t get(int n) {
        const uint8_t* at = take(size_t(n));
        uint64_t v = 0;
        if (at)
            for (int i = 0; i < n; ++i)
                v |= uint64_t(at[i]) << (8 * i);
        return v;
    }
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace

bool valid_node_name(const std::string& name) {
    if (name.empty() || name.size() > kMaxNodeName)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '_'))
            return false;
    return true;
}

std::optional<Kind> kind_of(const uint8_t* p, size_t n) {
    if (n < 1 || p[0] < uint8_t(Kind::Up) || p[0] > uint8_t(Kind::Push))
        return std::nullopt;
    return Kind(p[0]);
}

proto::Bytes Up::encode() const {
    Writer w(Kind::Up);
    w.name(node);
    w.u64(conn);
    w.u32(ip);
    w.u16(port);
    w.u16(type);
    w.bytes(payload.data(), payload.size());
    return std::move(w.out);
}

std::optional<Up> Up::decode(const uint8_t* p, size_t n) {
    if (n > kMaxMessage)
        return std::nullopt;
    Reader r(p, n, Kind::Up);
    Up u;
    u.node = r.name();
    u.conn = r.u64();
    u.ip = r.u32();
    u.port = r.u16();
    u.type = r.u16();
    if (!r.ok() || r.left() > framing::kMaxPayload)
        return std::nullopt;
    const size_t len = r.left();
    const uint8_t* at = r.take(len);
    u.payload.assign(at, at + len);
    return u;
}

proto::Bytes Gone::encode() const {
    Writer w(Kind::Gone);
    w.name(node);
    w.u64(conn);
    return std::move(w.out);
}

std::optional<Gone> Gone::decode(const uint8_t* p, size_t n) {
    Reader r(p, n, Kind::Gone);
    Gone g;
    g.node = r.name();
    g.conn = r.u64();
    if (!r.done())
        return std::nullopt;
    return g;
}

proto::Bytes Push::encode() const {
    Writer w(Kind::Push);
    w.name(node);
    w.u64(conn);
    return std::move(w.out);
}

std::optional<Push> Push::decode(const uint8_t* p, size_t n) {
    Reader r(p, n, Kind::Push);
    Push g;
    g.node = r.name();
    g.conn = r.u64();
    if (!r.done())
        return std::nullopt;
    return g;
}

size_t Down::encoded_size() const {
    size_t n = 3;
    for (const Group& g : groups)
        n += 2 + 1 + 4 + g.payload.size() + 4 + 8 * g.conns.size();
    return n;
}

proto::Bytes Down::encode() const {
    Writer w(Kind::Down);
    w.out.reserve(encoded_size());
    w.u16(uint16_t(groups.size()));
    for (const Group& g : groups) {
        w.u16(g.type);
        w.u8(g.close ? 1 : 0);
        w.u32(uint32_t(g.payload.size()));
        w.bytes(g.payload.data(), g.payload.size());
        w.u32(uint32_t(g.conns.size()));
        for (uint64_t c : g.conns)
            w.u64(c);
    }
    return std::move(w.out);
}

std::optional<Down> Down::decode(const uint8_t* p, size_t n) {
    if (n > kMaxMessage)
        return std::nullopt;
    Reader r(p, n, Kind::Down);
    Down d;
    const size_t count = r.u16();
    if (!r.ok() || count > kMaxDownGroups)
        return std::nullopt;
    size_t receivers = 0;
    for (size_t i = 0; i < count; ++i) {
        Group g;
        g.type = r.u16();
        const uint8_t close = r.u8();
        if (close > 1)
            return std::nullopt;
        g.close = close == 1;
        const size_t len = r.u32();
        if (!r.ok() || len > framing::kMaxPayload || (g.close && len))
            return std::nullopt;
        const uint8_t* at = r.take(len);
        if (!r.ok())
            return std::nullopt;
        g.payload.assign(at, at + len);
        const size_t conns = r.u32();
        receivers += conns;
        if (!r.ok() || receivers > kMaxReceivers || conns * 8 > r.left())
            return std::nullopt;
        g.conns.resize(conns);
        for (size_t k = 0; k < conns; ++k)
            g.conns[k] = r.u64();
        d.groups.push_back(std::move(g));
    }
    if (!r.done())
        return std::nullopt;
    return d;
}

proto::Bytes Rejoin::encode() const {
    Writer w(Kind::Rejoin);
    w.name(node);
    w.u32(room);
    w.u32(uint32_t(members.size()));
    for (const Member& m : members) {
        w.u64(m.conn);
        uint8_t block[proto::UserBlock::kSize];
        m.block.encode_into(block);
        w.bytes(block, sizeof block);
        w.bytes(m.proof.data(), m.proof.size());
        w.u16(uint16_t(m.watching.size()));
        for (uint32_t u : m.watching)
            w.u32(u);
    }
    return std::move(w.out);
}

std::optional<Rejoin> Rejoin::decode(const uint8_t* p, size_t n) {
    if (n > kMaxMessage)
        return std::nullopt;
    Reader r(p, n, Kind::Rejoin);
    Rejoin j;
    j.node = r.name();
    j.room = r.u32();
    const size_t count = r.u32();
    if (!r.ok() || count > kMaxRejoinUsers ||
        count * (8 + proto::UserBlock::kSize + Rejoin::Member{}.proof.size() + 2) > r.left())
        return std::nullopt;
    for (size_t i = 0; i < count; ++i) {
        Member m;
        m.conn = r.u64();
        const uint8_t* block = r.take(proto::UserBlock::kSize);
        if (!block)
            return std::nullopt;
        auto b = proto::UserBlock::decode(block, proto::UserBlock::kSize);
        if (!b)
            return std::nullopt;
        m.block = *b;
        const uint8_t* proof = r.take(m.proof.size());
        if (!proof)
            return std::nullopt;
        std::memcpy(m.proof.data(), proof, m.proof.size());
        const size_t watches = r.u16();
        if (!r.ok() || watches > kMaxWatches)
            return std::nullopt;
        for (size_t k = 0; k < watches; ++k)
            m.watching.push_back(r.u32());
        if (!r.ok())
            return std::nullopt;
        j.members.push_back(std::move(m));
    }
    if (!r.done())
        return std::nullopt;
    return j;
}

proto::Bytes Homed::encode() const {
    Writer w(Kind::Homed);
    w.u32(room);
    w.name(node);
    return std::move(w.out);
}

std::optional<Homed> Homed::decode(const uint8_t* p, size_t n) {
    Reader r(p, n, Kind::Homed);
    Homed h;
    h.room = r.u32();
    h.node = r.name();
    if (!r.done())
        return std::nullopt;
    return h;
}

proto::Bytes Bye::encode() const {
    Writer w(Kind::Bye);
    w.name(node);
    return std::move(w.out);
}

std::optional<Bye> Bye::decode(const uint8_t* p, size_t n) {
    Reader r(p, n, Kind::Bye);
    Bye b;
    b.node = r.name();
    if (!r.done())
        return std::nullopt;
    return b;
}

proto::Bytes State::encode() const {
    Writer w(Kind::State);
    w.u64(conn);
    w.u32(rights);
    w.u32(state);
    return std::move(w.out);
}

std::optional<State> State::decode(const uint8_t* p, size_t n) {
    Reader r(p, n, Kind::State);
    State s;
    s.conn = r.u64();
    s.rights = r.u32();
    s.state = r.u32();
    if (!r.done())
        return std::nullopt;
    return s;
}

} // namespace cluster
