// The parts of speech without devices: the jitter buffer under reordering, loss, duplicates, late packets and
// floods; the mixer's clipping; the codec with its concealment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "voice/jitter_buffer.h"
#include "voice/mixer.h"
#include "voice/opus_codec.h"
#include "voice/voice_session.h"
#include "wire/protocol.h"

#include "spurt_totals.h"

using voice::JitterBuffer;
using Kind = JitterBuffer::Pull::Kind;

namespace {

std::vector<uint8_t> packet(uint32_t n) {
    return {uint8_t(n), uint8_t(n >> 8), 0xAB};
}

// Plays `pulls` frames; each result as the packet's number, -1 for lost, -2 for nothing.
std::vector<int> play(JitterBuffer& b, int pulls) {
    std::vector<int> out;
    for (int i = 0; i < pulls; ++i) {
        auto p = b.pull();
        out.push_back(p.kind == Kind::Packet ? p.packet[0] | (p.packet[1] << 8)
                      : p.kind == Kind::Lost ? -1
                                             : -2);
    }
    return out;
}

voice::Frame tone(double hz, double amplitude) {
    voice::Frame f(voice::kFrameSamples);
    for (int i = 0; i < voice::kFrameSamples; ++i)
        f[size_t(i)] = int16_t(amplitude * std::sin(2 * M_PI * hz * i / voice::kSampleRate));
    return f;
}

} // namespace

TEST(JitterBuffer, ReorderedDuplicatedLostAndLatePackets) {
    struct Case {
        const char* name;
        std::vector<uint32_t> arrivals; // all before the first pull
        std::vector<int> played;
    };
    const std::vector<Case> cases = {
        {"in order", {0, 1, 2, 3}, {0, 1, 2, 3}},
        {"reordered", {2, 0, 3, 1}, {0, 1, 2, 3}},
        {"duplicates ignored", {0, 1, 1, 0, 2}, {0, 1, 2, -1}},
        {"a gap is lost, then play goes on", {0, 1, 3, 4}, {0, 1, -1, 3, 4}},
        {"across the wrap of the sequence", {0xFFFFFFFEu, 0xFFFFFFFFu, 0, 1}, {0xFFFE, 0xFFFF, 0, 1}},
    };
    for (const Case& c : cases) {
        JitterBuffer b(2);
        for (uint32_t s : c.arrivals)
            b.push(s, packet(s));
        auto got = play(b, int(c.played.size()));
        // Packets are numbered by their low 16 bits in `packet`.
        EXPECT_EQ(got, c.played) << c.name;
    }
}

TEST(JitterBuffer, LossIsRebuiltFromTheNextPacketAndLateOnesMakeTheBufferLonger) {
    JitterBuffer b(2);
    b.push(0, packet(0));
    b.push(2, packet(2));
    EXPECT_EQ(b.pull().kind, Kind::Packet);
    auto lost = b.pull();
    ASSERT_EQ(lost.kind, Kind::Lost);
    EXPECT_EQ(lost.next, packet(2)) << "the next packet comes along for its FEC data";
    const int before = b.target();
    b.push(1, packet(1)); // arrives after its turn
    EXPECT_EQ(b.stats().late, 1u);
    EXPECT_EQ(b.target(), before + 1);
    EXPECT_EQ(b.pull().kind, Kind::Packet);
    EXPECT_EQ(b.stats().played, 2u);
    EXPECT_EQ(b.stats().concealed, 1u) << "the frame between two played packets was concealed";
}

TEST(JitterBuffer, NeverHoldsMoreThanItsBoundAndStopsAfterSilence) {
    JitterBuffer b(2);
    for (uint32_t s = 0; s < 1000; ++s) {
        b.push(s, packet(s));
        ASSERT_LE(b.waiting(), size_t(JitterBuffer::kMaxFrames));
    }
    EXPECT_GT(b.stats().overflow, 0u);
    auto first = play(b, 1);
    EXPECT_EQ(first[0], (1000 - JitterBuffer::kMaxFrames) & 0xFFFF) << "the newest 200 ms are played";
    play(b, JitterBuffer::kMaxFrames - 1);
    // Nothing more comes: a few concealed frames, then the buffer stops instead of concealing forever.
    auto tail = play(b, JitterBuffer::kMaxFrames + 5);
    EXPECT_EQ(tail.front(), -1);
    EXPECT_EQ(tail.back(), -2);
    EXPECT_FALSE(b.playing());
    EXPECT_EQ(b.stats().concealed, 0u) << "what follows the last packet is not a gap in the speech";
    EXPECT_GT(b.stats().lost, 0u);
    // A new talk spurt starts again after the starting delay.
    b.push(1030, packet(1030));
    EXPECT_EQ(b.pull().kind, Kind::Nothing);
    b.push(1031, packet(1031));
    EXPECT_EQ(b.pull().kind, Kind::Packet);
}

