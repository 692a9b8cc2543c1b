// The device setup dialogs of the main window: the audio setup with the system's sound devices and the camera
// setup with the cameras.
#pragma once

#include "session/panels.h"

class QWidget;
class CAudioSetup;
class CVideoSetup;

class DeviceDialogs : public IDeviceDialogs {
public:
    DeviceDialogs(QWidget* parent, const bool* test_camera_enabled)
        : parent_(parent), test_camera_enabled_(test_camera_enabled) {}
    bool RunAudioSetup(int& record_id, int& play_id) override;
    bool RunVideoSetup(int& camera_id) override;
    void DevicesChanged(const DeviceLists& lists) override;
    // The machine's devices now, as the dialogs list them.
    static DeviceLists CurrentDevices(bool test_camera_enabled);
    CAudioSetup* open_audio() const { return audio_; }
    CVideoSetup* open_video() const { return video_; }

private:
    CAudioSetup* audio_ = nullptr; // the dialog that is open, if any
    CVideoSetup* video_ = nullptr;
    QWidget* parent_;
    const bool* test_camera_enabled_;
};
