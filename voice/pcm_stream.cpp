// ALSA speech device (see pcm_stream.h).
#include "voice/pcm_stream.h"

#include <alsa/asoundlib.h>

#include "components/audio_devices.h"
#include "voice/opus_codec.h"

namespace voice {

std::string pcm_name_for(int device_id, bool capture) {
    if (device_id < 0)
        return "default";
    const auto devices = list_audio_devices(capture);
    return size_t(device_id) < devices.size() ? devices[size_t(device_id)].name : "default";
}

std::unique_ptr<PcmStream> PcmStream::open(const std::string& name, bool capture, int latency_ms,
                                           std::string* error) {
    snd_pcm_t* pcm = nullptr;
    int r = snd_pcm_open(&pcm, name.c_str(), capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK, 0);
    if (r >= 0)
        r = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate, 1,
                               unsigned(latency_ms) * 1000u);
    if (r >= 0 && capture)
        r = snd_pcm_start(pcm);
    if (r < 0) {
        if (error)
            *error = name + ": " + snd_strerror(r);
        if (pcm)
            snd_pcm_close(pcm);
        return nullptr;
    }
    return std::unique_ptr<PcmStream>(new PcmStream(pcm));
}

PcmStream::~PcmStream() {
    snd_pcm_close(pcm_);
}

bool PcmStream::prefill() {
    // Whatever the device takes at once is filled with silence, so that from now on each write waits for
    // the device and the caller is paced by its clock.
    const Frame silence(kFrameSamples, 0);
    for (int i = 0; i < 100; ++i) {
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0)
            return recover(avail);
        if (avail < kFrameSamples)
            return true;
        if (!write(silence.data()))
            return false;
    }
    return true;
}

int PcmStream::buffer_ms() const {
    snd_pcm_uframes_t buffer = 0, period = 0;
    if (snd_pcm_get_params(pcm_, &buffer, &period) < 0)
        return 0;
    return int(buffer * 1000 / kSampleRate);
}

bool PcmStream::recover(long result) {
    if (snd_pcm_recover(pcm_, int(result), 1) < 0)
        return false;
    // A capture stream is started again after an overrun; playback starts with its next write.
    if (snd_pcm_stream(pcm_) == SND_PCM_STREAM_CAPTURE)
        snd_pcm_start(pcm_);
    return true;
}

// A device that keeps failing after recovery (unplugged, its server gone) ends the stream instead of
// spinning.
constexpr int kMaxFailuresInARow = 3;

bool PcmStream::read(int16_t* frame) {
    long done = 0;
    for (int failures = 0; done < kFrameSamples;) {
        const long n = snd_pcm_readi(pcm_, frame + done, snd_pcm_uframes_t(kFrameSamples - done));
        if (n < 0) {
            if (++failures > kMaxFailuresInARow || !recover(n))
                return false;
            continue;
        }
        failures = 0;
        done += n;
    }
    return true;
}

bool PcmStream::write(const int16_t* frame) {
    long done = 0;
    for (int failures = 0; done < kFrameSamples;) {
        const long n = snd_pcm_writei(pcm_, frame + done, snd_pcm_uframes_t(kFrameSamples - done));
        if (n < 0) {
            if (++failures > kMaxFailuresInARow || !recover(n))
                return false;
            continue;
        }
        failures = 0;
        done += n;
    }
    return true;
}

} // namespace voice
