// The audio setup dialog "音频设置": the recording and the playback device, each "默认设备" (-1) or a device
// of the system's lists (its position, from 0), and buttons that open the system's volume control for either
// direction. It only lists, selects and returns.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "components/audio_devices.h"

class QComboBox;

class CAudioSetup : public QDialog {
public:
    enum Control { kRecordingList = 1062, kPlaybackList = 1063, kAdjustInput = 1064, kAdjustOutput = 1065 };

    // The device lists are given, so that the dialog can be shown with any lists.
    CAudioSetup(const std::vector<AudioDevice>& capture, const std::vector<AudioDevice>& playback,
                QWidget* parent);

    void set_ids(int record_id, int play_id);
    // New device lists while the dialog is open: the chosen entries stay on their devices when those are
    // still there, otherwise the default device is chosen. A list that showed no selection (its id was past
    // the list, as before the first scan) selects its id's entry once there is one.
    void SetDevices(const std::vector<AudioDevice>& capture, const std::vector<AudioDevice>& playback);
    // After OK: the chosen ids (-1 for the default device); an id with no entry stays as it was.
    int record_id() const { return record_id_; }
    int play_id() const { return play_id_; }
    QComboBox* recording_list() const { return recording_; }
    QComboBox* playback_list() const { return playback_; }

    void accept() override;
    // Opens the system's volume control for recording (true) or playback; false (and a message) when there
    // is none on this machine.
    bool OpenVolumeControl(bool recording);

private:
    QComboBox* recording_;
    QComboBox* playback_;
    int record_id_ = -1;
    int play_id_ = -1;
};
