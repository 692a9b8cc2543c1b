// The cluster's messages between nodes come from the bus, untrusted: every decoder over any bytes.
#include <cstddef>
#include <cstdint>

#include "cluster/envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cluster;
    if (auto up = Up::decode(data, size))
        (void)up->encode();
    if (auto d = Down::decode(data, size))
        (void)d->encode();
    if (auto j = Rejoin::decode(data, size))
        (void)j->encode();
    (void)Gone::decode(data, size);
    (void)Homed::decode(data, size);
    (void)Bye::decode(data, size);
    (void)State::decode(data, size);
    (void)kind_of(data, size);
    return 0;
}
