// Mixes the frames of all speakers into one at the output volume. Sums that would leave the 16-bit range are
// not wrapped or cut sample by sample: the frame is scaled down as a whole (at once), and the gain returns to
// one slowly over the following frames, so loud overlapping speech is quieter, not distorted.
#pragma once

#include <vector>

#include "voice/opus_codec.h"

namespace voice {

// One speaker's level, 0 to 200 percent, applied to the speaker's frame before the mix (a quiet pupil up, a
// loud one down); samples beyond the 16-bit range are held at its ends.
void scale_frame(Frame& frame, int percent);

class Mixer {
public:
    // volume: 0 (silent) to 100. Frames shorter than a full frame count as padded with silence.
    Frame mix(const std::vector<Frame>& frames, int volume);
    double gain() const { return gain_; }

private:
    double gain_ = 1.0;
};

} // namespace voice
