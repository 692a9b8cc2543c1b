// The audio and camera setup dialogs until the ones with device lists exist: the device ids as numbers.
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
