// Speech through real processes: a tone from one user's sound source through its velmor, the room server and
// another user's velmor to that user's speaker, recorded from the speaker's monitor. Runs against the private
// PulseAudio of the test environment: the test plays the tone into quorin_mouth, whose monitor is the
// student's microphone, and records quorin_speaker, the teacher's speaker.
#include <gtest/gtest.h>

#include <algorithm>

#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "local_service_process.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "temp_dir.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

// Power of one frequency in a signal (Goertzel), as a share of the signal's total power.
double goertzel_share(const int16_t* s, size_t n, double hz) {
    if (n == 0)
        return 0;
    const double w = 2 * M_PI * hz / 48000.0, coeff = 2 * std::cos(w);
    double q1 = 0, q2 = 0, total = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = s[i];
        const double q0 = coeff * q1 - q2 + v;
        q2 = q1;
        q1 = q0;
        total += v * v;
    }
    const double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
    return total > 0 ? power / (total * double(n) / 2) : 0;
}

// The tone's share over the sounding 100 ms windows (a window holds a whole number of 440 Hz periods' bins),
// and how many windows were silent.
struct ToneCheck {
    double share = 0;
    int sounding = 0, silent = 0;
};
ToneCheck tone_in(const std::vector<int16_t>& s, double hz) {
    ToneCheck c;
    const size_t w = 4800;
    double sum = 0;
    for (size_t at = 0; at + w <= s.size(); at += w) {
        double e = 0;
        for (size_t i = at; i < at + w; ++i)
            e += double(s[i]) * s[i];
        if (std::sqrt(e / double(w)) < 100) {
            ++c.silent;
            continue;
        }
        ++c.sounding;
        sum += goertzel_share(s.data() + at, w, hz);
    }
    c.share = c.sounding ? sum / c.sounding : 0;
    return c;
}

double rms(const std::vector<int16_t>& s) {
    double t = 0;
    for (int16_t v : s)
        t += double(v) * v;
    return s.empty() ? 0 : std::sqrt(t / double(s.size()));
}

// Plays a 440 Hz tone into a sink while it lives: into the "mouth" sink, whose monitor is the student's
// microphone, or (amplitude 0) silence into the speaker sink, which keeps that null sink running at a low
// latency as a real device runs (an idle null sink holds the next stream's start for about two seconds).
class TonePlayer {
public:
    TonePlayer(const char* sink, double amplitude)
        : sink_(sink), amplitude_(amplitude), thread_([this] { run(); }) {}
    ~TonePlayer() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
        pa_buffer_attr attr{uint32_t(-1), 960 * 2 * 3, uint32_t(-1), uint32_t(-1), uint32_t(-1)};
        int error = 0;
        pa_simple* s = pa_simple_new(nullptr, "voice-test", PA_STREAM_PLAYBACK, sink_, "tone", &format,
                                     nullptr, &attr, &error);
        if (!s) {
            ADD_FAILURE() << "cannot play the tone: " << pa_strerror(error);
            return;
        }
        std::vector<int16_t> frame(960);
        for (uint64_t n = 0; !stop_;) {
            for (int16_t& v : frame)
                v = int16_t(amplitude_ * std::sin(2 * M_PI * 440 * double(n++) / 48000.0));
            if (pa_simple_write(s, frame.data(), frame.size() * 2, &error) < 0)
                break;
        }
        pa_simple_free(s);
    }
    const char* sink_;
    double amplitude_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Records `ms` of the speaker sink's monitor.
std::vector<int16_t> record_speaker(int ms) {
    pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = 960 * 2;
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "voice-test", PA_STREAM_RECORD, "quorin_speaker.monitor", "speaker",
                                 &format, nullptr, &attr, &error);
    if (!s) {
        ADD_FAILURE() << "cannot record the speaker: " << pa_strerror(error);
        return {};
    }
    std::vector<int16_t> out(size_t(48 * ms));
    if (pa_simple_read(s, out.data(), out.size() * 2, &error) < 0)
        ADD_FAILURE() << "recording failed: " << pa_strerror(error);
    pa_simple_free(s);
    return out;
}

bool hears_tone(int ms = 1500) {
    const auto rec = record_speaker(ms);
    const ToneCheck t = tone_in(rec, 440);
    std::printf("speaker: rms %.0f, 440 Hz share %.3f over %d sounding windows, %d silent\n", rms(rec),
                t.share, t.sounding, t.silent);
    return t.sounding >= 3 && t.share > 0.5;
}

