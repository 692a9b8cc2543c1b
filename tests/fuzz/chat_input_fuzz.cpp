// The chat's untrusted inputs: GIF files (the block scanner and its standalone frames) and the encoded chat
// text of received lines. No read past the input; frames and pieces stay within what was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "chat/chat_codes.h"
#include "controls/gif_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input(data, data + size);
    const uint8_t* p = input.empty() ? nullptr : input.data();

    GifScanner scan(p, input.size());
    const int frames = scan.CountFrames();
    int extracted = 0;
    while (auto f = scan.ExtractFrame()) {
        ++extracted;
        // A frame is the head of the file, its own blocks and a trailer: never larger than the file plus one.
        if (f->image.size() > input.size() + 1 || f->image.back() != 0x3B)
            std::abort();
    }
    if (extracted > frames)
        std::abort();

    size_t text_bytes = 0;
    for (const chat::Piece& piece : chat::Decode(p, input.size())) {
        text_bytes += piece.kind == chat::Piece::Text ? piece.text.size() : chat::kFaceCodeSize;
        if (piece.kind == chat::Piece::Face && (piece.face < 0 || piece.face >= chat::kFaceCount))
            std::abort();
    }
    if (text_bytes > input.size())
        std::abort();
    return 0;
}
