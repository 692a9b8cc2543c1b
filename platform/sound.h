// Sounds played without waiting; a file that cannot be read gives the system's beep. The files are the
// installation's short WAV files (PCM, 8 or 16 bits, mono or stereo); they play through ALSA's default
// device (the sound server's, where one runs) on a thread of the player's own, and a new sound cuts off the
// one still playing. (Qt Multimedia did the same at the cost of loading it and a dozen libraries behind it
// before the first window could show.)
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The samples of a WAV file and how to play them. Every length in the file is checked against the bytes
// there are; a file this does not describe gives nothing.
struct WavSound {
    int channels = 1;             // 1 or 2
    int bits = 16;                // 8 (unsigned) or 16 (signed, little-endian)
    int rate = 22050;             // frames a second, 4000 to 192000
    std::vector<uint8_t> samples; // whole frames only
};
std::optional<WavSound> parse_wav(const std::vector<uint8_t>& file);

class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;
    // UI thread only.
    void PlayAsync(const std::string& path);
    // Sounds the player thread has played to their end (for tests; any thread).
    int finished() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string next_;      // the file to play next, empty when none
    uint64_t requests_ = 0; // counts PlayAsync calls; a sound ends early when it changes
    bool stopping_ = false;
    int finished_ = 0;
    std::thread thread_; // started with the first sound
};
