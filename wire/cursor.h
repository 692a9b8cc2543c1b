// Field cursors over a fixed-size layout. A layout names each field once, in a `fields(cursor, value)`
// template; the Writer puts the fields into a zeroed buffer and the Reader takes them out of a payload whose
// length was checked against the layout first, so every offset of a layout is written in one place.
// Little-endian; text fields are zero-padded GBK that never split a character.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/gbk.h"

namespace proto {

using Bytes = std::vector<uint8_t>;

// Camera format: compressor FourCC, width, height, bits per pixel (10 bytes).
struct StreamDesc {
    static constexpr size_t kSize = 10;
    uint32_t fourcc = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t bpp = 0;
    bool operator==(const StreamDesc&) const = default;
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.fourcc);
        c.u16(4, s.width);
        c.u16(6, s.height);
        c.u16(8, s.bpp);
    }
};

class Writer {
public:
    // `p` holds `size` zero bytes.
    Writer(uint8_t* p, size_t size) : p_(p), size_(size) {}
    void u8(size_t at, uint8_t v) { at_(at, 1)[0] = v; }
    void u16(size_t at, uint16_t v) { put(at, v, 2); }
    void u32(size_t at, uint32_t v) { put(at, v, 4); }
    void u64(size_t at, uint64_t v) { put(at, v, 8); }
    void i64(size_t at, int64_t v) { put(at, uint64_t(v), 8); }
    // A value that is already in network byte order (an IPv4 address), copied as it is.
    void raw32(size_t at, uint32_t v) { std::memcpy(at_(at, 4), &v, 4); }
    // A field that always holds the same value: written here, not read back.
    void constant32(size_t at, uint32_t v) { u32(at, v); }
    void constant16(size_t at, uint16_t v) { u16(at, v); }
    template <size_t N> void bytes(size_t at, const std::array<uint8_t, N>& v) {
        std::memcpy(at_(at, N), v.data(), N);
    }
    // The text cut to the field at a character boundary; a full field has no terminator.
    void text(size_t at, size_t size, const std::string& s) {
        std::memcpy(at_(at, size), s.data(), gbk_fit(s, size));
    }
    void stream(size_t at, const StreamDesc& s) {
        Writer inner(at_(at, StreamDesc::kSize), StreamDesc::kSize);
        StreamDesc::fields(inner, s);
    }

private:
    uint8_t* at_(size_t at, [[maybe_unused]] size_t width) {
        assert(at + width <= size_);
        return p_ + at;
    }
    void put(size_t at, uint64_t v, int width) {
        uint8_t* p = at_(at, size_t(width));
        for (int i = 0; i < width; ++i)
            p[i] = uint8_t(v >> (8 * i));
    }
    uint8_t* p_;
    [[maybe_unused]] size_t size_;
};

class Reader {
public:
    // `p` holds at least `size` bytes.
    Reader(const uint8_t* p, size_t size) : p_(p), size_(size) {}
    void u8(size_t at, uint8_t& v) { v = at_(at, 1)[0]; }
    void u16(size_t at, uint16_t& v) { v = uint16_t(get(at, 2)); }
    void u32(size_t at, uint32_t& v) { v = uint32_t(get(at, 4)); }
    void u64(size_t at, uint64_t& v) { v = get(at, 8); }
    void i64(size_t at, int64_t& v) { v = int64_t(get(at, 8)); }
    void raw32(size_t at, uint32_t& v) { std::memcpy(&v, at_(at, 4), 4); }
    void constant32(size_t, uint32_t) {}
    void constant16(size_t, uint16_t) {}
    template <size_t N> void bytes(size_t at, std::array<uint8_t, N>& v) {
        std::memcpy(v.data(), at_(at, N), N);
    }
    // To the terminator or to the end of the field, never past it.
    void text(size_t at, size_t size, std::string& s) {
        const uint8_t* p = at_(at, size);
        const void* z = std::memchr(p, 0, size);
        s.assign(reinterpret_cast<const char*>(p), z ? size_t(static_cast<const uint8_t*>(z) - p) : size);
    }
    void stream(size_t at, StreamDesc& s) {
        Reader inner(at_(at, StreamDesc::kSize), StreamDesc::kSize);
        StreamDesc::fields(inner, s);
    }

private:
    const uint8_t* at_(size_t at, [[maybe_unused]] size_t width) const {
        assert(at + width <= size_);
        return p_ + at;
    }
    uint64_t get(size_t at, int width) const {
        const uint8_t* p = at_(at, size_t(width));
        uint64_t v = 0;
        for (int i = 0; i < width; ++i)
            v |= uint64_t(p[i]) << (8 * i);
        return v;
    }
    const uint8_t* p_;
    [[maybe_unused]] size_t size_;
};

// A layout of T::kSize bytes described by T::fields.
template <class T> Bytes encode_fixed(const T& value) {
    Bytes b(T::kSize);
    Writer w(b.data(), b.size());
    T::fields(w, value);
    return b;
}

// Nothing when the payload is shorter than the layout; bytes past it are ignored.
template <class T> std::optional<T> decode_fixed(const uint8_t* p, size_t n) {
    if (!p || n < T::kSize)
        return std::nullopt;
    T value;
    Reader r(p, T::kSize);
    T::fields(r, value);
    return value;
}

} // namespace proto
