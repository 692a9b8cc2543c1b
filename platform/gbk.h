// Cutting GBK text to a byte budget without splitting a character. Header only and plain C++, so that the
// wire layouts, the service and the panels share one rule without linking anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The longest prefix of the GBK text `s` of at most `max_bytes` bytes that does not split a two-byte
// character.
inline size_t gbk_fit(const std::string& s, size_t max_bytes) {
    if (s.size() <= max_bytes)
        return s.size();
    size_t i = 0;
    while (i < max_bytes) {
        // A lead byte (0x81 to 0xFE) starts a two-byte character; everything else is one byte.
        const uint8_t b = uint8_t(s[i]);
        const size_t width = (b >= 0x81 && b <= 0xFE) ? 2 : 1;
        if (i + width > max_bytes)
            break;
        i += width;
    }
    return i;
}
