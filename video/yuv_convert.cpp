// 4:2:2 to BGR (see yuv_convert.h).
#include "video/yuv_convert.h"

#include <cstring>
#include <vector>

namespace yuv {

Tables::Tables() {
    for (int i = 0; i < 256; ++i) {
        t0[i] = 298 * (i - 16);
        t1[i] = 409 * (i - 128) + 128;
        t2[i] = 100 * (i - 128);
        t3[i] = 208 * (i - 128) - 128;
        t4[i] = 516 * (i - 128) + 128;
    }
}

const Tables& tables() {
    static const Tables t;
    return t;
}

namespace {

inline uint8_t clamp8(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

} // namespace

void ConvertReference(const uint8_t* in, size_t bytes, uint8_t* out) {
    const Tables& t = tables();
    const size_t groups = (bytes + 3) / 4;
    for (size_t g = 0; g < groups; ++g) {
        uint8_t q[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < 4 && g * 4 + k < bytes; ++k)
            q[k] = in[g * 4 + k];
        const int u = q[1], v = q[3];
        for (int half = 0; half < 2; ++half) {
            const int y = q[half * 2];
            uint8_t* px = out + g * 6 + size_t(half) * 3;
            px[0] = clamp8((t.t0[y] + t.t4[u]) >> 8);
            px[1] = clamp8((t.t0[y] - (t.t2[u] + t.t3[v])) >> 8);
            px[2] = clamp8((t.t0[y] + t.t1[v]) >> 8);
        }
    }
}

void FlipConvertReference(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
    // As the panel does it: flip the rows into a buffer, then convert the whole buffer.
    const size_t row = size_t(width) * 2;
    std::vector<uint8_t> flipped(row * size_t(height));
    for (int i = 0; i < height; ++i)
        std::memcpy(flipped.data() + size_t(height - 1 - i) * row, yuyv + size_t(i) * row, row);
    ConvertReference(flipped.data(), flipped.size(), bgr);
}

namespace {

// The tables folded for one pass: per U the blue term and the U part of green, per V the red term and the V
// part of green; the sums are the same integers as in the reference, so the output is identical.
struct Folded {
    int y[256];
    int blue[256];    // T4[U]
    int green_u[256]; // T2[U]
    int green_v[256]; // T3[V]
    int red[256];     // T1[V]
    // Clamping by table: the index range covers every sum the tables can make, shifted.
    uint8_t clamp[1024 + 512];
    Folded() {
        const Tables& t = tables();
        for (int i = 0; i < 256; ++i) {
            y[i] = t.t0[i];
            blue[i] = t.t4[i];
            green_u[i] = t.t2[i];
            green_v[i] = t.t3[i];
            red[i] = t.t1[i];
        }
        for (int i = 0; i < 1024 + 512; ++i)
            clamp[i] = clamp8(i - 512);
    }
};

const Folded& folded() {
    static const Folded f;
    return f;
}

} // namespace

void FlipConvert(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
    const Folded& f = folded();
    const uint8_t* clamp = f.clamp + 512;
    const size_t in_row = size_t(width) * 2, out_row = size_t(width) * 3;
    for (int r = 0; r < height; ++r) {
        // Output row r holds input row height - 1 - r: no separate flip copy.
        const uint8_t* in = yuyv + size_t(height - 1 - r) * in_row;
        uint8_t* out = bgr + size_t(r) * out_row;
        for (int x = 0; x + 1 < width; x += 2, in += 4, out += 6) {
            const int y0 = f.y[in[0]], y1 = f.y[in[2]];
            const int b = f.blue[in[1]], g = f.green_u[in[1]] + f.green_v[in[3]], rd = f.red[in[3]];
            out[0] = clamp[(y0 + b) >> 8];
            out[1] = clamp[(y0 - g) >> 8];
            out[2] = clamp[(y0 + rd) >> 8];
            out[3] = clamp[(y1 + b) >> 8];
            out[4] = clamp[(y1 - g) >> 8];
            out[5] = clamp[(y1 + rd) >> 8];
        }
    }
}

} // namespace yuv
