// What the Opus encoder's complexity buys for speech at the rate we send: a speech-like test signal (a
// glottal pulse train through moving vowel formants, with fricatives, plosive bursts, syllable envelopes,
// two voices and pauses, made here from a fixed seed) goes through the service's own encoder and decoder at
// several complexities. For each: the bit rate, the segmental SNR and the log-spectral distance of the
// decoded speech against the input (over the frames with speech, after aligning for the codec's delay), and
// the encoder's processor time per 20 ms frame (this thread's CPU clock; the complexities are run in turn,
// several times, and the median and range printed). Higher SNR and lower spectral distance are better.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "voice/opus_codec.h"

namespace {

constexpr int kRate = voice::kSampleRate;
constexpr double kPi = 3.14159265358979323846;

// A two-pole resonator (a formant) at `f` Hz with bandwidth `bw` Hz, unity gain at 0 Hz.
struct Resonator {
    double y1 = 0, y2 = 0, a = 0, b = 0, c = 0;
    void set(double f, double bw) {
        const double r = std::exp(-kPi * bw / kRate);
        c = -r * r;
        b = 2 * r * std::cos(2 * kPi * f / kRate);
        a = 1 - b - c;
    }
    double run(double x) {
        const double y = a * x + b * y1 + c * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

struct Vowel {
    double f1, f2, f3;
};
constexpr Vowel kVowels[] = {
    {730, 1090, 2440}, {270, 2290, 3010}, {300, 870, 2240}, {530, 1840, 2480}, {570, 840, 2410}};

// About `seconds` of speech-like sound at 48 kHz, peak well below full scale.
std::vector<int16_t> make_speech(double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, 1);
    std::vector<double> out;
    out.reserve(size_t(seconds * kRate) + kRate);
    Resonator f1, f2, f3, fric;
    double phase = 0;
    double previous_pulse = 0;
    int phrase = 0;
    while (out.size() < size_t(seconds * kRate)) {
        // A phrase of 4 to 9 syllables by one of two voices, then a pause.
        const bool high_voice = phrase % 2 == 1;
        const double base_f0 = high_voice ? 210 : 118;
        const int syllables = 4 + int(unit(random) * 6);
        for (int s = 0; s < syllables; ++s) {
            // A consonant first: a fricative (high noise), a plosive burst, or none.
            const double kind = unit(random);
            if (kind < 0.35) {
                const int n = int((0.04 + 0.06 * unit(random)) * kRate);
                fric.set(3500 + 2500 * unit(random), 1800);
                for (int i = 0; i < n; ++i) {
                    const double env = std::sin(kPi * i / n);
                    // High-passed noise: the resonator's output minus its slow part.
                    const double x = noise(random);
                    out.push_back(0.10 * env * (x - 0.6 * fric.run(x)));
                }
            } else if (kind < 0.6) {
                const int n = int(0.012 * kRate);
                for (int i = 0; i < n; ++i)
                    out.push_back(0.25 * std::exp(-double(i) / (0.002 * kRate)) * noise(random));
            }
            // The vowel: its formants glide from one vowel to the next.
            const Vowel& from = kVowels[random() % 5];
            const Vowel& to = kVowels[random() % 5];
            const int n = int((0.12 + 0.18 * unit(random)) * kRate);
            const double contour = 1.15 - 0.3 * double(s) / syllables; // falling through the phrase
            for (int i = 0; i < n; ++i) {
                if (i % 48 == 0) { // new formants every millisecond
                    const double t = double(i) / n;
                    f1.set(from.f1 + (to.f1 - from.f1) * t, 80);
                    f2.set(from.f2 + (to.f2 - from.f2) * t, 110);
                    f3.set(from.f3 + (to.f3 - from.f3) * t, 160);
                }
                const double f0 = base_f0 * contour * (1 + 0.08 * std::sin(2 * kPi * 3 * i / kRate)) *
                                  (1 + 0.01 * noise(random) * 0.1);
                phase += f0 / kRate;
                // A glottal pulse: a smooth opening and a sharper closing within each period.
                double pulse = 0;
                const double p = phase - std::floor(phase);
                if (p < 0.4)
                    pulse = 0.5 * (1 - std::cos(kPi * p / 0.4));
                else if (p < 0.55)
                    pulse = std::cos(kPi / 2 * (p - 0.4) / 0.15);
                const double source = (pulse - previous_pulse) * 40 + 0.02 * noise(random); // flow derivative
                previous_pulse = pulse;
                const double env =
                    std::min({1.0, double(i) / (0.02 * kRate), double(n - i) / (0.03 * kRate)});
                const double v = f3.run(f2.run(f1.run(source)));
                out.push_back(0.9 * env * v);
            }
            // A short gap between some words.
            if (unit(random) < 0.4)
                out.insert(out.end(), size_t((0.03 + 0.1 * unit(random)) * kRate), 0.0);
        }
        out.insert(out.end(), size_t((0.3 + 0.5 * unit(random)) * kRate), 0.0);
        ++phrase;
    }
    // To 16 bits at a speaking level (peaks near -6 dBFS).
    double peak = 1e-9;
    for (double v : out)
        peak = std::max(peak, std::abs(v));
    std::vector<int16_t> pcm(out.size());
    for (size_t i = 0; i < out.size(); ++i)
        pcm[i] = int16_t(std::lround(out[i] / peak * 16000));
    pcm.resize(pcm.size() / voice::kFrameSamples * voice::kFrameSamples);
    return pcm;
}

double thread_cpu_us() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
}

struct Coded {
    std::vector<int16_t> decoded;
    size_t bytes = 0;
    double encode_us_per_frame = 0;
};

Coded code(const std::vector<int16_t>& pcm, int complexity) {
    voice::VoiceEncoder encoder(complexity);
    voice::VoiceDecoder decoder;
    Coded c;
    c.decoded.reserve(pcm.size());
    const size_t frames = pcm.size() / voice::kFrameSamples;
    double encode_us = 0;
    for (size_t f = 0; f < frames; ++f) {
        const double t0 = thread_cpu_us();
        const std::vector<uint8_t> packet = encoder.encode(&pcm[f * voice::kFrameSamples]);
        encode_us += thread_cpu_us() - t0;
        c.bytes += packet.size();
        const voice::Frame out = decoder.decode(packet);
        c.decoded.insert(c.decoded.end(), out.begin(), out.end());
    }
    c.encode_us_per_frame = encode_us / double(frames);
    return c;
}

// The decoder's output lags the input by the codec's delay: the lag (in samples) that fits best.
int best_lag(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec) {
    int best = 0;
    double best_score = -1e300;
    const size_t n = std::min<size_t>(ref.size(), 10 * kRate);
    for (int lag = 0; lag <= 2000; ++lag) {
        double s = 0;
        for (size_t i = 0; i + size_t(lag) < n; ++i)
            s += double(ref[i]) * dec[i + size_t(lag)];
        if (s > best_score) {
            best_score = s;
            best = lag;
        }
    }
    return best;
}

void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * kPi / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1;
            for (size_t k = 0; k < len / 2; ++k) {
                const auto u = a[i + k], v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                wk *= w;
            }
        }
    }
}

