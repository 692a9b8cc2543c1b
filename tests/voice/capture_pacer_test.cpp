// The capture thread's schedule against a simulated sound server on a simulated clock: how many times the
// reader wakes for a frame, and how long a complete frame waits for it, when the server delivers in small
// pieces, holds a piece up once, shifts its timing, runs a slightly different clock, or stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "voice/capture_pacer.h"
#include "voice/opus_codec.h"

using voice::CapturePacer;

namespace {

constexpr uint64_t kFrameUs = CapturePacer::kFrameUs;

struct Piece {
    uint64_t at_us;
    int samples;
};

// A sound server's deliveries and a clock that moves only when the reader sleeps or waits.
class SimulatedSource {
public:
    explicit SimulatedSource(std::vector<Piece> pieces) : pieces_(std::move(pieces)) {
        // When each frame is complete: the arrival of the piece that brings its last sample.
        long total = 0;
        for (const Piece& p : pieces_) {
            total += p.samples;
            while (long(complete_at_.size() + 1) * voice::kFrameSamples <= total)
                complete_at_.push_back(p.at_us);
        }
    }

    bool take_frame(int16_t*) {
        if (taken_in_ < voice::kFrameSamples)
            return false;
        taken_in_ -= voice::kFrameSamples;
        return true;
    }
    bool take_arrived() {
        for (; next_ < pieces_.size() && pieces_[next_].at_us <= clock_; ++next_)
            taken_in_ += pieces_[next_].samples;
        return true;
    }
    bool wait_for_delivery() {
        ++wakes_;
        if (next_ < pieces_.size() && pieces_[next_].at_us > clock_)
            clock_ = std::min(pieces_[next_].at_us + kWakeUs, clock_ + 100'000);
        else if (next_ >= pieces_.size())
            clock_ += 100'000;
        return take_arrived();
    }
    uint64_t now_us() const { return clock_; }
    void sleep_until(uint64_t t) {
        ++wakes_;
        clock_ = std::max(clock_, t + kWakeUs);
    }

    // Reads `frames` frames as the capture thread does (each followed by its encoding); the wait of every
    // frame after it was complete.
    std::vector<uint64_t> read(CapturePacer& pacer, size_t frames) {
        std::vector<uint64_t> waits;
        int16_t frame[voice::kFrameSamples];
        for (size_t i = 0; i < frames && handed_ < complete_at_.size(); ++i) {
            if (!pacer.read(*this, frame))
                break;
            waits.push_back(clock_ - complete_at_[handed_++]);
            clock_ += kEncodeUs;
        }
        return waits;
    }
    int wakes() const { return wakes_; }

private:
    static constexpr uint64_t kWakeUs = 30, kEncodeUs = 150;
    std::vector<Piece> pieces_;
    std::vector<uint64_t> complete_at_;
    size_t next_ = 0;
    uint64_t clock_ = 0;
    int taken_in_ = 0;
    size_t handed_ = 0;
    int wakes_ = 0;
};

// `frames` frames' worth of sound in pieces of `samples`, one every `period_us` (scaled by `clock_ratio`, the
// source's clock against ours), with a deterministic jitter of up to `jitter_us`; `shift(k)` moves piece k.
template <typename Shift>
std::vector<Piece> pieces(int frames, int samples, double period_us, uint64_t jitter_us, double clock_ratio,
                          Shift shift) {
    std::mt19937 random(7);
    std::uniform_int_distribution<uint64_t> jitter(0, jitter_us);
    std::vector<Piece> out;
    const int count = frames * voice::kFrameSamples / samples;
    for (int k = 0; k < count; ++k)
        out.push_back({uint64_t(50'000 + double(k) * period_us * clock_ratio + double(jitter(random)) +
                                double(shift(k))),
                       samples});
    return out;
}
std::vector<Piece> pieces(int frames, int samples, double period_us, uint64_t jitter_us,
                          double clock_ratio = 1) {
    return pieces(frames, samples, period_us, jitter_us, clock_ratio, [](int) { return 0; });
}

double mean(const std::vector<uint64_t>& v) {
    return double(std::accumulate(v.begin(), v.end(), uint64_t(0))) / double(v.size());
}
uint64_t largest(const std::vector<uint64_t>& v, size_t from = 0) {
    return *std::max_element(v.begin() + long(from), v.end());
}

} // namespace

TEST(CapturePacer, SmallPiecesCostAboutOneWakeAFrameAndAFrameWaitsAtMostTheMargin) {
    // Four 5 ms pieces a frame (a source that delivers every 5 ms), and one 20 ms piece a frame (a microphone
    // whose period is a frame), each with up to 300 us of jitter.
    for (int samples : {240, 960}) {
        SCOPED_TRACE(samples);
        SimulatedSource source(pieces(1000, samples, 1e6 * samples / voice::kSampleRate, 300));
        CapturePacer pacer;
        const auto waits = source.read(pacer, 1000);
        ASSERT_EQ(waits.size(), 1000u);
        // Waking for every piece would be 4 or 1 a frame; sleeping and then waiting for the last pieces, 2.
        EXPECT_LT(source.wakes(), 1250);
        EXPECT_LE(largest(waits, 1), CapturePacer::kMarginUs + 300 + 100);
        EXPECT_LT(mean(waits), 1000);
    }
}

TEST(CapturePacer, FollowsItsSourceWhenThePiecesComeLaterOrEarlierOrOnAnotherClock) {
    // One frame's pieces held up by 8 ms (a busy server): only that frame waits; the schedule stays.
    {
        SimulatedSource source(pieces(600, 240, 5000, 200, 1, [](int k) { return k / 4 == 300 ? 8000 : 0; }));
        CapturePacer pacer;
        const auto waits = source.read(pacer, 600);
        ASSERT_EQ(waits.size(), 600u);
        EXPECT_LE(largest(waits, 301), CapturePacer::kMarginUs + 300);
        EXPECT_LT(source.wakes(), 720);
    }
    // From frame 300 on, every piece 6 ms later: the schedule moves within two frames.
    {
        SimulatedSource source(pieces(600, 240, 5000, 200, 1, [](int k) { return k >= 1200 ? 6000 : 0; }));
        CapturePacer pacer;
        const auto waits = source.read(pacer, 600);
        ASSERT_EQ(waits.size(), 600u);
        EXPECT_LE(largest(waits, 302), CapturePacer::kMarginUs + 300);
    }
    // From frame 300 on, every piece 6 ms earlier (the source started anew): frames wait longer for a while,
    // never more than the shift and the margin, and within 100 frames no longer than the margin.
    {
        SimulatedSource source(pieces(600, 240, 5000, 200, 1, [](int k) { return k >= 1200 ? -6000 : 0; }));
        CapturePacer pacer;
        const auto waits = source.read(pacer, 600);
        ASSERT_EQ(waits.size(), 600u);
        EXPECT_LE(largest(waits, 300), 6000 + CapturePacer::kMarginUs + 300);
        EXPECT_LE(largest(waits, 400), CapturePacer::kMarginUs + 300);
    }
    // A source clock 0.1 % faster or slower than ours, for 50 s.
    for (double ratio : {0.999, 1.001}) {
        SCOPED_TRACE(ratio);
        SimulatedSource source(pieces(2500, 240, 5000, 200, ratio));
        CapturePacer pacer;
        const auto waits = source.read(pacer, 2500);
        ASSERT_EQ(waits.size(), 2500u);
        EXPECT_LE(largest(waits, 1), CapturePacer::kMarginUs + 300);
        EXPECT_LT(source.wakes(), 3000);
    }
}

TEST(CapturePacer, ASourceThatStopsEndsTheRead) {
    SimulatedSource source(pieces(10, 240, 5000, 0));
    CapturePacer pacer;
    EXPECT_EQ(source.read(pacer, 20).size(), 10u);
    int16_t frame[voice::kFrameSamples];
    EXPECT_FALSE(pacer.read(source, frame));
    EXPECT_GE(source.now_us(), CapturePacer::kGiveUpUs);
}
