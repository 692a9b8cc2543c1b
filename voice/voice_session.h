// The speech of one client's session in its local service. It follows the packets between the client and the
// room: the login gives the user, the login result and rights changes the right to speak, types 12 and 13 the
// microphone, type 21 the output volume. While the client wants the microphone and may speak, a capture
// thread encodes 20 ms frames and hands voice packets to `send_voice`. Voice packets from the room go into
// one jitter buffer per speaker; a playback thread mixes them every 20 ms at the output volume. The playback
// device is closed again when nobody has spoken for a while.
// Speech is taken only from users the room announced (types 4 and 5, until their 7), and from at most
// kMaxSpeakers at a time: a broken or hostile room server cannot make the service grow without end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "voice/jitter_buffer.h"
#include "voice/mixer.h"
#include "voice/opus_codec.h"
#include "wire/protocol.h"

namespace voice {

struct VoiceConfig {
    int play_device = -1; // position in the playback device list; -1 the default device
    int capture_latency_ms = 20;
    int playback_latency_ms = 30;
    int start_jitter_frames = 2;
};

struct VoiceHooks {
    // A voice packet's payload for the room (sender id left 0). Called on the capture thread.
    std::function<void(proto::Bytes payload)> send_voice;
    // The microphone could not be opened or was lost; `why` names the device. Called on the capture thread.
    std::function<void(const std::string& why)> microphone_failed;
    // The microphone is open and its sound goes out. Called on the capture thread.
    std::function<void()> microphone_opened;
    // A line for the service's log. Called on the playback thread.
    std::function<void(const std::string& line)> log;
};

// The monotonic clock in microseconds, the time base of the capture stamps.
uint64_t monotonic_us();

// The log line at the end of a talk spurt of `user`: how the network treated that speaker's packets so far
// ("voice of user N: played P, concealed C, lost L, late T, dropped D, buffer B ms, skipped S").
std::string spurt_summary(uint32_t user, const JitterBuffer& buffer);

class VoiceSession {
public:
    static constexpr size_t kMaxSpeakers = 16;
    // Users of the room the service keeps track of; a room larger than this is not a classroom.
    static constexpr size_t kMaxMembers = 10000;

    VoiceSession(VoiceConfig config, VoiceHooks hooks);
    ~VoiceSession();
    VoiceSession(const VoiceSession&) = delete;
    VoiceSession& operator=(const VoiceSession&) = delete;

    // A packet from the client to the room.
    void from_client(uint16_t type, const uint8_t* data, size_t size);
    // A packet from the room to the client. True when it is the service's own (voice), not for the client.
    bool from_room(uint16_t type, const uint8_t* data, size_t size);
    // Ends capture and playback (logout, link closed).
    void stop();

    bool capturing() const { return capturing_; }
    uint32_t user() const { return user_; }
    // Voice packets dropped: from users not in the room, or beyond the speaker cap. I/O thread.
    uint64_t refused_voice() const { return refused_voice_; }

private:
    struct Speaker {
        JitterBuffer buffer;
        VoiceDecoder decoder;
        uint64_t last_packet_us = 0;
        explicit Speaker(int start) : buffer(start) {}
    };
    void update_capture();
    void capture_loop(int device_id);
    void stop_capture();
    void playback_loop();

    VoiceConfig config_;
    VoiceHooks hooks_;
    uint32_t user_ = 0;
    uint32_t rights_ = 0;
    bool logged_in_ = false;
    bool microphone_wanted_ = false;
    int record_device_ = -1;
    std::atomic<int> volume_{80};
    std::set<uint32_t> members_; // the room's users, as announced; I/O thread
    uint64_t refused_voice_ = 0;

    std::thread capture_thread_;
    std::atomic<bool> capturing_{false};

    std::mutex mutex_; // the speakers and the playback state
    std::condition_variable wake_;
    std::map<uint32_t, std::unique_ptr<Speaker>> speakers_;
    std::map<uint32_t, int> speaker_percent_; // levels the client set (type 31); 100 when absent
    std::thread playback_thread_; // from the first voice packet on; from_room and stop run on one thread
    bool stopping_ = false;
    Mixer mixer_;
};

} // namespace voice
