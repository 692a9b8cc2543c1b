// The session's sound interface over the platform's sound player.
#pragma once

#include "platform/sound.h"
#include "session/panels.h"

class SoundOut : public ISound {
public:
    void PlayAsync(const std::string& path) override { player_.PlayAsync(path); }

private:
    SoundPlayer player_;
};
