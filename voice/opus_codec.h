// Opus for speech: 48 kHz mono, 20 ms frames, VoIP mode at about 24 kbit/s with in-band FEC and DTX.
// Each encoder or decoder is used by one thread: the session's capture thread encodes, its playback thread
// decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct OpusEncoder;
struct OpusDecoder;

namespace voice {

constexpr int kSampleRate = 48000;
constexpr int kFrameSamples = 960; // 20 ms
constexpr int kFrameMs = 20;
using Frame = std::vector<int16_t>; // kFrameSamples samples

// The encoder's complexity (0 to 10): how much processor time it spends on each frame for quality.
constexpr int kComplexity = 1;
// The bit rate of speech on the wire, in bits a second.
constexpr int kBitRate = 24000;

class VoiceEncoder {
public:
    explicit VoiceEncoder(int complexity = kComplexity);
    ~VoiceEncoder();
    VoiceEncoder(const VoiceEncoder&) = delete;
    VoiceEncoder& operator=(const VoiceEncoder&) = delete;
    bool ok() const { return encoder_ != nullptr; }
    // One frame of kFrameSamples. An empty result is an error; a packet of at most two bytes is a silent
    // frame under DTX, which need not be sent. A frame whose level reaches kLoudRms is never taken for
    // silence, however long it has sounded.
    std::vector<uint8_t> encode(const int16_t* samples);

    // A level (RMS of 16-bit samples, about -30 dBFS) that background noise does not reach and speech does.
    static constexpr double kLoudRms = 1000;

private:
    OpusEncoder* encoder_ = nullptr;
    bool dtx_ = true; // DTX is on for the next frame
};

class VoiceDecoder {
public:
    VoiceDecoder();
    ~VoiceDecoder();
    VoiceDecoder(const VoiceDecoder&) = delete;
    VoiceDecoder& operator=(const VoiceDecoder&) = delete;
    // Decodes a packet into one frame; a broken packet gives a concealed frame.
    Frame decode(const std::vector<uint8_t>& packet);
    // A frame for a packet that never came: rebuilt from the FEC data of the next packet when it is at hand,
    // otherwise concealed from what was heard before.
    Frame conceal(const std::vector<uint8_t>* next_packet);

private:
    OpusDecoder* decoder_ = nullptr;
};

} // namespace voice
