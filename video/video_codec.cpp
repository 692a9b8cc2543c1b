// Video compression with libavcodec (see video_codec.h).
#include "video/video_codec.h"

#include <cstring>

#include "video/ffmpeg_library.h"

namespace {
// FFmpeg's readers and converters may read this far past the end of a buffer.
constexpr size_t kPadding = 64;

// Frees what an encoder or decoder holds, leaving every pointer null so Close may run twice.
void free_codec(SwsContext*& scaler, AVFrame*& frame, AVPacket*& packet, AVCodecContext*& context) {
    if (!scaler && !frame && !packet && !context)
        return; // nothing was made (and FFmpeg perhaps never opened)
    const ffmpeg::Library& ff = *ffmpeg::library();
    ff.sws_freeContext(scaler);
    scaler = nullptr;
    ff.av_frame_free(&frame);
    ff.av_packet_free(&packet);
    ff.avcodec_free_context(&context);
}
} // namespace

VideoEncoder::~VideoEncoder() {
    Close();
}

void VideoEncoder::Close() {
    free_codec(to_yuv420_, frame_, packet_, context_);
}

bool VideoEncoder::Open(int width, int height, int fps) {
    Close();
    const ffmpeg::Library* library = ffmpeg::library();
    if (!library)
        return false;
    const ffmpeg::Library& ff = *library;
    // Xvid's own encoder where FFmpeg has it, otherwise FFmpeg's MPEG-4 Part 2 encoder: the same bitstream.
    const AVCodec* codec = ff.avcodec_find_encoder_by_name("libxvid");
    if (!codec)
        codec = ff.avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!codec)
        return false;
    context_ = ff.avcodec_alloc_context3(codec);
    frame_ = ff.av_frame_alloc();
    packet_ = ff.av_packet_alloc();
    if (!context_ || !frame_ || !packet_) {
        Close();
        return false;
    }
    width_ = width;
    height_ = height;
    context_->width = width;
    context_->height = height;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, fps};
    context_->framerate = AVRational{fps, 1};
    context_->bit_rate = 300000;
    context_->gop_size = fps * 10; // a key frame every 10 s, and whenever a watcher starts
    context_->max_b_frames = 0;    // no reordering: every frame goes out as it is captured
    context_->thread_count = 1;
    context_->codec_tag = kFourccXvid;
    // No global header: the stream headers travel in band with every key frame, so a late watcher decodes.
    if (ff.avcodec_open2(context_, codec, nullptr) < 0) {
        Close();
        return false;
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width;
    frame_->height = height;
    if (ff.av_frame_get_buffer(frame_, 32) < 0) {
        Close();
        return false;
    }
    to_yuv420_ = ff.sws_getContext(width, height, AV_PIX_FMT_YUYV422, width, height, AV_PIX_FMT_YUV420P,
                                   SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    padded_.assign(size_t(width) * size_t(height) * 2 + kPadding, 0);
    pts_ = 0;
    force_key_ = true;
    return to_yuv420_ != nullptr;
}

bool VideoEncoder::Encode(const uint8_t* yuyv, std::vector<uint8_t>& out, bool& key_frame) {
    out.clear();
    key_frame = false;
    if (!context_)
        return false;
    const ffmpeg::Library& ff = *ffmpeg::library(); // opened: there is a context
    std::memcpy(padded_.data(), yuyv, size_t(width_) * size_t(height_) * 2);
    if (ff.av_frame_make_writable(frame_) < 0)
        return false;
    const uint8_t* src[1] = {padded_.data()};
    const int stride[1] = {width_ * 2};
    ff.sws_scale(to_yuv420_, src, stride, 0, height_, frame_->data, frame_->linesize);
    frame_->pts = pts_++;
    frame_->pict_type = force_key_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    force_key_ = false;
    if (ff.avcodec_send_frame(context_, frame_) < 0)
        return false;
    const int r = ff.avcodec_receive_packet(context_, packet_);
    if (r == AVERROR(EAGAIN))
        return true;
    if (r < 0)
        return false;
    out.assign(packet_->data, packet_->data + packet_->size);
    key_frame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    ff.av_packet_unref(packet_);
    return true;
}

bool is_mpeg4_part2(uint32_t code) {
    uint32_t upper = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t c = uint8_t(code >> (8 * i));
        if (c >= 'a' && c <= 'z')
            c = uint8_t(c - 'a' + 'A');
        upper |= uint32_t(c) << (8 * i);
    }
    for (uint32_t known : {fourcc('X', 'V', 'I', 'D'), fourcc('D', 'I', 'V', 'X'), fourcc('D', 'X', '5', '0'),
                           fourcc('F', 'M', 'P', '4'), fourcc('M', 'P', '4', 'V')})
        if (upper == known)
            return true;
    return false;
}

VideoDecoder::~VideoDecoder() {
    Close();
}

void VideoDecoder::Close() {
    free_codec(to_bgra_, frame_, packet_, context_);
    sws_format_ = -1;
}

bool VideoDecoder::Open(uint32_t code, int width, int height) {
    Close();
    if (code == 0 || width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return false;
    // Only MPEG-4 Part 2, whatever else FFmpeg could decode: a peer must not pick which of FFmpeg's many
    // decoders parses its bytes.
    if (!is_mpeg4_part2(code))
        return false;
    const ffmpeg::Library* library = ffmpeg::library();
    if (!library)
        return false;
    const ffmpeg::Library& ff = *library;
    const AVCodec* codec = ff.avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    if (!codec)
        return false;
    context_ = ff.avcodec_alloc_context3(codec);
    frame_ = ff.av_frame_alloc();
    packet_ = ff.av_packet_alloc();
    if (!context_ || !frame_ || !packet_) {
        Close();
        return false;
    }
    context_->width = width;
    context_->height = height;
    context_->codec_tag = code;
    context_->thread_count = 1;
    if (ff.avcodec_open2(context_, codec, nullptr) < 0) {
        Close();
        return false;
    }
    out_width_ = width;
    out_height_ = height;
    pixels_.assign(size_t(width) * size_t(height) * 4, 0);
    return true;
}

bool VideoDecoder::Decode(const uint8_t* data, size_t size, bool key_frame) {
    if (!context_ || !data || size == 0 || size > (1u << 20))
        return false;
    const ffmpeg::Library& ff = *ffmpeg::library(); // opened: there is a context
    input_.assign(data, data + size);
    input_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = input_.data();
    packet_->size = int(size);
    packet_->flags = key_frame ? AV_PKT_FLAG_KEY : 0;
    const int sent = ff.avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0)
        return false;
    if (ff.avcodec_receive_frame(context_, frame_) < 0)
        return false;
    const int w = frame_->width, h = frame_->height;
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096)
        return false;
    if (!to_bgra_ || w != sws_width_ || h != sws_height_ || frame_->format != sws_format_) {
        ff.sws_freeContext(to_bgra_);
        to_bgra_ = ff.sws_getContext(w, h, AVPixelFormat(frame_->format), w, h, AV_PIX_FMT_BGRA,
                                     SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        sws_width_ = w;
        sws_height_ = h;
        sws_format_ = frame_->format;
        out_width_ = w;
        out_height_ = h;
        pixels_.assign(size_t(w) * size_t(h) * 4 + kPadding, 0);
    }
    if (!to_bgra_)
        return false;
    uint8_t* dst[1] = {pixels_.data()};
    const int stride[1] = {w * 4};
    ff.sws_scale(to_bgra_, frame_->data, frame_->linesize, 0, h, dst, stride);
    ff.av_frame_unref(frame_);
    return true;
}
