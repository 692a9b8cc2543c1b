// A protocol user for tests and benchmarks of rooms spread over several room servers: logs in (again), and
// keeps what the room told it (roster, chat lines, senders of video and voice, its rights). Blocking, one
// thread.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "room_peer.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

using Clock = std::chrono::steady_clock;

// A user with what the room told it so far.
struct User {
    uint32_t id = 0;
    RoomPeer peer;
    std::set<uint32_t> roster;
    std::vector<std::pair<uint32_t, std::string>> chat; // (sender, text)
    std::vector<uint32_t> video_from, voice_from;
    uint32_t rights = 0;
    std::string nickname;
    // The last session's token the room server gave (it follows a login's result).
    std::optional<std::array<uint8_t, 16>> token;

    void take(const Packet& p) {
        const uint8_t* d = p.payload.data();
        const size_t n = p.payload.size();
        if (p.type == pkt::kUserPresent || p.type == pkt::kUserEntered) {
            if (auto b = proto::UserBlock::decode(d, n))
                roster.insert(b->user_id);
        } else if (p.type == pkt::kUserLeft) {
            if (auto l = proto::UserLeft::decode(d, n))
                roster.erase(l->user_id);
        } else if (p.type == pkt::kChatMessage) {
            if (auto c = proto::ChatLine::decode(d, n))
                chat.push_back({c->sender, c->text});
        } else if (p.type == pkt::kVideoFrame) {
            if (auto f = proto::VideoFrame::decode(d, n))
                video_from.push_back(f->user_id);
        } else if (p.type == pkt::kVoice) {
            if (auto v = proto::VoicePacket::decode(d, n))
                voice_from.push_back(v->user_id);
        } else if (p.type == pkt::kRightsChange) {
            if (auto r = proto::RightsChange::decode(d, n); r && r->user_id == id)
                rights = r->operation == pkt::kRightsAdd ? rights | r->rights : rights & ~r->rights;
        } else if (p.type == pkt::kSessionToken) {
            if (auto t = proto::SessionToken::decode(d, n))
                token = t->token;
        }
    }
    // Reads whatever arrives within `ms`.
    void pump(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            auto p = peer.next(10);
            if (p)
                take(*p);
        }
    }
    // `proof`: a session's token, which a reconnect brings to take that session's seat over.
    int login(uint16_t port, uint32_t room, uint32_t flags = 0,
              std::optional<std::array<uint8_t, 16>> proof = std::nullopt) {
        roster.clear();
        if (!peer.connect(port))
            return -1;
        proto::Login l;
        l.user_id = id;
        l.room_id = room;
        l.flags = flags;
        l.token = proof;
        l.timestamp = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
        peer.send(pkt::kLogin, l.encode());
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < end) {
            auto p = peer.next(50);
            if (!p)
                continue;
            if (p->type == pkt::kLoginResult) {
                auto r = proto::LoginResult::decode(p->payload.data(), p->payload.size());
                if (r) {
                    rights = r->rights;
                    nickname = r->nickname;
                }
                return r ? int(r->result) : -1;
            }
            take(*p);
        }
        return -1;
    }
    void say(const std::string& text, uint32_t to = pkt::kEveryone) {
        proto::ChatLine line;
        line.text = text;
        line.target = to;
        line.private_flag = to == pkt::kEveryone ? 0 : 1;
        peer.send(pkt::kChat, line.encode());
    }
    bool heard(uint32_t from, const std::string& text) const {
        for (const auto& [s, t] : chat)
            if (s == from && t == text)
                return true;
        return false;
    }
};

inline std::string rosters(const std::vector<User*>& users) {
    std::string s;
    for (User* u : users) {
        s += " user " + std::to_string(u->id) + " sees {";
        for (uint32_t id : u->roster)
            s += std::to_string(id) + ",";
        s += "}";
    }
    return s;
}

// Pumps every user until `done` holds or the time is up.
template <typename Fn> bool until(std::vector<User*> users, int ms, Fn done) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (done())
            return true;
        for (User* u : users)
            u->pump(5);
    }
    return done();
}
