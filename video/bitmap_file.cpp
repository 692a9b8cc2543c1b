// Snapshot files (see bitmap_file.h).
#include "video/bitmap_file.h"

#include <cstdio>
#include <vector>

bool write_bitmap_file(const std::string& path, int width, int height, const uint8_t* pixels,
                       size_t row_bytes) {
    const uint32_t image = uint32_t(row_bytes * size_t(height));
    uint8_t header[54] = {'B', 'M'};
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = uint8_t(v >> (8 * i));
    };
    put32(2, image + 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    header[26] = 1;  // planes
    header[28] = 24; // bits per pixel
    put32(34, image);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
              std::fwrite(pixels, 1, image, f) == image;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        std::remove(path.c_str());
    return ok;
}

std::string safe_file_component(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool unsafe = u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' ||
                            c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
        out.push_back(unsafe ? '_' : c);
    }
    if (!out.empty() && out[0] == '.')
        out[0] = '_';
    if (out.size() > 64) {
        // Cut between characters: UTF-8 continuation bytes start with binary 10.
        size_t n = 64;
        while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
            --n;
        out.resize(n);
    }
    return out.empty() ? "_" : out;
}
