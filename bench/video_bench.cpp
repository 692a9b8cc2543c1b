// Video on this machine: the 4:2:2 to BGR conversion of a 320 x 240 frame (ours, bit-exact to the tables)
// beside libyuv (the fastest SIMD peer, not bit-exact) and libswscale on the same frames; the time to
// compress and decompress one frame at the settings the client uses.
#include <libyuv.h>

#include <algorithm>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "video/capture.h"
#include "video/video_codec.h"
#include "video/yuv_convert.h"

namespace {

// This thread's CPU time in microseconds: on a shared machine the time other processes hold the core is not
// counted against whichever conversion happened to be running.
double thread_cpu_us() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
}

template <typename Fn> double per_call_us(Fn fn, int iterations) {
    fn(); // warm up
    const double start = thread_cpu_us();
    for (int i = 0; i < iterations; ++i)
        fn();
    return (thread_cpu_us() - start) / iterations;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string spread(const std::vector<double>& v, const char* fmt = "%.1f") {
    char a[32], b[32], c[32], out[112];
    std::snprintf(a, sizeof a, fmt, median(v));
    std::snprintf(b, sizeof b, fmt, *std::min_element(v.begin(), v.end()));
    std::snprintf(c, sizeof c, fmt, *std::max_element(v.begin(), v.end()));
    std::snprintf(out, sizeof out, "%s (%s-%s)", a, b, c);
    return out;
}

} // namespace

int main() {
    constexpr int W = 320, H = 240;
    std::vector<uint8_t> yuyv(size_t(W) * H * 2 + 64);
    capture::draw_test_pattern(yuyv.data(), 7, 12, 0, 0);
    std::vector<uint8_t> bgr(size_t(W) * H * 3 + 64), argb(size_t(W) * H * 4 + 64);

    // The conversions alternate over several rounds; each figure is the median with the range.
    constexpr int kRounds = 7;
    std::vector<double> ours, avx2, libyuv_24, libyuv_argb, reference, swscale;
    SwsContext* sws = sws_getContext(W, H, AV_PIX_FMT_YUYV422, W, H, AV_PIX_FMT_BGR24, SWS_POINT, nullptr,
                                     nullptr, nullptr);
    for (int round = 0; round < kRounds; ++round) {
        ours.push_back(per_call_us([&] { yuv::FlipConvert(yuyv.data(), W, H, bgr.data()); }, 2000));
        // libyuv flips with a negative height, like our bottom-up output.
        libyuv_24.push_back(per_call_us(
            [&] {
                libyuv::YUY2ToARGB(yuyv.data(), W * 2, argb.data(), W * 4, W, -H);
                libyuv::ARGBToRGB24(argb.data(), W * 4, bgr.data(), W * 3, W, H);
            },
            2000));
        avx2.push_back(per_call_us([&] { yuv::FlipConvertAvx2(yuyv.data(), W, H, bgr.data()); }, 2000));
        libyuv_argb.push_back(
            per_call_us([&] { libyuv::YUY2ToARGB(yuyv.data(), W * 2, argb.data(), W * 4, W, -H); }, 2000));
        reference.push_back(
            per_call_us([&] { yuv::FlipConvertReference(yuyv.data(), W, H, bgr.data()); }, 200));
        swscale.push_back(per_call_us(
            [&] {
                const uint8_t* src[1] = {yuyv.data()};
                const int src_stride[1] = {W * 2};
                uint8_t* dst[1] = {bgr.data() + size_t(H - 1) * W * 3};
                const int dst_stride[1] = {-W * 3};
                sws_scale(sws, src, src_stride, 0, H, dst, dst_stride);
            },
            500));
    }
    sws_freeContext(sws);
    auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> r;
        for (size_t i = 0; i < a.size(); ++i)
            r.push_back(a[i] / b[i]);
        return r;
    };

    std::printf("== video_bench: 4:2:2 to BGR, 320 x 240, flipped; %d rounds alternated, median (min-max) of "
                "the thread's CPU time a call\n",
                kRounds);
    std::printf("ours (bit-exact, %s): %s us; the AVX2 form: %s us; the tables as written: %s us\n",
                __builtin_cpu_supports("avx512bw") ? "AVX-512BW" : "AVX2 or tables", spread(ours).c_str(),
                spread(avx2).c_str(), spread(reference).c_str());
    std::printf("libyuv YUY2ToARGB: %s us; to 24-bit (two passes): %s us; libswscale: %s us\n",
                spread(libyuv_argb).c_str(), spread(libyuv_24).c_str(), spread(swscale).c_str());
    std::printf("ratio ours / libyuv 24-bit: %s (goal <= 1.0); AVX2 form / libyuv 24-bit: %s; ours / libyuv "
                "32-bit: %s\n",
                spread(ratio(ours, libyuv_24), "%.2f").c_str(),
                spread(ratio(avx2, libyuv_24), "%.2f").c_str(),
                spread(ratio(ours, libyuv_argb), "%.2f").c_str());
    std::printf("ratio libswscale / ours: %s (goal >= 5)\n", spread(ratio(swscale, ours), "%.2f").c_str());

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
