// A remote video packet on its way to the decoder: the packet's own length checks, then FFmpeg's MPEG-4
// decoder with whatever bytes remain. No read past the packet, no crash, a picture of the opened size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "video/video_codec.h"
#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static VideoDecoder decoder;
    if (!decoder.is_open() && !decoder.Open(kFourccXvid, 320, 240))
        std::abort();
    std::vector<uint8_t> packet(data, data + size);
    auto frame = proto::VideoFrame::decode(packet.empty() ? nullptr : packet.data(), packet.size());
    if (!frame || frame->declared_length > packet.size() - proto::VideoFrame::kHeader || frame->frame.empty())
        return 0;
    if (decoder.Decode(frame->frame.data(), frame->frame.size(), frame->key_frame & 1) &&
        decoder.pixels().size() < size_t(decoder.width()) * size_t(decoder.height()) * 4)
        std::abort();
    return 0;
}
