// Packed 4:2:2 (Y0 U Y1 V) to 24-bit BGR with the integer BT.601 tables, rows flipped bottom-up (the order of
// a bitmap file). Two versions with identical output: the reference walks the tables exactly as written, the
// fast one is what the camera path uses. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>

namespace yuv {

// The five tables: T0 = 298 (i - 16), T1 = 409 (i - 128) + 128, T2 = 100 (i - 128), T3 = 208 (i - 128) - 128,
// T4 = 516 (i - 128) + 128.
struct Tables {
    int t0[256], t1[256], t2[256], t3[256], t4[256];
    Tables();
};
const Tables& tables();

// Converts `bytes` bytes of packed 4:2:2 (the byte count divided by 4, rounded up, groups; a last partial
// group reads zeros for its missing bytes) into BGR, 6 output bytes per group.
void ConvertReference(const uint8_t* yuyv, size_t bytes, uint8_t* bgr);

// A whole frame: `width` x `height` YUYV rows (width * 2 bytes each) into BGR rows (width * 3 bytes each) in
// reverse row order, so that the output is a bottom-up bitmap of the picture.
void FlipConvertReference(const uint8_t* yuyv, int width, int height, uint8_t* bgr);
// The camera path: sixteen pixels at a time with AVX-512BW or eight with AVX2, whichever the processor has
// (chosen once, at the first call), the tables otherwise.
void FlipConvert(const uint8_t* yuyv, int width, int height, uint8_t* bgr);
// The vector forms by name, for comparing them: false (and nothing converted) when the processor lacks the
// instructions.
bool FlipConvertAvx2(const uint8_t* yuyv, int width, int height, uint8_t* bgr);
bool FlipConvertAvx512(const uint8_t* yuyv, int width, int height, uint8_t* bgr);
// The tables folded into one pass, for processors without AVX2.
void FlipConvertTables(const uint8_t* yuyv, int width, int height, uint8_t* bgr);

} // namespace yuv
