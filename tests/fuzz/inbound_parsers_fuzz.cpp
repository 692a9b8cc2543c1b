// Every inbound parser over arbitrary payloads: no read past the payload, and decoded lengths within it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copy into an exactly sized buffer so that any read past the payload is caught.
    std::vector<uint8_t> payload(data, data + size);
    const uint8_t* p = payload.empty() ? nullptr : payload.data();
    const size_t n = payload.size();
    using namespace proto;
    if (auto c = ChatLine::decode(p, n)) {
        if (c->text.size() > n - ChatLine::kHeader || c->font_face.size() > ChatLine::kFaceSize)
            std::abort();
        c->encode();
    }
    if (auto v = VideoFrame::decode(p, n)) {
        if (v->frame.size() > n - VideoFrame::kHeader)
            std::abort();
    }
    if (auto u = UserBlock::decode(p, n)) {
        if (u->nickname.size() > UserBlock::kNickSize)
            std::abort();
        u->encode();
    }
    if (auto t = SystemText::decode(p, n)) {
        if (t->text.size() > n - 4)
            std::abort();
    }
    if (auto r = LoginResult::decode(p, n)) {
        if (r->nickname.size() > 20)
            std::abort();
    }
    Login::decode(p, n);
    UserLeft::decode(p, n);
    CameraState::decode(p, n);
    SpeakRequest::decode(p, n);
    MicrophoneState::decode(p, n);
    VideoWanted::decode(p, n);
    RightsChange::decode(p, n);
    LogoutResult::decode(p, n);
    WatchVideo::decode(p, n);
    SpeakControl::decode(p, n);
    MicrophoneOn::decode(p, n);
    OutputVolume::decode(p, n);
    KeepAlive::decode(p, n);
    std::string key(reinterpret_cast<const char*>(data), std::min<size_t>(size, 48));
    decode_key_id(key);
    return 0;
}
