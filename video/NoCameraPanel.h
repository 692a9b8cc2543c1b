// The local camera panel until the capture engine exists: this machine has no camera for it.
#pragma once

#include "session/panels.h"

class NoCameraPanel : public IMediaPanel {
public:
    bool CameraPresent() override { return false; }
    bool SwitchCamera(bool, int) override { return false; }
    void SetVideoWanted(bool) override {}
    bool ProbeEchoCancellation() override { return false; }
};
