// Video on this machine: the 4:2:2 to BGR conversion of a 320 x 240 frame (ours, bit-exact to the tables)
// beside libyuv (the fastest SIMD peer, not bit-exact) and libswscale on the same frames; the time to
// compress and decompress one frame at the settings the client uses.
#include <libyuv.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "video/capture.h"
#include "video/video_codec.h"
#include "video/yuv_convert.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn> double per_call_us(Fn fn, int iterations) {
    fn(); // warm up
    const auto start = Clock::now();
    for (int i = 0; i < iterations; ++i)
        fn();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / iterations;
}

} // namespace

int main() {
    constexpr int W = 320, H = 240;
    std::vector<uint8_t> yuyv(size_t(W) * H * 2 + 64);
    capture::draw_test_pattern(yuyv.data(), 7, 12, 0, 0);
    std::vector<uint8_t> bgr(size_t(W) * H * 3 + 64), argb(size_t(W) * H * 4 + 64);

    const double ours = per_call_us([&] { yuv::FlipConvert(yuyv.data(), W, H, bgr.data()); }, 2000);
    const double reference =
        per_call_us([&] { yuv::FlipConvertReference(yuyv.data(), W, H, bgr.data()); }, 500);
    // libyuv flips with a negative height, like our bottom-up output.
    const double libyuv_argb =
        per_call_us([&] { libyuv::YUY2ToARGB(yuyv.data(), W * 2, argb.data(), W * 4, W, -H); }, 2000);
    const double libyuv_24 = per_call_us(
        [&] {
            libyuv::YUY2ToARGB(yuyv.data(), W * 2, argb.data(), W * 4, W, -H);
            libyuv::ARGBToRGB24(argb.data(), W * 4, bgr.data(), W * 3, W, H);
        },
        2000);
    SwsContext* sws = sws_getContext(W, H, AV_PIX_FMT_YUYV422, W, H, AV_PIX_FMT_BGR24, SWS_POINT, nullptr,
                                     nullptr, nullptr);
    const double swscale = per_call_us(
        [&] {
            const uint8_t* src[1] = {yuyv.data()};
            const int src_stride[1] = {W * 2};
            uint8_t* dst[1] = {bgr.data() + size_t(H - 1) * W * 3};
            const int dst_stride[1] = {-W * 3};
            sws_scale(sws, src, src_stride, 0, H, dst, dst_stride);
        },
        2000);
    sws_freeContext(sws);

    std::printf("== video_bench: 4:2:2 to BGR, 320 x 240, flipped\n");
    std::printf("ours (bit-exact): %.1f us; the tables as written: %.1f us\n", ours, reference);
    std::printf("libyuv YUY2ToARGB: %.1f us; to 24-bit (two passes): %.1f us; libswscale: %.1f us\n",
                libyuv_argb, libyuv_24, swscale);
    std::printf("ratio ours / libyuv 24-bit: %.2f (goal <= 1.0); ours / libyuv 32-bit: %.2f\n",
                ours / libyuv_24, ours / libyuv_argb);
    std::printf("ratio libswscale / ours: %.2f (goal >= 5)\n", swscale / ours);

    VideoEncoder enc;
    VideoDecoder dec;
    if (!enc.Open(W, H) || !dec.Open(enc.code(), W, H)) {
        std::printf("no MPEG-4 codec\n");
        return 1;
    }
    std::vector<uint8_t> packet;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<bool> keys;
    uint32_t n = 0;
    const double encode = per_call_us(
        [&] {
            capture::draw_test_pattern(yuyv.data(), n++, 12, 0, 0);
            bool key = false;
            enc.Encode(yuyv.data(), packet, key);
            packets.push_back(packet);
            keys.push_back(key);
        },
        300);
    size_t bytes = 0;
    for (const auto& p : packets)
        bytes += p.size();
    size_t i = 0;
    const double decode = per_call_us(
        [&] {
            dec.Decode(packets[i % packets.size()].data(), packets[i % packets.size()].size(),
                       keys[i % keys.size()]);
            ++i;
        },
        300);
    std::printf(
        "compress one frame: %.2f ms; decompress: %.2f ms; %.0f bytes a frame (%.0f kbit/s at 15 frames/s)\n",
        encode / 1000, decode / 1000, double(bytes) / double(packets.size()),
        double(bytes) / double(packets.size()) * 15 * 8 / 1000);
    return 0;
}
