// FFmpeg's codec libraries, opened at their first use instead of when the program starts. Loading them and
// the eighty-odd libraries they need (every one resolved at load) was most of the client's start-up before
// its window showed, and a class in which nobody has a camera on never needs them. Thread-safe.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace ffmpeg {

// The calls the video code makes, by the names FFmpeg gives them.
struct Library {
#define QUORIN_FFMPEG_CALL(name) decltype(&::name) name = nullptr
    QUORIN_FFMPEG_CALL(av_frame_alloc);
    QUORIN_FFMPEG_CALL(av_frame_free);
    QUORIN_FFMPEG_CALL(av_frame_get_buffer);
    QUORIN_FFMPEG_CALL(av_frame_make_writable);
    QUORIN_FFMPEG_CALL(av_frame_unref);
    QUORIN_FFMPEG_CALL(av_packet_alloc);
    QUORIN_FFMPEG_CALL(av_packet_free);
    QUORIN_FFMPEG_CALL(av_packet_unref);
    QUORIN_FFMPEG_CALL(avcodec_alloc_context3);
    QUORIN_FFMPEG_CALL(avcodec_find_decoder);
    QUORIN_FFMPEG_CALL(avcodec_find_encoder);
    QUORIN_FFMPEG_CALL(avcodec_find_encoder_by_name);
    QUORIN_FFMPEG_CALL(avcodec_free_context);
    QUORIN_FFMPEG_CALL(avcodec_open2);
    QUORIN_FFMPEG_CALL(avcodec_receive_frame);
    QUORIN_FFMPEG_CALL(avcodec_receive_packet);
    QUORIN_FFMPEG_CALL(avcodec_send_frame);
    QUORIN_FFMPEG_CALL(avcodec_send_packet);
    QUORIN_FFMPEG_CALL(sws_freeContext);
    QUORIN_FFMPEG_CALL(sws_getCachedContext);
    QUORIN_FFMPEG_CALL(sws_getContext);
    QUORIN_FFMPEG_CALL(sws_scale);
#undef QUORIN_FFMPEG_CALL
};

// The libraries of the major versions the program was built with, opened once; null (said once on standard
// error) when they cannot be opened or lack a call, and then video is unavailable as without a codec.
const Library* library();

} // namespace ffmpeg