std::vector<double> power_spectrum(const int16_t* x) {
    constexpr size_t kN = 1024;
    std::vector<std::complex<double>> a(kN);
    for (size_t i = 0; i < size_t(voice::kFrameSamples); ++i)
        a[i] = double(x[i]) * (0.5 - 0.5 * std::cos(2 * kPi * double(i) / voice::kFrameSamples));
    fft(a);
    std::vector<double> p(kN / 2);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = std::norm(a[i]) + 1e-3;
    return p;
}

struct Quality {
    double segmental_snr_db = 0;
    double spectral_distance_db = 0;
};

// The power in critical bands (Bark scale, 100 Hz to 7.7 kHz) of a 1024-point spectrum.
std::vector<double> band_powers(const std::vector<double>& p) {
    static const double kEdges[] = {100,  200,  300,  400,  510,  630,  770,  920,  1080, 1270, 1480,
                                    1720, 2000, 2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700};
    std::vector<double> bands;
    for (size_t b = 0; b + 1 < std::size(kEdges); ++b) {
        double sum = 0;
        for (size_t k = size_t(kEdges[b] * 1024 / kRate); k < size_t(kEdges[b + 1] * 1024 / kRate); ++k)
            sum += p[k];
        bands.push_back(sum);
    }
    return bands;
}

