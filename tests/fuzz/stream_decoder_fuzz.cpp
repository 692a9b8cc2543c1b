// The service's side of a connection: an arbitrary byte stream, cut at arbitrary points, through the frame
// decoder into the room hub, with two well-behaved users in the room beside the fuzzed one.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "service/room_hub.h"
#include "wire/framing.h"
#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    room::RoomHub hub(room::HubConfig{});
    auto join = [&](room::ConnId c, uint32_t user) {
        hub.on_connect(c, 0x0100007F, uint16_t(c));
        proto::Login l;
        l.user_id = user;
        l.room_id = 7;
        auto b = l.encode();
        hub.on_packet(c, pkt::kLogin, b.data(), b.size());
    };
    join(1, 100);
    join(2, 200);
    hub.on_connect(3, 0x0100007F, 3);

    framing::Decoder decoder;
    // The first byte of each step decides the cut, so the fuzzer explores every split of the stream.
    size_t off = 0;
    while (off < size) {
        size_t chunk = 1 + data[off] % 64;
        ++off;
        chunk = std::min(chunk, size - off);
        std::vector<uint8_t> piece(data + off, data + off + chunk);
        bool ok = decoder.feed(piece.data(), piece.size(), [&](uint16_t type, const uint8_t* p, uint32_t n) {
            std::vector<uint8_t> exact(p, p + n);
            hub.on_packet(3, type, exact.empty() ? nullptr : exact.data(), exact.size());
        });
        if (!ok)
            break;
        off += chunk;
    }
    hub.on_disconnect(3);
    hub.on_disconnect(1);
    hub.on_disconnect(2);
    if (hub.room_count() != 0)
        __builtin_trap();
    return 0;
}
