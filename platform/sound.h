// Sounds played without waiting; a file that cannot be played gives the system's beep.
#pragma once

#include <string>

#include "panels.h"

class QSoundEffect;

class SoundPlayer : public ISound {
public:
    SoundPlayer();
    ~SoundPlayer() override;
    // UI thread only.
    void PlayAsync(const std::string& path) override;

private:
    QSoundEffect* effect_ = nullptr;
};
