// The encoded chat text (see chat_codes.h).
#include "chat/chat_codes.h"

namespace chat {

std::vector<uint8_t> Encode(const std::vector<Piece>& pieces) {
    std::vector<uint8_t> out;
    for (const Piece& piece : pieces) {
        if (piece.kind == Piece::Text) {
            out.insert(out.end(), piece.text.begin(), piece.text.end());
            continue;
        }
        const uint32_t v = uint32_t(piece.face);
        out.insert(out.end(), {0x01, 0x00, uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    out.push_back(0);
    return out;
}

std::vector<Piece> Decode(const uint8_t* p, size_t n) {
    std::vector<Piece> pieces;
    if (!p)
        return pieces;
    std::string run;
    auto close_run = [&] {
        if (!run.empty())
            pieces.push_back(Piece{Piece::Text, std::move(run), 0});
        run.clear();
    };
    for (size_t j = 0; j < n;) {
        if (p[j] == 0x01 && j + 1 < n && p[j + 1] == 0x00 && j + kFaceCodeSize <= n) {
            close_run();
            const int32_t index = int32_t(uint32_t(p[j + 2]) | (uint32_t(p[j + 3]) << 8) |
                                          (uint32_t(p[j + 4]) << 16) | (uint32_t(p[j + 5]) << 24));
            const bool known = index >= 0 && index < kFaceCount;
            pieces.push_back(Piece{known ? Piece::Face : Piece::UnknownFace, {}, index});
            j += kFaceCodeSize;
            continue;
        }
        if (p[j] != 0)
            run.push_back(char(p[j]));
        ++j;
    }
    close_run();
    return pieces;
}

} // namespace chat
