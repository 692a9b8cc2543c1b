// Mixer (see mixer.h).
#include "voice/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace voice {

void scale_frame(Frame& frame, int percent) {
    percent = std::clamp(percent, 0, 200);
    if (percent == 100)
        return;
    for (int16_t& s : frame)
        s = int16_t(std::clamp(int32_t(s) * percent / 100, -32768, 32767));
}

Frame Mixer::mix(const std::vector<Frame>& frames, int volume) {
    std::vector<int32_t> sum(kFrameSamples, 0);
    for (const Frame& f : frames)
        for (size_t i = 0; i < std::min(f.size(), sum.size()); ++i)
            sum[i] += f[i];
    const double level = std::clamp(volume, 0, 100) / 100.0;
    int32_t peak = 0;
    for (int32_t s : sum)
        peak = std::max(peak, std::abs(s));
    // Recover towards unity by about 1 dB a frame; never above what keeps this frame's peak in range.
    gain_ = std::min(1.0, gain_ * 1.12);
    const double limit = 32767.0;
    if (double(peak) * level * gain_ > limit)
        gain_ = limit / (double(peak) * level);
    Frame out(kFrameSamples);
    const double g = level * gain_;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(std::clamp(std::lround(double(sum[i]) * g), -32768L, 32767L));
    return out;
}

} // namespace voice
