// Voice from the network: the input is cut into voice packets (a length byte before each), which go through
// the packet parser, a jitter buffer and the Opus decoder as in the service. Nothing may read past a packet,
// the buffer may never hold more than its bound, and every frame played is a whole frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "voice/jitter_buffer.h"
#include "voice/opus_codec.h"
#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    voice::JitterBuffer buffer(2);
    voice::VoiceDecoder decoder;
    size_t at = 0;
    while (at < size) {
        const size_t n = std::min<size_t>(data[at], size - at - 1);
        std::vector<uint8_t> payload(data + at + 1, data + at + 1 + n); // exactly sized: overreads are caught
        at += 1 + n;
        auto v = proto::VoicePacket::decode(payload.empty() ? nullptr : payload.data(), payload.size());
        if (v) {
            if (v->opus.empty() || v->opus.size() > proto::VoicePacket::kMaxOpus)
                std::abort();
            buffer.push(v->sequence, std::move(v->opus));
        }
        if (buffer.waiting() > size_t(voice::JitterBuffer::kMaxFrames))
            std::abort();
        auto p = buffer.pull();
        voice::Frame f;
        if (p.kind == voice::JitterBuffer::Pull::Packet)
            f = decoder.decode(p.packet);
        else if (p.kind == voice::JitterBuffer::Pull::Lost)
            f = decoder.conceal(p.next.empty() ? nullptr : &p.next);
        if (p.kind != voice::JitterBuffer::Pull::Nothing && f.size() != size_t(voice::kFrameSamples))
            std::abort();
    }
    return 0;
}
