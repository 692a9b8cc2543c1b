// GIF writing with giflib (see gif_writer.h).
#include "tools/gif_writer.h"

#include <gif_lib.h>

namespace {

GifFileType* gif(void* p) {
    return static_cast<GifFileType*>(p);
}

} // namespace

int GifWriter::Write(void* file, const unsigned char* data, int length) {
    auto* self = static_cast<GifWriter*>(static_cast<GifFileType*>(file)->UserData);
    self->out_.insert(self->out_.end(), data, data + length);
    return length;
}

GifWriter::GifWriter(int width, int height, std::vector<uint32_t> palette, int background_index) {
    int error = 0;
    GifFileType* g = EGifOpen(
        this, [](GifFileType* f, const GifByteType* d, int n) { return Write(f, d, n); }, &error);
    if (!g) {
        ok_ = false;
        return;
    }
    gif_ = g;
    size_t size = 2;
    while (size < palette.size() && size < 256)
        size *= 2;
    palette.resize(size, 0);
    std::vector<GifColorType> colours(size);
    for (size_t i = 0; i < size; ++i)
        colours[i] = {GifByteType(palette[i] >> 16), GifByteType(palette[i] >> 8), GifByteType(palette[i])};
    ColorMapObject* map = GifMakeMapObject(int(size), colours.data());
    EGifSetGifVersion(g, true);
    ok_ = map && EGifPutScreenDesc(g, width, height, 8, background_index, map) == GIF_OK;
    GifFreeMapObject(map);
}

GifWriter::~GifWriter() {
    if (gif_) {
        int error = 0;
        EGifCloseFile(gif(gif_), &error);
    }
}

void GifWriter::Comment(const std::string& text) {
    ok_ = ok_ && EGifPutExtension(gif(gif_), COMMENT_EXT_FUNC_CODE, int(text.size()), text.data()) == GIF_OK;
}

void GifWriter::PlainText(const std::string& text) {
    const uint8_t header[12] = {0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0};
    ok_ = ok_ && EGifPutExtensionLeader(gif(gif_), PLAINTEXT_EXT_FUNC_CODE) == GIF_OK &&
          EGifPutExtensionBlock(gif(gif_), 12, header) == GIF_OK &&
          EGifPutExtensionBlock(gif(gif_), int(text.size()), text.data()) == GIF_OK &&
          EGifPutExtensionTrailer(gif(gif_)) == GIF_OK;
}

void GifWriter::Loop() {
    const uint8_t loop[3] = {1, 0, 0};
    ok_ = ok_ && EGifPutExtensionLeader(gif(gif_), APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
          EGifPutExtensionBlock(gif(gif_), 11, "NETSCAPE2.0") == GIF_OK &&
          EGifPutExtensionBlock(gif(gif_), 3, loop) == GIF_OK && EGifPutExtensionTrailer(gif(gif_)) == GIF_OK;
}

void GifWriter::Control(int delay, int disposal, int transparent) {
    const uint8_t block[4] = {uint8_t(((disposal & 7) << 2) | (transparent >= 0 ? 1 : 0)),
                              uint8_t(delay & 0xFF), uint8_t((delay >> 8) & 0xFF),
                              uint8_t(transparent >= 0 ? transparent : 0)};
    ok_ = ok_ && EGifPutExtension(gif(gif_), GRAPHICS_EXT_FUNC_CODE, 4, block) == GIF_OK;
}

void GifWriter::Image(int left, int top, int width, int height, const std::vector<uint8_t>& indexes) {
    if (!ok_ || indexes.size() < size_t(width) * size_t(height)) {
        ok_ = false;
        return;
    }
    ok_ = EGifPutImageDesc(gif(gif_), left, top, width, height, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(static_cast<size_t>(width));
    for (int y = 0; ok_ && y < height; ++y) {
        for (int x = 0; x < width; ++x)
            row[size_t(x)] = indexes[size_t(y) * size_t(width) + size_t(x)];
        ok_ = EGifPutLine(gif(gif_), row.data(), width) == GIF_OK;
    }
}

std::vector<uint8_t> GifWriter::Finish() {
    if (gif_) {
        int error = 0;
        ok_ = EGifCloseFile(gif(gif_), &error) == GIF_OK && ok_;
        gif_ = nullptr;
    }
    return ok_ ? out_ : std::vector<uint8_t>{};
}