TEST(JitterBuffer, ALonePacketIsPlayedAndARestartedSenderIsHeardAgain) {
    JitterBuffer b(2);
    for (uint32_t s = 500; s < 600; ++s) {
        b.push(s, packet(s));
        b.pull();
    }
    play(b, 30); // the speaker stops
    // The last packet of a talk spurt comes alone: it is played after the starting delay, not kept forever.
    b.push(640, packet(640));
    EXPECT_EQ(play(b, 3), (std::vector<int>{-2, 640, -1}));
    play(b, 30);
    // The speaker's microphone went off and on: its sequence starts at 0 again.
    std::vector<int> heard;
    for (uint32_t s = 0; s < 10; ++s) {
        b.push(s, packet(s));
        heard.push_back(play(b, 1)[0]);
    }
    EXPECT_EQ(std::count_if(heard.begin(), heard.end(), [](int v) { return v >= 0; }), 9);
}

// A short talk spurt (fewer packets than a restart's distance), the microphone off until the buffer stopped,
// and on again: the new spurt numbers from 0 and is played as it comes, not taken for old speech.
TEST(JitterBuffer, ASenderRestartedAfterAShortSpurtIsHeardAgain) {
    JitterBuffer b(2);
    for (uint32_t s = 0; s < 76; ++s) {
        b.push(s, packet(s));
        b.pull();
    }
    play(b, 30); // the speaker stops
    ASSERT_FALSE(b.playing());
    std::vector<int> heard;
    for (uint32_t s = 0; s < 100; ++s) {
        b.push(s, packet(s));
        heard.push_back(play(b, 1)[0]);
    }
    EXPECT_EQ(std::count_if(heard.begin(), heard.end(), [](int v) { return v >= 0; }), 99);
    EXPECT_EQ(heard.back(), 98) << "one frame behind, as at any start";
    EXPECT_EQ(b.stats().late, 0u);
    EXPECT_EQ(b.stats().skipped, 0u);
    EXPECT_EQ(b.target(), 2);
}

// The benchmarks read what a listener concealed out of the service's talk-spurt lines: the line as the
// service writes it, read back, and the share between two readings.
TEST(SpurtTotals, ConcealedShareBetweenReadingsOfTheServicesLines) {
    JitterBuffer b(1);
    // A spurt of 10 frames with the 4th and 5th missing: 8 played, 2 concealed inside it.
    for (uint32_t s = 0; s < 10; ++s)
        if (s != 3 && s != 4)
            b.push(s, packet(s));
    play(b, 10 + JitterBuffer::kMaxFrames + 2);
    ASSERT_FALSE(b.playing());
    const std::string first = "velmor: " + voice::spurt_summary(7, b) + "\n";
    const auto one = latest_spurt_totals(first);
    ASSERT_EQ(one.count(7), 1u) << first;
    EXPECT_EQ(one.at(7).played, 8u);
    EXPECT_EQ(one.at(7).concealed, 2u);
    EXPECT_DOUBLE_EQ(concealed_share({}, one, 7).value(), 20.0);
    EXPECT_FALSE(concealed_share({}, one, 8)) << "a speaker the service said nothing about has no share";
    EXPECT_FALSE(concealed_share(one, one, 7)) << "nothing new between two readings";

    // A second spurt without loss, another speaker's line and unrelated lines in between: only what came
    // after the first reading counts, and only the latest line of a speaker.
    for (uint32_t s = 20; s < 30; ++s)
        b.push(s, packet(s));
    play(b, 10 + JitterBuffer::kMaxFrames + 2);
    const std::string text = first + "velmor: voice of user 9: played 50, concealed 50, lost 0\n" +
                             "velmor: room: 3 users\n" + voice::spurt_summary(7, b) + "\n";
    const auto two = latest_spurt_totals(text);
    EXPECT_EQ(two.at(7).played, 18u);
    EXPECT_EQ(two.at(9).played, 50u);
    EXPECT_DOUBLE_EQ(concealed_share(one, two, 7).value(), 0.0);
    EXPECT_DOUBLE_EQ(concealed_share({}, two, 7).value(), 10.0);

    // The service forgot the speaker and counts anew: the new totals are the phase's.
    const auto restarted = latest_spurt_totals("voice of user 7: played 3, concealed 1, lost 1\n");
    EXPECT_DOUBLE_EQ(concealed_share(two, restarted, 7).value(), 25.0);
}

