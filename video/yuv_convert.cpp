// 4:2:2 to BGR (see yuv_convert.h).
#include "video/yuv_convert.h"

#include <immintrin.h>

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

namespace {

// The tables are these products, so the same sums can be made eight pixels at a time: each pixel's (Y - 16,
// U - 128) and (Y - 16, V - 128) pairs go through one multiply-and-add with the tables' factors; the +128 and
// -128 terms, the arithmetic shift by 8 and the clamp (saturating packs) are the tables' own.
__attribute__((target("avx2"))) void row_avx2(const uint8_t* in, uint8_t* out, int width) {
    const __m128i pick_yu = _mm_setr_epi8(0, 1, 2, 1, 4, 5, 6, 5, 8, 9, 10, 9, 12, 13, 14, 13);
    const __m128i pick_yv = _mm_setr_epi8(0, 3, 2, 3, 4, 7, 6, 7, 8, 11, 10, 11, 12, 15, 14, 15);
    const __m128i pick_v0 = _mm_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);
    const __m256i off_yc =
        _mm256_setr_epi16(16, 128, 16, 128, 16, 128, 16, 128, 16, 128, 16, 128, 16, 128, 16, 128);
    const __m256i off_v1 =
        _mm256_setr_epi16(128, -1, 128, -1, 128, -1, 128, -1, 128, -1, 128, -1, 128, -1, 128, -1);
    const __m256i k_blue = _mm256_set1_epi32((516 << 16) | 298);
    const __m256i k_red = _mm256_set1_epi32((409 << 16) | 298);
    const __m256i k_green_yu = _mm256_set1_epi32(int((uint32_t(uint16_t(-100)) << 16) | 298));
    const __m256i k_green_v1 = _mm256_set1_epi32(int((128u << 16) | uint16_t(-208)));
    const __m256i c128 = _mm256_set1_epi32(128);
    const __m256i to_bgr = _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1, 0, 4, 8, 1,
                                            5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
    int x = 0;
    for (; x + 8 <= width; x += 8, in += 16, out += 24) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m256i yu = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_shuffle_epi8(raw, pick_yu)), off_yc);
        const __m256i yv = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_shuffle_epi8(raw, pick_yv)), off_yc);
        const __m256i v1 = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_shuffle_epi8(raw, pick_v0)), off_v1);
        const __m256i b = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(yu, k_blue), c128), 8);
        const __m256i r = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(yv, k_red), c128), 8);
        const __m256i g = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(yu, k_green_yu), _mm256_madd_epi16(v1, k_green_v1)), 8);
        // Per 128-bit half: b0-3 g0-3 r0-3 as bytes, clamped to 0..255 by the saturating packs.
        const __m256i bg = _mm256_packs_epi32(b, g);
        const __m256i r0 = _mm256_packs_epi32(r, _mm256_setzero_si256());
        const __m256i bytes = _mm256_shuffle_epi8(_mm256_packus_epi16(bg, r0), to_bgr);
        // The two halves' 12 bytes side by side, then 16 + 8 bytes stored.
        const __m256i packed = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
    }
    // What is left of the row (widths not a multiple of 8) with the tables.
    const Folded& f = folded();
    const uint8_t* clamp = f.clamp + 512;
    for (; x + 1 < width; x += 2, in += 4, out += 6) {
        const int y0 = f.y[in[0]], y1 = f.y[in[2]];
        const int bb = f.blue[in[1]], gg = f.green_u[in[1]] + f.green_v[in[3]], rr = f.red[in[3]];
        out[0] = clamp[(y0 + bb) >> 8];
        out[1] = clamp[(y0 - gg) >> 8];
        out[2] = clamp[(y0 + rr) >> 8];
        out[3] = clamp[(y1 + bb) >> 8];
        out[4] = clamp[(y1 - gg) >> 8];
        out[5] = clamp[(y1 + rr) >> 8];
    }
}

