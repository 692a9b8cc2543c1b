// Compression of the camera's frames and decompression of other users' frames with FFmpeg's libavcodec. The
// encoder is MPEG-4 Part 2 announced as "XVID"; the decoder opens only for the four-character codes of MPEG-4
// Part 2 (XVID, DIVX, DX50, FMP4, MP4V, in either case), so no peer chooses another of FFmpeg's decoders.
// Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}
constexpr uint32_t kFourccXvid = fourcc('X', 'V', 'I', 'D');

// Whether a four-character code names MPEG-4 Part 2, the only format the decoder accepts.
bool is_mpeg4_part2(uint32_t code);

class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Opens for packed 4:2:2 frames of this size; false when no MPEG-4 encoder can be had.
    bool Open(int width, int height, int frames_per_second = 15);
    void Close();
    bool is_open() const { return context_ != nullptr; }
    uint32_t code() const { return kFourccXvid; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bits_per_pixel() const { return 24; }

    // The next frame is a key frame (a new watcher then sees a picture at once).
    void ForceKeyFrame() { force_key_ = true; }
    // Compresses one frame; `out` receives the compressed bytes (empty when the encoder held the frame back).
    // The frames and the converter are made once at Open: only the encoder's own packet buffer is per frame.
    bool Encode(const uint8_t* yuyv, std::vector<uint8_t>& out, bool& key_frame);

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* to_yuv420_ = nullptr;
    std::vector<uint8_t> padded_; // the input, with room for the converter's reads past the end
    int width_ = 0, height_ = 0;
    int64_t pts_ = 0;
    bool force_key_ = true;
};

class VideoDecoder {
public:
    VideoDecoder() = default;
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // False (and closed) for a code other than MPEG-4 Part 2 or a size that makes no sense.
    bool Open(uint32_t code, int width, int height);
    void Close();
    bool is_open() const { return context_ != nullptr; }

    // Decodes one compressed frame into 32-bit pixels (blue, green, red, unused; top row first). False when
    // the frame does not decode (it is dropped; the next key frame recovers).
    bool Decode(const uint8_t* data, size_t size, bool key_frame);
    const std::vector<uint8_t>& pixels() const { return pixels_; }
    int width() const { return out_width_; }
    int height() const { return out_height_; }

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* to_bgra_ = nullptr;
    std::vector<uint8_t> input_; // padded as the decoder requires
    std::vector<uint8_t> pixels_;
    int out_width_ = 0, out_height_ = 0;
    int sws_width_ = 0, sws_height_ = 0, sws_format_ = -1;
};
