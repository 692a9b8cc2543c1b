// Sounds played without waiting; a file that cannot be played gives the system's beep.
#pragma once

#include <string>

class QSoundEffect;

class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;
    // UI thread only.
    void PlayAsync(const std::string& path);

private:
    QSoundEffect* effect_ = nullptr;
};
