// The device setup dialogs: the audio setup with the system's device lists, and the camera as a number until
// the camera setup with the capture devices exists.
#pragma once

#include "session/panels.h"

class QWidget;

class NumberDeviceDialogs : public IDeviceDialogs {
public:
    explicit NumberDeviceDialogs(QWidget* parent) : parent_(parent) {}
    bool RunAudioSetup(int& record_id, int& play_id) override;
    bool RunVideoSetup(int& camera_id) override;

private:
    QWidget* parent_;
};
