// Colour text parsing (see colour.h).
#include "config/colour.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {
// atoi without its undefined behaviour on overflow: the value is clamped to int.
int to_int(const char* s) {
    errno = 0;
    long v = std::strtol(s, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return int(v);
}
unsigned low_byte(int v) {
    return static_cast<unsigned>(v % 256) & 0xFF;
}
} // namespace

COLORREF parse_hex_colour(const std::string& text) {
    if (text.size() != 6)
        return 0;
    unsigned r = 0, g = 0, b = 0;
    std::sscanf(text.c_str(), "%02x%02x%02x", &r, &g, &b);
    return make_rgb(r, g, b);
}

COLORREF parse_colour(const std::string& text) {
    size_t comma = text.find(',');
    if (comma == std::string::npos)
        return text.size() == 6 ? parse_hex_colour(text) : 0;
    int r = to_int(text.c_str());
    int g = to_int(text.c_str() + comma + 1);
    size_t second = text.find(',', comma + 1);
    int b = second == std::string::npos ? 0 : to_int(text.c_str() + second + 1);
    return make_rgb(low_byte(r), low_byte(g), low_byte(b));
}
