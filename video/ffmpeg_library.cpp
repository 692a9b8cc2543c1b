// FFmpeg opened at its first use (see ffmpeg_library.h).
#include "video/ffmpeg_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <type_traits>

namespace ffmpeg {

namespace {

#define QUORIN_TEXT(x) #x
#define QUORIN_SONAME(lib, major) "lib" lib ".so." QUORIN_TEXT(major)

bool load(Library& l) {
    // The same major versions as the headers: their layouts are what this code was compiled against.
    const char* const names[] = {QUORIN_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
                                 QUORIN_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR),
                                 QUORIN_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR)};
    void* handles[3] = {};
    for (int i = 0; i < 3; ++i) {
        handles[i] = dlopen(names[i], RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) {
            std::fprintf(stderr, "video: cannot open %s: %s\n", names[i], dlerror());
            return false;
        }
    }
    bool complete = true;
    // Each call is looked up in the library that defines it.
    auto find = [&](auto& call, int library, const char* name) {
        call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(handles[library], name));
        if (!call) {
            std::fprintf(stderr, "video: %s lacks %s\n", names[library], name);
            complete = false;
        }
    };
    enum { kUtil, kScale, kCodec };
    find(l.av_frame_alloc, kUtil, "av_frame_alloc");
    find(l.av_frame_free, kUtil, "av_frame_free");
    find(l.av_frame_get_buffer, kUtil, "av_frame_get_buffer");
    find(l.av_frame_make_writable, kUtil, "av_frame_make_writable");
    find(l.av_frame_unref, kUtil, "av_frame_unref");
    find(l.sws_freeContext, kScale, "sws_freeContext");
    find(l.sws_getCachedContext, kScale, "sws_getCachedContext");
    find(l.sws_getContext, kScale, "sws_getContext");
    find(l.sws_scale, kScale, "sws_scale");
    find(l.av_packet_alloc, kCodec, "av_packet_alloc");
    find(l.av_packet_free, kCodec, "av_packet_free");
    find(l.av_packet_unref, kCodec, "av_packet_unref");
    find(l.avcodec_alloc_context3, kCodec, "avcodec_alloc_context3");
    find(l.avcodec_find_decoder, kCodec, "avcodec_find_decoder");
    find(l.avcodec_find_encoder, kCodec, "avcodec_find_encoder");
    find(l.avcodec_find_encoder_by_name, kCodec, "avcodec_find_encoder_by_name");
    find(l.avcodec_free_context, kCodec, "avcodec_free_context");
    find(l.avcodec_open2, kCodec, "avcodec_open2");
    find(l.avcodec_receive_frame, kCodec, "avcodec_receive_frame");
    find(l.avcodec_receive_packet, kCodec, "avcodec_receive_packet");
    find(l.avcodec_send_frame, kCodec, "avcodec_send_frame");
    find(l.avcodec_send_packet, kCodec, "avcodec_send_packet");
    // The libraries stay open for the life of the process.
    return complete;
}

} // namespace

const Library* library() {
    static const Library* const loaded = [] {
        static Library l;
        return load(l) ? &l : nullptr;
    }();
    return loaded;
}

} // namespace ffmpeg
