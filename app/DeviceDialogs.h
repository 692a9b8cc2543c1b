// The device setup dialogs of the main window: the audio setup with the system's sound devices and the camera
// setup with the cameras.
#pragma once

#include "session/panels.h"

class QWidget;

class DeviceDialogs : public IDeviceDialogs {
public:
    DeviceDialogs(QWidget* parent, const bool* test_camera_enabled)
        : parent_(parent), test_camera_enabled_(test_camera_enabled) {}
    bool RunAudioSetup(int& record_id, int& play_id) override;
    bool RunVideoSetup(int& camera_id) override;

private:
    QWidget* parent_;
    const bool* test_camera_enabled_;
};