// Over the 20 ms frames with speech in the input: the mean frame SNR (each within -10 to 35 dB), and the
// mean spectral distance: the RMS of the level differences in dB over the critical bands, each band's level
// held at least 50 dB under the frame's loudest band of the input (so that empty bands do not count).
Quality compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec) {
    const int lag = best_lag(ref, dec);
    const size_t F = size_t(voice::kFrameSamples);
    double max_energy = 0;
    for (size_t f = 0; (f + 1) * F + size_t(lag) <= dec.size(); ++f) {
        double e = 0;
        for (size_t i = 0; i < F; ++i)
            e += double(ref[f * F + i]) * ref[f * F + i];
        max_energy = std::max(max_energy, e);
    }
    double snr_sum = 0, lsd_sum = 0;
    int frames = 0;
    for (size_t f = 0; (f + 1) * F + size_t(lag) <= dec.size(); ++f) {
        const int16_t* r = &ref[f * F];
        const int16_t* d = &dec[f * F + size_t(lag)];
        double e = 0, err = 0;
        for (size_t i = 0; i < F; ++i) {
            e += double(r[i]) * r[i];
            err += (double(r[i]) - d[i]) * (double(r[i]) - d[i]);
        }
        if (e < max_energy * 1e-3) // quiet: no speech in this frame
            continue;
        snr_sum += std::clamp(10 * std::log10(e / std::max(err, 1.0)), -10.0, 35.0);
        const auto br = band_powers(power_spectrum(r)), bd = band_powers(power_spectrum(d));
        const double floor = *std::max_element(br.begin(), br.end()) * 1e-5;
        double s = 0;
        for (size_t k = 0; k < br.size(); ++k) {
            const double diff = 10 * std::log10(std::max(br[k], floor) / std::max(bd[k], floor));
            s += diff * diff;
        }
        lsd_sum += std::sqrt(s / double(br.size()));
        ++frames;
    }
    return frames ? Quality{snr_sum / frames, lsd_sum / frames} : Quality{};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    constexpr int kRuns = 3;
    const int complexities[] = {0, 1, 2, 3, 5, 10};
    const std::vector<int16_t> speech = make_speech(20.0, 20261208);
    std::vector<std::vector<double>> cpu(std::size(complexities));
    std::vector<Quality> quality(std::size(complexities));
    std::vector<double> kbits(std::size(complexities));
    for (int run = 0; run < kRuns; ++run)
        for (size_t c = 0; c < std::size(complexities); ++c) {
            const Coded coded = code(speech, complexities[c]);
            cpu[c].push_back(coded.encode_us_per_frame);
            if (run == 0) {
                quality[c] = compare(speech, coded.decoded);
                kbits[c] = double(coded.bytes) * 8 / (double(speech.size()) / kRate) / 1000;
            }
        }
    double load[3] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        std::fclose(f);
    }
    std::printf("== opus_quality_bench (%.0f s of synthetic speech, two voices; the service's encoder at %d "
                "kbit/s, VoIP, FEC, DTX; %d runs alternated; load average %.2f %.2f %.2f)\n",
                double(speech.size()) / kRate, voice::kBitRate / 1000, kRuns, load[0], load[1], load[2]);
    std::printf(
        "complexity  kbit/s  seg. SNR  spectral distance  encoder CPU per 20 ms frame, median (min-max)\n");
    size_t in_use = 0;
    for (size_t c = 0; c < std::size(complexities); ++c) {
        if (complexities[c] == voice::kComplexity)
            in_use = c;
        std::printf("%6d%s   %6.1f  %6.2f dB   %8.2f dB        %6.1f us (%.1f-%.1f)\n", complexities[c],
                    complexities[c] == voice::kComplexity ? "*" : " ", kbits[c], quality[c].segmental_snr_db,
                    quality[c].spectral_distance_db, median(cpu[c]),
                    *std::min_element(cpu[c].begin(), cpu[c].end()),
                    *std::max_element(cpu[c].begin(), cpu[c].end()));
    }
    for (size_t c = 0; c < std::size(complexities); ++c) {
        if (c == in_use)
            continue;
        std::printf(
            "complexity %d against %d (in use): seg. SNR %+.2f dB, spectral distance %+.2f dB, encoder "
            "CPU ratio %.2f\n",
            complexities[c], voice::kComplexity,
            quality[c].segmental_snr_db - quality[in_use].segmental_snr_db,
            quality[c].spectral_distance_db - quality[in_use].spectral_distance_db,
            median(cpu[c]) / median(cpu[in_use]));
    }
    return 0;
}