bool silent(int ms = 1200) {
    const auto rec = record_speaker(ms);
    std::printf("speaker: rms %.0f\n", rms(rec));
    return rms(rec) < 30;
}

void microphone(RoomPeer& peer, bool on) {
    if (on)
        peer.send(pkt::kMicrophoneOn, proto::MicrophoneOn{uint32_t(-1)}.encode());
    else
        peer.send(pkt::kMicrophoneOff);
}

} // namespace

// Teacher B (host, listening) and student A (a 440 Hz source): A is heard only with the speak right and the
// microphone on; a withdrawn right silences A; after the room server is killed and started again, a fresh
// login brings A's voice back.
TEST(VoiceEndToEnd, AToneReachesTheOtherSpeakerOnlyWithTheRightAndTheMicrophone) {
    auto server = std::make_unique<RoomServerProcess>();
    ASSERT_TRUE(wait_until_listening(server->port()));
    const uint16_t room_port = server->port();
    TonePlayer tone("quorin_mouth", 6000), keep_speaker_running("quorin_speaker", 0);
    LocalServiceProcess a(room_port, {"PULSE_SOURCE=quorin_mouth.monitor", "PULSE_SINK=quorin_null"});
    LocalServiceProcess b(room_port, {"PULSE_SOURCE=quorin_mic", "PULSE_SINK=quorin_speaker"});
    RoomPeer teacher, student;
    ASSERT_TRUE(teacher.connect(b.port()));
    ASSERT_EQ(login_peer(teacher, 2, 77), 0);
    ASSERT_TRUE(student.connect(a.port()));
    ASSERT_EQ(login_peer(student, 1, 77), 0);

    // No right: the microphone request does nothing.
    microphone(student, true);
    EXPECT_TRUE(silent()) << "a student without the speak right is not heard";

    // Granted, microphone on: heard.
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 1}.encode());
    ASSERT_TRUE(student.wait_for(pkt::kRightsChange));
    microphone(student, true);
    EXPECT_TRUE(hears_tone());

    // Microphone off: silence.
    microphone(student, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(silent());

    // On again, then the right withdrawn: silence.
    microphone(student, true);
    EXPECT_TRUE(hears_tone(800));
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 0}.encode());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(silent());

    // The room server dies and comes back on its port; both users log in again (as the client does) and the
    // student, granted again, is heard again.
    kill(server->pid(), SIGKILL);
    EXPECT_TRUE(student.wait_closed(5000));
    EXPECT_TRUE(teacher.wait_closed(5000));
    server.reset();
    RoomServerProcess again("velmor", "", {"--listen", "127.0.0.1:" + std::to_string(room_port)});
    ASSERT_TRUE(wait_until_listening(room_port));
    RoomPeer teacher2, student2;
    ASSERT_TRUE(teacher2.connect(b.port()));
    ASSERT_EQ(login_peer(teacher2, 2, 77), 0);
    ASSERT_TRUE(student2.connect(a.port()));
    ASSERT_EQ(login_peer(student2, 1, 77), 0);
    teacher2.send(pkt::kSpeakControl, proto::SpeakControl{1, 1}.encode());
    ASSERT_TRUE(student2.wait_for(pkt::kRightsChange));
    microphone(student2, true);
    EXPECT_TRUE(hears_tone());
    // Voice stays between the services and the room: the client's link never carries it.
    for (const Packet& p : teacher2.drain(300))
        EXPECT_NE(p.type, pkt::kVoice);
}

// A microphone that cannot be opened: the client is told in a system text, its microphone shows off again,
// and the link stays up. Alone in the embedded room, nobody hears an echo of the own voice.
TEST(VoiceEndToEnd, AMicrophoneThatCannotBeOpenedIsReportedAndSwitchedOff) {
    LocalServiceProcess service(0, {"PULSE_SOURCE=no_such_source", "PULSE_SINK=quorin_speaker"});
    RoomPeer user;
    ASSERT_TRUE(user.connect(service.port()));
    ASSERT_EQ(login_peer(user, 5, 3), 0);
    microphone(user, true);
    auto text = user.wait_for(pkt::kSystemText, 5000);
    ASSERT_TRUE(text.has_value());
    const std::string gbk_cannot_open =
        "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xC2\xF3\xBF\xCB\xB7\xE7"; // 无法打开麦克风
    EXPECT_NE(std::string(text->payload.begin(), text->payload.end()).find(gbk_cannot_open),
              std::string::npos);
    auto state = user.wait_for(pkt::kMicrophoneState, 3000);
    ASSERT_TRUE(state.has_value());
    auto m = proto::MicrophoneState::decode(state->payload.data(), state->payload.size());
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->user_id, 5u);
    EXPECT_EQ(m->off, 1);
    // The link is still up: a chat line to everyone comes back as nothing, but the service still answers a
    // second microphone request with the same report.
    microphone(user, true);
    EXPECT_TRUE(user.wait_for(pkt::kSystemText, 5000).has_value());
    EXPECT_TRUE(process_running(service.pid()));
}

