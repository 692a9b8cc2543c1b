// A backlog in the speech path is cut, and the path's delay comes back to what it was: in the listener's
// jitter buffer (playback that started late, a listener or a speaker that stood still for a moment) and in
// the speaker's capture queue (a reader that stood still). Without the cut such a backlog lasts the whole
// call, because the buffer plays a pause of DTX as lost frames and keeps its delay through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "voice/capture_queue.h"
#include "voice/jitter_buffer.h"
#include "voice/opus_codec.h"

using voice::CaptureQueue;
using voice::JitterBuffer;

namespace {

// A speaker and a listener on a simulated 20 ms clock: the speaker's sequence goes on every frame, and its
// packets go into the buffer as the scenario says; the listener pulls once a frame unless it stands still.
struct Call {
    JitterBuffer buffer{2};
    uint32_t sequence = 0;
    uint64_t pushed = 0;
    std::vector<int> delays; // delay_frames() after each pull
    // One frame: the speaker sends it (or is quiet: DTX), the listener pulls (or stands still).
    void frame(bool sent, bool pulled = true) {
        if (sent) {
            buffer.push(sequence, {uint8_t(sequence), 1, 2});
            ++pushed;
        }
        ++sequence;
        if (pulled) {
            buffer.pull();
            delays.push_back(buffer.delay_frames());
        }
    }
    // Speech as the benchmark speaks it: bursts of 80 ms and 320 ms of quiet, of which the encoder sends the
    // first 200 ms (its hangover) and then nothing.
    void bursts(int frames) {
        for (int i = 0; i < frames; ++i)
            frame(sequence % 20 < 14);
    }
    void speech(int frames) {
        for (int i = 0; i < frames; ++i)
            frame(true);
    }
    int largest_delay_of_last(size_t pulls) const {
        return *std::max_element(delays.end() - long(std::min(pulls, delays.size())), delays.end());
    }
};

// Frames of 16-bit samples numbered by their first sample.
std::vector<uint8_t> frames_numbered(int first, int count) {
    std::vector<int16_t> samples(size_t(count) * voice::kFrameSamples);
    for (int f = 0; f < count; ++f)
        samples[size_t(f) * voice::kFrameSamples] = int16_t(first + f);
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

} // namespace

TEST(JitterBufferBacklog, ABacklogIsCutWithinASecondAndANormalCallIsLeftAlone) {
    struct Case {
        const char* name;
        std::function<void(Call&)> before; // what forms the backlog (or not)
        std::function<void(Call&, int)> after;
        bool backlog;
        bool cut_in_pauses_only; // no packet of speech is skipped
        int group = 1;           // packets come in groups of this many
    };
    std::vector<Case> cases = {
        // Playback opened late: 300 ms of speech came before the first pull.
        {"late start, bursts",
         [](Call& c) {
             for (int i = 0; i < 15; ++i)
                 c.frame(true, false);
         },
         [](Call& c, int n) { c.bursts(n); }, true, true},
        {"late start, continuous speech",
         [](Call& c) {
             for (int i = 0; i < 15; ++i)
                 c.frame(true, false);
         },
         [](Call& c, int n) { c.speech(n); }, true, false},
        // The listener's service stood still for 300 ms (its packets came on meanwhile).
        {"listener stood still",
         [](Call& c) {
             c.bursts(100);
             for (int i = 0; i < 15; ++i)
                 c.frame(c.sequence % 20 < 14, false);
         },
         [](Call& c, int n) { c.bursts(n); }, true, true},
        // The speaker's service stood still for 300 ms and then sent what it had recorded in one bunch.
        {"speaker stood still",
         [](Call& c) {
             c.speech(100);
             for (int i = 0; i < 15; ++i)
                 c.frame(false);
             c.sequence -= 15;
             for (int i = 0; i < 15; ++i)
                 c.frame(true, false);
         },
         [](Call& c, int n) { c.speech(n); }, true, false},
        // Nothing stood still: nothing is skipped.
        {"normal bursts", [](Call& c) { c.bursts(2); }, [](Call& c, int n) { c.bursts(n); }, false, true},
        {"normal speech", [](Call& c) { c.speech(2); }, [](Call& c, int n) { c.speech(n); }, false, true},
    };
    // A network that hands packets over in groups (a radio link that sends every 40 to 100 ms): the delay
    // that stands between two groups is what the next group needs, not a backlog.
    for (const auto& [name, group] : {std::pair{"pairs", 2}, {"threes", 3}, {"fives", 5}}) {
        cases.push_back({name, [](Call&) {},
                         [group = group](Call& c, int n) {
                             for (int i = 0; i < n; i += group) {
                                 for (int k = 1; k < group; ++k)
                                     c.frame(false);
                                 for (int k = group - 1; k >= 0; --k)
                                     c.buffer.push(c.sequence - uint32_t(k), {1});
                                 c.pushed += uint64_t(group);
                                 c.frame(false);
                             }
                         },
                         false, true, group});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Call c;
        k.before(c);
        const uint64_t pushed_before = c.pushed;
        const uint64_t played_before = c.buffer.stats().played;
        const uint64_t overflow_before = c.buffer.stats().overflow;
        const size_t waiting_before = c.buffer.waiting();
        // A second to cut it (two windows of 25 pulls and the patience of 25), then 9 s more.
        k.after(c, 50);
        const uint64_t overflow_settled = c.buffer.stats().overflow;
        k.after(c, 450);
        EXPECT_EQ(c.buffer.stats().overflow, overflow_settled) << "the buffer is never full again";
        EXPECT_LE(c.largest_delay_of_last(450), std::max(c.buffer.target(), k.group) + 1)
            << "the delay came back";
        if (k.backlog) {
            EXPECT_GT(c.buffer.stats().skipped, 0u);
        } else {
            EXPECT_EQ(c.buffer.stats().skipped, 0u) << "nothing stood: nothing is cut";
        }
        // The first packets after a listener that stood still may find the buffer full.
        const uint64_t overflow = c.buffer.stats().overflow - overflow_before;
        if (k.cut_in_pauses_only) {
            // Every packet that waited when the backlog had formed, or came after, was played or still waits.
            EXPECT_EQ(c.buffer.stats().played - played_before + c.buffer.waiting() + overflow,
                      waiting_before + (c.pushed - pushed_before))
                << "only pauses were skipped, no speech";
        }
        EXPECT_EQ(c.buffer.stats().late, 0u);
    }
}

TEST(CaptureQueue, AReaderThatStoodStillGoesOnWithTheNewestFramesAndIsToldWhatItSkipped) {
    CaptureQueue q;
    int16_t frame[voice::kFrameSamples];
    // A reader that keeps up: pieces of 5 ms, a frame taken whenever one is whole; nothing is dropped, even
    // when it is a little late now and then (three frames at once).
    int next = 0, taken = 0;
    for (int round = 0; round < 50; ++round) {
        const auto three = frames_numbered(next, 3);
        next += 3;
        for (size_t at = 0; at < three.size(); at += 480)
            q.append(three.data() + at, 480);
        q.catch_up();
        while (q.take_frame(frame)) {
            ASSERT_EQ(frame[0], int16_t(taken)) << "in order, none lost";
            ++taken;
        }
    }
    EXPECT_EQ(q.dropped_frames(), 0u);
    EXPECT_EQ(q.take_skipped(), 0u);
    // It stood still for 300 ms: 15 frames wait. It goes on with the newest two; the 13 older ones are
    // dropped and reported once.
    const auto fifteen = frames_numbered(next, 15);
    q.append(fifteen.data(), fifteen.size());
    q.append(nullptr, 100); // and the start of a hole in the recording
    q.catch_up();
    EXPECT_EQ(q.waiting_frames(), CaptureQueue::kKeptFrames);
    ASSERT_TRUE(q.take_frame(frame));
    EXPECT_EQ(frame[0], int16_t(next + 13));
    ASSERT_TRUE(q.take_frame(frame));
    EXPECT_EQ(frame[0], int16_t(next + 14));
    EXPECT_FALSE(q.take_frame(frame)) << "the part of a frame waits for the rest";
    EXPECT_EQ(q.dropped_frames(), 13u);
    EXPECT_EQ(q.take_skipped(), 13u);
    EXPECT_EQ(q.take_skipped(), 0u);
    // The rest of the hole is silence.
    q.append(nullptr, voice::kFrameSamples * 2 - 100);
    ASSERT_TRUE(q.take_frame(frame));
    EXPECT_TRUE(std::all_of(frame, frame + voice::kFrameSamples, [](int16_t v) { return v == 0; }));
    // Never more than a second is held, whatever comes before a catch_up.
    const auto lots = frames_numbered(0, 80);
    q.append(lots.data(), lots.size());
    EXPECT_EQ(q.waiting_frames(), size_t(1000 / voice::kFrameMs));
}

TEST(JitterBufferBacklog, PacketsThatComeLateTogetherMakeTheBufferOneFrameLongerNotOneEach) {
    // The speaker stood still for 160 ms while the listener played on (concealing), then its packets came in
    // one bunch: all too late, and one event of lateness.
    Call c;
    c.speech(100);
    const int target = c.buffer.target();
    for (int i = 0; i < 8; ++i)
        c.frame(false);
    c.sequence -= 8;
    for (int i = 0; i < 8; ++i)
        c.frame(true, false);
    EXPECT_GE(c.buffer.stats().late, 6u);
    EXPECT_EQ(c.buffer.target(), target + 1);
    // A busy machine: now and then a packet is held up for 60 ms, for a minute. The buffer plays with less
    // than its target until its next start; its target grows to cover 60 ms and a frame, not by a frame for
    // every late packet.
    const uint64_t late_before = c.buffer.stats().late;
    uint32_t held = 0;
    for (int i = 0; i < 3000; ++i) {
        if (i % 50 == 0) {
            held = c.sequence;
            c.frame(false);
        } else {
            c.frame(true);
        }
        if (i % 50 == 3) {
            c.buffer.push(held, {1}); // three frames after it was sent: after its turn
            ++c.pushed;
        }
    }
    EXPECT_GT(c.buffer.stats().late, late_before + 10);
    EXPECT_LE(c.buffer.target(), 3 + 2);
}
