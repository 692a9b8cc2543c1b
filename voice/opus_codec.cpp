// Opus speech codec (see opus_codec.h).
#include "voice/opus_codec.h"

#include <opus/opus.h>

namespace voice {

VoiceEncoder::VoiceEncoder(int complexity) {
    int error = 0;
    encoder_ = opus_encoder_create(kSampleRate, 1, OPUS_APPLICATION_VOIP, &error);
    if (error != OPUS_OK) {
        encoder_ = nullptr;
        return;
    }
    opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(kBitRate));
    opus_encoder_ctl(encoder_, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(encoder_, OPUS_SET_PACKET_LOSS_PERC(10)); // FEC is only spent when loss is expected
    opus_encoder_ctl(encoder_, OPUS_SET_DTX(1));
    opus_encoder_ctl(encoder_, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    // Complexity 1 spends less than half the processor time of 3 and a third of 5 on a speech frame at this
    // rate, at the same quality: on the speech-like signal of bench/opus_quality_bench the segmental SNR and
    // the spectral distance of 1, 3 and 5 are within 0.4 dB of each other.
    opus_encoder_ctl(encoder_, OPUS_SET_COMPLEXITY(complexity));
    opus_encoder_ctl(encoder_, OPUS_SET_VBR_CONSTRAINT(1));
}

VoiceEncoder::~VoiceEncoder() {
    if (encoder_)
        opus_encoder_destroy(encoder_);
}

std::vector<uint8_t> VoiceEncoder::encode(const int16_t* samples) {
    if (!encoder_)
        return {};
    std::vector<uint8_t> out(1275);
    // The codec's own activity detection learns a steady sound as the background after about a second and a
    // half and then sends it as silence (a held note or vowel, a tone played into the microphone); a frame as
    // loud as speech is therefore encoded with DTX off, and only quieter ones are left to the codec.
    double energy = 0;
    for (int i = 0; i < kFrameSamples; ++i)
        energy += double(samples[i]) * samples[i];
    const bool loud = energy >= kLoudRms * kLoudRms * kFrameSamples;
    if (loud == dtx_) {
        dtx_ = !loud;
        opus_encoder_ctl(encoder_, OPUS_SET_DTX(dtx_ ? 1 : 0));
    }
    const int n = opus_encode(encoder_, samples, kFrameSamples, out.data(), int(out.size()));
    if (n <= 0)
        return {};
    out.resize(size_t(n));
    return out;
}

VoiceDecoder::VoiceDecoder() {
    int error = 0;
    decoder_ = opus_decoder_create(kSampleRate, 1, &error);
    if (error != OPUS_OK)
        decoder_ = nullptr;
}

VoiceDecoder::~VoiceDecoder() {
    if (decoder_)
        opus_decoder_destroy(decoder_);
}

Frame VoiceDecoder::decode(const std::vector<uint8_t>& packet) {
    Frame f(kFrameSamples, 0);
    if (!decoder_)
        return f;
    const int n = opus_decode(decoder_, packet.data(), opus_int32(packet.size()), f.data(), kFrameSamples, 0);
    if (n != kFrameSamples)
        return conceal(nullptr);
    return f;
}

Frame VoiceDecoder::conceal(const std::vector<uint8_t>* next_packet) {
    Frame f(kFrameSamples, 0);
    if (!decoder_)
        return f;
    int n = -1;
    if (next_packet && !next_packet->empty())
        n = opus_decode(decoder_, next_packet->data(), opus_int32(next_packet->size()), f.data(),
                        kFrameSamples, 1);
    if (n != kFrameSamples)
        n = opus_decode(decoder_, nullptr, 0, f.data(), kFrameSamples, 0);
    if (n != kFrameSamples)
        std::fill(f.begin(), f.end(), int16_t(0));
    return f;
}

} // namespace voice