// Alone in the embedded room with a working microphone: the own voice is never played back.
TEST(VoiceEndToEnd, AUserAloneHearsNoEcho) {
    TonePlayer tone("quorin_mouth", 6000), keep_speaker_running("quorin_speaker", 0);
    LocalServiceProcess service(0, {"PULSE_SOURCE=quorin_mouth.monitor", "PULSE_SINK=quorin_speaker"});
    RoomPeer user;
    ASSERT_TRUE(user.connect(service.port()));
    ASSERT_EQ(login_peer(user, 5, 3), 0);
    microphone(user, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(silent(1500));
    EXPECT_FALSE(user.wait_for(pkt::kSystemText, 100).has_value()) << "the microphone opened";
}

// A listener sets one speaker's level (type 31 to the own service): half is about 6 dB quieter, zero is
// silence, and the room server never sees the packet.
TEST(VoiceEndToEnd, AListenerSetsOneSpeakersLevel) {
    RoomServerProcess server;
    ASSERT_TRUE(wait_until_listening(server.port()));
    TonePlayer tone("quorin_mouth", 6000), keep_speaker_running("quorin_speaker", 0);
    LocalServiceProcess a(server.port(), {"PULSE_SOURCE=quorin_mouth.monitor", "PULSE_SINK=quorin_null"});
    LocalServiceProcess b(server.port(), {"PULSE_SOURCE=quorin_mic", "PULSE_SINK=quorin_speaker"});
    RoomPeer teacher, student;
    ASSERT_TRUE(teacher.connect(b.port()));
    ASSERT_EQ(login_peer(teacher, 2, 78), 0);
    ASSERT_TRUE(student.connect(a.port()));
    ASSERT_EQ(login_peer(student, 1, 78), 0);
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 1}.encode());
    ASSERT_TRUE(student.wait_for(pkt::kRightsChange));
    microphone(student, true);
    ASSERT_TRUE(hears_tone());
    // The level of the tone while it sounds: the median of 10 ms windows above the noise (a loaded machine
    // leaves gaps in the playback, which an average over the whole recording would count).
    auto sounding_level = [] {
        const auto rec = record_speaker(1500);
        std::vector<double> levels;
        for (size_t at = 0; at + 480 <= rec.size(); at += 480) {
            const double r = rms(std::vector<int16_t>(rec.begin() + long(at), rec.begin() + long(at + 480)));
            if (r > 100)
                levels.push_back(r);
        }
        if (levels.size() < 5)
            return 0.0;
        std::nth_element(levels.begin(), levels.begin() + long(levels.size() / 2), levels.end());
        return levels[levels.size() / 2];
    };
    // Each level is taken from a fresh talk spurt (microphone off and on again), as a pupil speaks in turns.
    auto fresh_spurt = [&] {
        microphone(student, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        microphone(student, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    fresh_spurt();
    const double full = sounding_level();
    teacher.send(pkt::kSpeakerVolume, proto::SpeakerVolume{1, 50}.encode());
    fresh_spurt();
    const double half = sounding_level();
    std::printf("speaker level: full %.0f, at 50%% %.0f (ratio %.2f)\n", full, half,
                full > 0 ? half / full : 0);
    ASSERT_GT(full, 0);
    EXPECT_NEAR(half / full, 0.5, 0.12);

    teacher.send(pkt::kSpeakerVolume, proto::SpeakerVolume{1, 0}.encode());
    fresh_spurt();
    EXPECT_TRUE(silent());
    teacher.send(pkt::kSpeakerVolume, proto::SpeakerVolume{1, 100}.encode());
    fresh_spurt();
    EXPECT_TRUE(hears_tone());
    // Still logged in: the room server did not take the level for a broken rule.
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 0}.encode());
    EXPECT_TRUE(student.wait_for(pkt::kRightsChange));
}
