// The device setup dialogs (see DeviceDialogs.h).
#include "app/DeviceDialogs.h"

#include "components/audio_devices.h"
#include "roster/CAudioSetup.h"
#include "video/CVideoSetup.h"
#include "video/capture.h"

bool DeviceDialogs::RunAudioSetup(int& record_id, int& play_id) {
    CAudioSetup dialog(list_audio_devices(true), list_audio_devices(false), parent_);
    dialog.set_ids(record_id, play_id);
    audio_ = &dialog;
    const int result = dialog.exec();
    audio_ = nullptr;
    if (result != QDialog::Accepted)
        return false;
    record_id = dialog.record_id();
    play_id = dialog.play_id();
    return true;
}

bool DeviceDialogs::RunVideoSetup(int& camera_id) {
    std::vector<std::string> names;
    for (const auto& c : capture::list_cameras(test_camera_enabled_ && *test_camera_enabled_))
        names.push_back(c.name);
    CVideoSetup dialog(names, parent_);
    dialog.set_index(camera_id);
    video_ = &dialog;
    const int result = dialog.exec();
    video_ = nullptr;
    if (result != QDialog::Accepted)
        return false;
    camera_id = dialog.index();
    return true;
}

void DeviceDialogs::DevicesChanged(const DeviceLists& lists) {
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
