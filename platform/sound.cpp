// Sound playback over ALSA (see sound.h).
#include "platform/sound.h"

#include <alsa/asoundlib.h>

#include <QApplication>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

// Larger files are not the installation's sounds; they are not read.
constexpr std::streamoff kMaxFileBytes = 16 << 20;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff size = in.tellg();
    if (size <= 0 || size > kMaxFileBytes)
        return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
        return {};
    return bytes;
}

} // namespace

std::optional<WavSound> parse_wav(const std::vector<uint8_t>& file) {
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    std::optional<WavSound> format;
    size_t at = 12;
    while (file.size() - at >= 8) {
        const uint8_t* chunk = file.data() + at;
        const uint32_t size = le32(chunk + 4);
        const size_t body = at + 8;
        const size_t available = file.size() - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > available)
                return std::nullopt;
            uint16_t tag = le16(file.data() + body);
            // WAVE_FORMAT_EXTENSIBLE names its sample format in the first two bytes of its sub-format.
            if (tag == 0xFFFE && size >= 40)
                tag = le16(file.data() + body + 24);
            WavSound w;
            w.channels = le16(file.data() + body + 2);
            w.rate = int(le32(file.data() + body + 4));
            w.bits = le16(file.data() + body + 14);
            if (tag != 1 || (w.channels != 1 && w.channels != 2) || (w.bits != 8 && w.bits != 16) ||
                w.rate < 4000 || w.rate > 192000)
                return std::nullopt;
            format = w;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!format)
                return std::nullopt;
            // A data chunk longer than the file (a recording cut off) plays what there is.
            const size_t frame_bytes = size_t(format->channels) * size_t(format->bits / 8);
            size_t n = std::min<size_t>(size, available);
            n -= n % frame_bytes;
            if (n == 0)
                return std::nullopt;
            format->samples.assign(file.begin() + long(body), file.begin() + long(body + n));
            return format;
        }
        if (size > available)
            return std::nullopt;
        at = body + size + (size & 1); // chunks are padded to an even length
    }
    return std::nullopt;
}

SoundPlayer::SoundPlayer() = default;

SoundPlayer::~SoundPlayer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        ++requests_;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SoundPlayer::PlayAsync(const std::string& path) {
    if (!QFileInfo(QString::fromStdString(path)).isReadable()) {
        QApplication::beep();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        next_ = path;
        ++requests_;
    }
    wake_.notify_all();
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

int SoundPlayer::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void SoundPlayer::run() {
    for (;;) {
        std::string path;
        uint64_t request = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !next_.empty(); });
            if (stopping_)
                return;
            path.swap(next_);
            request = requests_;
        }
        auto cut_off = [&] {
            std::lock_guard lock(mutex_);
            return requests_ != request;
        };
        const std::optional<WavSound> sound = parse_wav(read_file_bytes(path));
        if (!sound)
            continue;
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
            continue;
        const snd_pcm_format_t format = sound->bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(sound->channels),
                               unsigned(sound->rate), 1, 100000) < 0) {
            snd_pcm_close(pcm);
            continue;
        }
        const size_t frame_bytes = size_t(sound->channels) * size_t(sound->bits / 8);
        const size_t frames = sound->samples.size() / frame_bytes;
        // Written in pieces of 20 ms, so that a new sound cuts this one off soon.
        const size_t piece = std::max<size_t>(size_t(sound->rate) / 50, 1);
        bool complete = true;
        for (size_t done = 0; done < frames;) {
            if (cut_off()) {
                complete = false;
                break;
            }
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm, sound->samples.data() + done * frame_bytes,
                                                       std::min(piece, frames - done));
            if (n < 0) {
                if (snd_pcm_recover(pcm, int(n), 1) < 0) {
                    complete = false;
                    break;
                }
                continue;
            }
            done += size_t(n);
        }
        if (complete)
            snd_pcm_drain(pcm);
        else
            snd_pcm_drop(pcm);
        snd_pcm_close(pcm);
        if (complete) {
            std::lock_guard lock(mutex_);
            ++finished_;
        }
    }
}
