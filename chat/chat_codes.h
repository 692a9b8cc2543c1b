// The encoded chat text: GBK text in which each embedded face stands as a 6-byte face code (0x01, 0x00, the
// face's 32-bit index, little-endian), line breaks as CR LF, ended by one zero byte that counts in the
// length. Plain C++; decoding takes untrusted bytes from the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chat {

// Faces 00.gif to 89.gif; an index from the network outside this range is never looked up.
constexpr int kFaceCount = 90;
constexpr size_t kFaceCodeSize = 6;
// The longest encoded text a line may carry, its terminating zero included.
constexpr size_t kMaxEncodedText = 4096;

// One piece of a chat line: a run of GBK text, or a face.
struct Piece {
    enum Kind { Text, Face, UnknownFace } kind = Text;
    std::string text; // Text: GBK bytes
    int32_t face = 0; // Face and UnknownFace: the index as sent
    bool operator==(const Piece&) const = default;
};

// The encoded text of the pieces, with its terminating zero.
std::vector<uint8_t> Encode(const std::vector<Piece>& pieces);

// The pieces of `n` encoded bytes. A face code needs all six bytes inside `n`; a code cut at the end is
// text. Zero bytes end nothing but are not shown. Indexes outside 0 to 89 come back as UnknownFace.
std::vector<Piece> Decode(const uint8_t* p, size_t n);

} // namespace chat
