// Sounds: WAV files read as their headers say and no further, and played through the test environment's
// sound server, a new sound cutting off the one still playing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "eventually.h"
#include "platform/sound.h"
#include "temp_dir.h"
#include "tone.h"

namespace {

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(uint8_t(x >> (8 * i)));
}
void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

// A WAV file of `samples` with the given header fields; `data_size` overrides the data chunk's length field.
std::vector<uint8_t> wav(const std::vector<uint8_t>& samples, uint16_t channels = 1, uint32_t rate = 48000,
                         uint16_t bits = 16, uint16_t tag = 1, int64_t data_size = -1) {
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F'};
    put32(v, uint32_t(36 + samples.size()));
    for (char c : std::string("WAVEfmt "))
        v.push_back(uint8_t(c));
    put32(v, 16);
    put16(v, tag);
    put16(v, channels);
    put32(v, rate);
    put32(v, rate * channels * bits / 8);
    put16(v, uint16_t(channels * bits / 8));
    put16(v, bits);
    for (char c : std::string("data"))
        v.push_back(uint8_t(c));
    put32(v, data_size < 0 ? uint32_t(samples.size()) : uint32_t(data_size));
    v.insert(v.end(), samples.begin(), samples.end());
    return v;
}

std::vector<uint8_t> tone_samples(double seconds, double hz = 440) {
    std::vector<uint8_t> out;
    for (int i = 0; i < int(seconds * 48000); ++i)
        put16(out, uint16_t(int16_t(12000 * std::sin(2 * M_PI * hz * i / 48000.0))));
    return out;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

} // namespace

TEST(Sound, WavFilesAreReadAsTheirHeadersSayAndNoFurther) {
    const std::vector<uint8_t> four_frames = {1, 0, 2, 0, 3, 0, 4, 0};
    auto ok = parse_wav(wav(four_frames));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->samples, four_frames);
    EXPECT_EQ(ok->rate, 48000);
    auto stereo8 = parse_wav(wav({1, 2, 3, 4, 5}, 2, 22050, 8));
    ASSERT_TRUE(stereo8);
    EXPECT_EQ(stereo8->samples.size(), 4u) << "whole frames only";
    auto cut = parse_wav(wav(four_frames, 1, 48000, 16, 1, 1 << 30));
    ASSERT_TRUE(cut) << "a data chunk longer than the file plays what there is";
    EXPECT_EQ(cut->samples, four_frames);

    EXPECT_FALSE(parse_wav({}));
    EXPECT_FALSE(parse_wav(wav(four_frames, 1, 48000, 24)));
    EXPECT_FALSE(parse_wav(wav(four_frames, 6)));
    EXPECT_FALSE(parse_wav(wav(four_frames, 1, 0)));
    EXPECT_FALSE(parse_wav(wav(four_frames, 1, 48000, 16, 3))) << "floating point";
    EXPECT_FALSE(parse_wav(wav({}))) << "no samples";
    // Every cut of a valid file is read without going past its end.
    const std::vector<uint8_t> whole = wav(four_frames);
    for (size_t n = 0; n < whole.size(); ++n) {
        auto part = parse_wav(std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
        if (part) {
            EXPECT_LE(part->samples.size(), n);
        }
    }
    // A format chunk claiming more than the file holds, and a data chunk before any format.
    std::vector<uint8_t> bad = whole;
    bad[16] = 0xFF;
    bad[17] = 0xFF;
    EXPECT_FALSE(parse_wav(bad));
    std::vector<uint8_t> data_first = {'R', 'I', 'F', 'F', 0,   0,   0,   0,
                                       'W', 'A', 'V', 'E', 'd', 'a', 't', 'a'};
    put32(data_first, 2);
    put16(data_first, 7);
    EXPECT_FALSE(parse_wav(data_first));
}

TEST(Sound, PlaysThroughTheSoundServerAndANewSoundCutsTheOldOneOff) {
    // The default sink of this process's streams: the speaker that tone.h records.
    setenv("PULSE_SINK", "quorin_speaker", 1);
    TempDir dir;
    write_bytes(dir.file("tone.wav"), wav(tone_samples(1.2)));
    write_bytes(dir.file("long.wav"), wav(tone_samples(2.0, 660)));
    // The speaker runs, as a real device does (an idle null sink holds a new stream's start for about two
    // seconds).
    TonePlayer keep_speaker_running("quorin_speaker", 0);
    SoundPlayer player;
    // The speaker is recorded from before the sound starts until it has played to its end.
    std::vector<int16_t> heard;
    std::atomic<bool> recording{false};
    std::thread recorder([&] {
        heard = record_speaker_until([&] { return player.finished() >= 1; }, 300, 30000, &recording);
    });
    ASSERT_TRUE(eventually([&] { return recording.load(); }, 30000));
    player.PlayAsync(dir.file("tone.wav"));
    recorder.join();
    const ToneCheck check = tone_in(heard, 440);
    std::printf("sound: 440 Hz share %.3f over %d sounding windows, %d silent\n", check.share, check.sounding,
                check.silent);
    EXPECT_GT(check.sounding, 3) << "the sound reached the speaker";
    EXPECT_GT(check.share, 0.5);
    EXPECT_TRUE(eventually([&] { return player.finished() >= 1; }, 30000, 20));
    EXPECT_EQ(player.finished(), 1);

    player.PlayAsync(dir.file("long.wav"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    player.PlayAsync(dir.file("tone.wav"));
    EXPECT_TRUE(eventually([&] { return player.finished() >= 2; }, 30000, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // longer than the long sound
    EXPECT_EQ(player.finished(), 2) << "the long sound was cut off, the short one played to its end";
    player.PlayAsync(dir.file("missing.wav")); // beeps, plays nothing
    EXPECT_EQ(player.finished(), 2);
}
