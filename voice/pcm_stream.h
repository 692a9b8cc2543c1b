// A sound device for speech: 48 kHz, mono, 16-bit, blocking reads or writes of one 20 ms frame.
// The default device (id -1) is PulseAudio's default source or sink when a sound server runs, with the
// server's event loop on the reading or writing thread, so that one frame costs one wake-up (a fraction of
// the CPU of ALSA's PulseAudio plug-in, or of the server's simple API, at the same delay). A device chosen
// from the list, or a system without a sound server, goes through ALSA, because the client's device ids are
// positions in ALSA's device list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace voice {

// The ALSA name of a device id of the client: its position in the device list, the default device for -1 or
// a position past the end.
std::string pcm_name_for(int device_id, bool capture);

class SoundStream {
public:
    virtual ~SoundStream() = default;
    // One frame of kFrameSamples; an overrun or underrun is recovered. False when the device is gone.
    virtual bool read(int16_t* frame) = 0;
    virtual bool write(const int16_t* frame) = 0;
    // Playback: fills the device's buffer with silence, so that later writes are paced by the device.
    virtual bool prefill() = 0;
    // Capture: whole frames of old sound dropped since the last call, so that a reader that stood still
    // goes on with fresh sound (see CaptureQueue). The frame read next comes that many frames after the last.
    virtual uint64_t take_skipped() { return 0; }
    // Where the stream goes, for messages.
    virtual std::string name() const = 0;
};

// Opens device `device_id` (see above) with about latency_ms of buffering; null (error set) when it cannot be
// used.
std::unique_ptr<SoundStream> open_sound(int device_id, bool capture, int latency_ms, std::string* error);

// The ALSA device `name`, whatever the sound server (tests and tools).
std::unique_ptr<SoundStream> open_alsa(const std::string& name, bool capture, int latency_ms,
                                       std::string* error);

} // namespace voice
