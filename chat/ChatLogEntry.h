// A chat line as the message log writes it: the time-stamped header and the encoded text with the sender's
// font.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The font a line was typed in, as it travels in the chat packet.
struct ChatFont {
    std::string face;      // GBK, at most 24 bytes
    uint16_t effects = 0;  // bit 0 bold, bit 1 italic, bit 2 underline
    uint16_t height = 200; // twips
    uint32_t colour = 0;   // 0x00BBGGRR
};

// Header colour of a private line (0x00BBGGRR: purple), so that it never reads as a line to everyone.
constexpr uint32_t kPrivateHeaderColour = 0x00A0207F;

struct ChatLogEntry {
    std::string header;                // GBK
    uint32_t header_colour = 0xFF0000; // 0x00BBGGRR: blue
    std::vector<uint8_t> text;         // encoded text with face codes and its terminating zero
    ChatFont font;
};
