// The device setup dialogs of the main window: the audio setup with the system's sound devices and the camera
// setup with the cameras.
#pragma once

#include <functional>
#include <optional>

#include "session/panels.h"

class QWidget;
class CAudioSetup;
class CVideoSetup;

// The dialogs list the devices of the last scan (DevicesChanged), which runs off the UI thread: listing the
// sound server's devices may wait for the server, and a camera for its driver. A dialog opened before the
// first scan came fills its lists when it comes. Every call on the UI thread.
class DeviceDialogs : public IDeviceDialogs {
public:
    DeviceDialogs(QWidget* parent, const bool* test_camera_enabled)
        : parent_(parent), test_camera_enabled_(test_camera_enabled) {}
    bool RunAudioSetup(int& record_id, int& play_id) override;
    bool RunVideoSetup(int& camera_id) override;
    void DevicesChanged(const DeviceLists& lists) override;
    // Asked for a new scan when a dialog opens (so that the lists are the machine's now); its result comes
    // back through DevicesChanged.
    std::function<void()> rescan;
    // The machine's devices now, as the dialogs list them. Any thread; may wait for the sound server.
    static DeviceLists CurrentDevices(bool test_camera_enabled);
    CAudioSetup* open_audio() const { return audio_; }
    CVideoSetup* open_video() const { return video_; }

private:
    std::optional<DeviceLists> last_; // the last scan's lists, once one came
    CAudioSetup* audio_ = nullptr;    // the dialog that is open, if any
    CVideoSetup* video_ = nullptr;
    QWidget* parent_;
    const bool* test_camera_enabled_;
};
