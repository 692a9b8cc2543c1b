// The device setup dialogs (see DeviceDialogs.h).
#include "devices/DeviceDialogs.h"

#include "components/audio_devices.h"
#include "devices/CAudioSetup.h"
#include "devices/CVideoSetup.h"
#include "video/capture.h"

bool DeviceDialogs::RunAudioSetup(int& record_id, int& play_id) {
    CAudioSetup dialog(last_ ? last_->recording : std::vector<AudioDevice>{},
                       last_ ? last_->playback : std::vector<AudioDevice>{}, parent_);
    dialog.set_ids(record_id, play_id);
    audio_ = &dialog;
    if (rescan)
        rescan();
    const int result = dialog.exec();
    audio_ = nullptr;
    if (result != QDialog::Accepted)
        return false;
    record_id = dialog.record_id();
    play_id = dialog.play_id();
    return true;
}

bool DeviceDialogs::RunVideoSetup(int& camera_id) {
    CVideoSetup dialog(last_ ? last_->cameras : std::vector<std::string>{}, parent_);
    dialog.set_index(camera_id);
    video_ = &dialog;
    if (rescan)
        rescan();
    const int result = dialog.exec();
    video_ = nullptr;
    if (result != QDialog::Accepted)
        return false;
    camera_id = dialog.index();
    return true;
}

void DeviceDialogs::DevicesChanged(const DeviceLists& lists) {
    last_ = lists;
    if (audio_)
        audio_->SetDevices(lists.recording, lists.playback);
    if (video_)
        video_->SetNames(lists.cameras);
}

DeviceLists DeviceDialogs::CurrentDevices(bool test_camera_enabled) {
    DeviceLists lists;
    lists.recording = list_audio_devices(true);
    lists.playback = list_audio_devices(false);
    for (const auto& c : capture::list_cameras(test_camera_enabled))
        lists.cameras.push_back(c.name);
    return lists;
}
