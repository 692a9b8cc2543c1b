// The remote video windows until the video registry exists: no window is lent, frames are dropped.
#pragma once

#include "session/panels.h"

class NoVideoRegistry : public IVideoRegistry {
public:
    bool AssignWindow(uint32_t, uint32_t, const proto::UserBlock&) override { return false; }
    bool ReleaseWindow(uint32_t, uint32_t) override { return true; }
    void ReleaseAll() override {}
    void OnRecvVideo(const uint8_t*, size_t) override {}
};
