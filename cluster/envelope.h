// The messages between the nodes of a room-server cluster, carried by NATS. Little-endian, each starting
// with its kind. Every decoder checks every length and count against the message and against the caps below:
// a message from the bus is as untrusted as a packet from a socket.
//
//   Up      an edge to a room's home: one packet of one of its connections (the login included)
//   Gone    an edge to a room's home: that connection closed
//   Down    a home to an edge: packets for the edge's connections, each payload once with its receivers
//   Rejoin  an edge to a room's new home: the members it holds, with their rights, state, watches and the
//           SHA-256 of their sessions' tokens
//   Homed   to every node: a room has a new home
//   Bye     to every node: a node is ending
//   State   a home to an edge: a member's rights and microphone as the room holds them
//   Push    to a user's node: that connection's user logged in again elsewhere; it is sent away
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/protocol.h"

namespace cluster {

enum class Kind : uint8_t { Up = 1, Gone = 2, Down = 3, Rejoin = 4, Homed = 5, Bye = 6, State = 7, Push = 8 };

// Caps on what one message may hold.
constexpr size_t kMaxNodeName = 32;
constexpr size_t kMaxDownGroups = 4096;
constexpr size_t kMaxReceivers = 20000;
constexpr size_t kMaxRejoinUsers = 20000;
constexpr size_t kMaxWatches = 256;
constexpr size_t kMaxMessage = 8u << 20;

// A node name: 1 to 32 of A-Z a-z 0-9 - _ (it becomes part of NATS subjects and Redis keys).
bool valid_node_name(const std::string& name);

struct Up {
    std::string node;  // the edge
    uint64_t conn = 0; // the edge's connection
    uint32_t ip = 0;   // the user's address as the edge sees it (network byte order)
    uint16_t port = 0;
    uint16_t type = 0;
    proto::Bytes payload;
    proto::Bytes encode() const;
    static std::optional<Up> decode(const uint8_t* p, size_t n);
};

struct Gone {
    std::string node;
    uint64_t conn = 0;
    proto::Bytes encode() const;
    static std::optional<Gone> decode(const uint8_t* p, size_t n);
};

struct Down {
    struct Group {
        uint16_t type = 0;
        bool close = false; // the receivers' connections are to be closed (no payload)
        proto::Bytes payload;
        std::vector<uint64_t> conns;
    };
    std::vector<Group> groups;
    size_t encoded_size() const;
    proto::Bytes encode() const;
    static std::optional<Down> decode(const uint8_t* p, size_t n);
};

struct Rejoin {
    struct Member {
        uint64_t conn = 0;
        proto::UserBlock block;
        // The SHA-256 of the member's session token (all zero: none known): the new home lets the session's
        // reconnect take its seat over, as the old one would have.
        std::array<uint8_t, 32> proof{};
        std::vector<uint32_t> watching; // the users this member watches
    };
    std::string node;
    uint32_t room = 0;
    std::vector<Member> members;
    proto::Bytes encode() const;
    static std::optional<Rejoin> decode(const uint8_t* p, size_t n);
};

struct Homed {
    uint32_t room = 0;
    std::string node;
    proto::Bytes encode() const;
    static std::optional<Homed> decode(const uint8_t* p, size_t n);
};

struct Bye {
    std::string node;
    proto::Bytes encode() const;
    static std::optional<Bye> decode(const uint8_t* p, size_t n);
};

struct State {
    uint64_t conn = 0;
    uint32_t rights = 0;
    uint32_t state = 0;
    proto::Bytes encode() const;
    static std::optional<State> decode(const uint8_t* p, size_t n);
};

struct Push {
    std::string node;  // where the new login is
    uint64_t conn = 0; // the connection pushed out, at the receiving node
    proto::Bytes encode() const;
    static std::optional<Push> decode(const uint8_t* p, size_t n);
};

// The kind of a message, or nothing for an empty one or an unknown kind.
std::optional<Kind> kind_of(const uint8_t* p, size_t n);

} // namespace cluster