// GCC 12 warns about the intentionally undefined pass-through operands inside its own AVX-512 intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The same sums sixteen pixels at a time: each 128-bit lane of the 512-bit registers holds four pixels
// exactly as a lane of the AVX2 form does, and the four lanes' 12 output bytes are gathered into 48 with one
// permutation and written with one masked store.
__attribute__((target("avx512f,avx512bw"))) void row_avx512(const uint8_t* in, uint8_t* out, int width) {
    const __m256i pick_yu = _mm256_setr_epi8(0, 1, 2, 1, 4, 5, 6, 5, 8, 9, 10, 9, 12, 13, 14, 13, 0, 1, 2, 1,
                                             4, 5, 6, 5, 8, 9, 10, 9, 12, 13, 14, 13);
    const __m256i pick_yv = _mm256_setr_epi8(0, 3, 2, 3, 4, 7, 6, 7, 8, 11, 10, 11, 12, 15, 14, 15, 0, 3, 2,
                                             3, 4, 7, 6, 7, 8, 11, 10, 11, 12, 15, 14, 15);
    const __m256i pick_v0 = _mm256_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1, 3,
                                             -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);
    const __m512i off_yc = _mm512_set1_epi32((128 << 16) | 16);
    const __m512i off_v1 = _mm512_set1_epi32(int((uint32_t(uint16_t(-1)) << 16) | 128));
    const __m512i k_blue = _mm512_set1_epi32((516 << 16) | 298);
    const __m512i k_red = _mm512_set1_epi32((409 << 16) | 298);
    const __m512i k_green_yu = _mm512_set1_epi32(int((uint32_t(uint16_t(-100)) << 16) | 298));
    const __m512i k_green_v1 = _mm512_set1_epi32(int((128u << 16) | uint16_t(-208)));
    const __m512i c128 = _mm512_set1_epi32(128);
    const __m512i to_bgr =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
    const __m512i gather = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
    int x = 0;
    for (; x + 16 <= width; x += 16, in += 32, out += 48) {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m512i yu = _mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_shuffle_epi8(raw, pick_yu)), off_yc);
        const __m512i yv = _mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_shuffle_epi8(raw, pick_yv)), off_yc);
        const __m512i v1 = _mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_shuffle_epi8(raw, pick_v0)), off_v1);
        const __m512i b = _mm512_srai_epi32(_mm512_add_epi32(_mm512_madd_epi16(yu, k_blue), c128), 8);
        const __m512i r = _mm512_srai_epi32(_mm512_add_epi32(_mm512_madd_epi16(yv, k_red), c128), 8);
        const __m512i g = _mm512_srai_epi32(
            _mm512_add_epi32(_mm512_madd_epi16(yu, k_green_yu), _mm512_madd_epi16(v1, k_green_v1)), 8);
        const __m512i bg = _mm512_packs_epi32(b, g);
        const __m512i r0 = _mm512_packs_epi32(r, _mm512_setzero_si512());
        const __m512i bytes = _mm512_shuffle_epi8(_mm512_packus_epi16(bg, r0), to_bgr);
        _mm512_mask_storeu_epi32(out, 0x0FFF, _mm512_permutexvar_epi32(gather, bytes));
    }
    // The rest of the row (widths not a multiple of 16) in the AVX2 form.
    row_avx2(in, out, width - x);
}

#pragma GCC diagnostic pop

bool have_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

bool have_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return yes;
}

template <void (*Row)(const uint8_t*, uint8_t*, int)>
void flip_rows(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
    const size_t in_row = size_t(width) * 2, out_row = size_t(width) * 3;
    for (int r = 0; r < height; ++r)
        Row(yuyv + size_t(height - 1 - r) * in_row, bgr + size_t(r) * out_row, width);
}

} // namespace

void FlipConvert(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
    if (FlipConvertAvx512(yuyv, width, height, bgr) || FlipConvertAvx2(yuyv, width, height, bgr))
        return;
    FlipConvertTables(yuyv, width, height, bgr);
}

bool FlipConvertAvx2(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
    if (!have_avx2())
        return false;
    flip_rows<row_avx2>(yuyv, width, height, bgr);
    return true;
}

bool FlipConvertAvx512(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
    if (!have_avx512() || !have_avx2())
        return false;
    flip_rows<row_avx512>(yuyv, width, height, bgr);
    return true;
}

void FlipConvertTables(const uint8_t* yuyv, int width, int height, uint8_t* bgr) {
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
