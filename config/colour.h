// Colour references 0x00BBGGRR (red in the low byte) and their two text forms.
#pragma once

#include <cstdint>
#include <string>

using COLORREF = uint32_t;

constexpr COLORREF make_rgb(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr unsigned rgb_red(COLORREF c) {
    return c & 0xFF;
}
constexpr unsigned rgb_green(COLORREF c) {
    return (c >> 8) & 0xFF;
}
constexpr unsigned rgb_blue(COLORREF c) {
    return (c >> 16) & 0xFF;
}

// "rrggbb": three hexadecimal pairs; a pair that does not scan, and every pair after it, stays 0.
// Any text whose length is not 6 gives 0.
COLORREF parse_hex_colour(const std::string& text);

// Six characters without a comma: parse_hex_colour. Otherwise "r,g[,b]" in decimal, each modulo 256;
// text without a comma gives black.
COLORREF parse_colour(const std::string& text);