TEST(Mixer, LoudSpeakersTogetherAreScaledNotWrapped) {
    voice::Mixer m;
    const auto loud = tone(440, 30000);
    const auto mixed = m.mix({loud, loud, loud}, 100);
    int peak = 0;
    for (size_t i = 0; i < mixed.size(); ++i) {
        peak = std::max(peak, std::abs(int(mixed[i])));
        if (loud[i] != 0) {
            ASSERT_EQ(mixed[i] > 0, loud[i] > 0) << "no wrap-around at " << i;
        }
    }
    EXPECT_GT(peak, 30000);
    EXPECT_LT(m.gain(), 0.5);
    // Volume scales; 0 is silence; the gain comes back once the speech is quieter.
    const auto soft = tone(440, 1000);
    for (int i = 0; i < 40; ++i)
        m.mix({soft}, 100);
    EXPECT_DOUBLE_EQ(m.gain(), 1.0);
    const auto half = m.mix({soft}, 50);
    EXPECT_NEAR(half[120], soft[120] / 2, 1);
    for (int16_t v : m.mix({loud, soft}, 0))
        ASSERT_EQ(v, 0);
}

TEST(Mixer, ASpeakersLevelScalesAndHoldsAtTheRangesEnds) {
    voice::Frame f{1000, -1000, 30000, -30000, 0};
    voice::Frame half = f, twice = f, mute = f, beyond = f;
    voice::scale_frame(half, 50);
    voice::scale_frame(twice, 200);
    voice::scale_frame(mute, 0);
    voice::scale_frame(beyond, 5000); // taken as 200
    EXPECT_EQ(half, (voice::Frame{500, -500, 15000, -15000, 0}));
    EXPECT_EQ(twice, (voice::Frame{2000, -2000, 32767, -32768, 0})) << "held, not wrapped";
    EXPECT_EQ(mute, (voice::Frame{0, 0, 0, 0, 0}));
    EXPECT_EQ(beyond, twice);
}

TEST(OpusSpeech, ToneSurvivesAndLossIsConcealedWithoutSilenceOrNoise) {
    voice::VoiceEncoder enc;
    voice::VoiceDecoder dec;
    ASSERT_TRUE(enc.ok());
    std::vector<std::vector<uint8_t>> packets;
    size_t bytes = 0;
    for (int i = 0; i < 50; ++i) {
        voice::Frame f(voice::kFrameSamples);
        for (int k = 0; k < voice::kFrameSamples; ++k)
            f[size_t(k)] =
                int16_t(8000 * std::sin(2 * M_PI * 440 * (i * voice::kFrameSamples + k) / 48000.0));
        packets.push_back(enc.encode(f.data()));
        ASSERT_FALSE(packets.back().empty());
        bytes += packets.back().size();
    }
    // About 24 kbit/s: 60 bytes a frame, with room for the codec's own choices.
    EXPECT_LT(bytes / packets.size(), 120u);
    double energy = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        voice::Frame f = (i == 30) ? dec.conceal(&packets[31]) : dec.decode(packets[i]);
        if (i >= 25)
            for (int16_t v : f)
                energy += double(v) * v;
    }
    const double rms = std::sqrt(energy / (25.0 * voice::kFrameSamples));
    EXPECT_NEAR(rms, 8000 / std::sqrt(2.0), 1500);
    // Silence under DTX costs at most two bytes a frame after a short while.
    voice::Frame quiet(voice::kFrameSamples, 0);
    size_t last = 0;
    for (int i = 0; i < 30; ++i)
        last = enc.encode(quiet.data()).size();
    EXPECT_LE(last, 2u);
    // A broken packet decodes to a concealed frame, not to noise or a crash.
    EXPECT_EQ(dec.decode({0xFF, 0xFF, 0xFF}).size(), size_t(voice::kFrameSamples));
}

TEST(VoicePacket, RoundTripAndRefusals) {
    proto::VoicePacket v{7, 9, 123456789, {1, 2, 3}};
    auto bytes = v.encode();
    auto back = proto::VoicePacket::decode(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->user_id, 7u);
    EXPECT_EQ(back->sequence, 9u);
    EXPECT_EQ(back->capture_us, 123456789u);
    EXPECT_EQ(back->opus, v.opus);
    EXPECT_FALSE(proto::VoicePacket::decode(bytes.data(), proto::VoicePacket::kHeader)) << "no Opus bytes";
    std::vector<uint8_t> huge(proto::VoicePacket::kHeader + proto::VoicePacket::kMaxOpus + 1);
    EXPECT_FALSE(proto::VoicePacket::decode(huge.data(), huge.size()));
}
