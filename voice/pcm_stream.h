// A sound device for speech through ALSA: 48 kHz, mono, 16-bit, blocking reads or writes of one 20 ms frame.
// ALSA because the device ids of the client are positions in ALSA's device list; its default device goes to
// PulseAudio on a desktop, with the latency asked for here as PulseAudio's buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

typedef struct _snd_pcm snd_pcm_t;

namespace voice {

// The ALSA name of a device id of the client: its position in the device list, the default device for -1 or
// a position past the end.
std::string pcm_name_for(int device_id, bool capture);

class PcmStream {
public:
    // Opens the device with about latency_ms of buffering; null (error set) when it cannot be used.
    static std::unique_ptr<PcmStream> open(const std::string& name, bool capture, int latency_ms,
                                           std::string* error);
    ~PcmStream();
    PcmStream(const PcmStream&) = delete;
    PcmStream& operator=(const PcmStream&) = delete;

    // One frame of kFrameSamples; an overrun or underrun is recovered. False when the device is gone.
    bool read(int16_t* frame);
    bool write(const int16_t* frame);
    // Playback: fills the device's buffer with silence, so that later writes are paced by the device.
    bool prefill();
    // The device's buffer in milliseconds.
    int buffer_ms() const;

private:
    explicit PcmStream(snd_pcm_t* pcm) : pcm_(pcm) {}
    bool recover(long result);
    snd_pcm_t* pcm_;
};

} // namespace voice
