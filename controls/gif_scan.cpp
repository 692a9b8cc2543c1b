// GIF block scanning (see gif_scan.h).
#include "controls/gif_scan.h"

namespace {

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

constexpr size_t kHeaderSize = 13;

} // namespace

GifScanner::GifScanner(const uint8_t* data, size_t size) : data_(data), size_(size) {
    if (!data_ || size_ < kHeaderSize || data_[0] != 'G' || data_[1] != 'I' || data_[2] != 'F')
        return;
    screen_.width = le16(data_ + 6);
    screen_.height = le16(data_ + 8);
    const uint8_t packed = data_[10];
    if (packed & 0x80) {
        screen_.colour_table_size = size_t(3) << ((packed & 7) + 1);
        if (kHeaderSize + screen_.colour_table_size > size_)
            return; // the colour table runs past the end
        const size_t at = kHeaderSize + 3 * size_t(data_[11]);
        if (at + 3 <= kHeaderSize + screen_.colour_table_size)
            screen_.background =
                uint32_t(data_[at]) | (uint32_t(data_[at + 1]) << 8) | (uint32_t(data_[at + 2]) << 16);
    }
    is_gif_ = true;
    first_block_ = offset_ = kHeaderSize + screen_.colour_table_size;
}

void GifScanner::Rewind() {
    offset_ = first_block_;
}

GifScanner::Kind GifScanner::KindAt(size_t offset) const {
    if (offset >= size_)
        return Kind::Unknown;
    const uint8_t b = data_[offset];
    if (b == 0x2C)
        return Kind::Image;
    if (b == 0x3B)
        return Kind::Trailer;
    if (b != 0x21 || offset + 1 >= size_)
        return Kind::Unknown;
    switch (data_[offset + 1]) {
    case 0xFF:
        return Kind::Application;
    case 0xFE:
        return Kind::Comment;
    case 0xF9:
        return Kind::Control;
    case 0x01:
        return Kind::PlainText;
    default:
        return Kind::Unknown;
    }
}

size_t GifScanner::SubBlocksLength(size_t offset) const {
    size_t length = 0;
    for (;;) {
        if (offset + length >= size_)
            return 0;
        const size_t s = data_[offset + length];
        length += s + 1;
        if (s == 0)
            return length;
    }
}

size_t GifScanner::BlockLength(size_t offset) const {
    auto with_chain = [&](size_t fixed) -> size_t {
        if (offset + fixed > size_)
            return 0;
        const size_t chain = SubBlocksLength(offset + fixed);
        return chain ? fixed + chain : 0;
    };
    size_t length = 0;
    switch (KindAt(offset)) {
    case Kind::Application:
        length = with_chain(14);
        break;
    case Kind::Comment:
        length = with_chain(2);
        break;
    case Kind::Control:
        length = 8;
        break;
    case Kind::PlainText:
        length = with_chain(15);
        break;
    case Kind::Image: {
        if (offset + 10 > size_)
            return 0;
        const uint8_t packed = data_[offset + 9];
        const size_t local_table = (packed & 0x80) ? size_t(3) << ((packed & 7) + 1) : 0;
        length = with_chain(11 + local_table);
        break;
    }
    case Kind::Trailer:
        length = 1;
        break;
    case Kind::Unknown:
        return 0;
    }
    return length && offset + length <= size_ ? length : 0;
}

bool GifScanner::Step() {
    const size_t length = BlockLength(offset_);
    if (!length)
        return false;
    offset_ += length;
    return true;
}

bool GifScanner::SkipExtensions() {
    for (;;) {
        const Kind k = KindAt(offset_);
        if (k != Kind::Application && k != Kind::Comment)
            return k != Kind::Unknown;
        if (!Step())
            return false;
    }
}

bool GifScanner::SkipGraphicBlock() {
    if (!is_gif_ || !SkipExtensions())
        return false;
    Kind k = KindAt(offset_);
    if (k == Kind::Trailer)
        return false;
    if (k == Kind::Control) {
        if (!Step())
            return false;
        while ((k = KindAt(offset_)) != Kind::Image && k != Kind::PlainText && k != Kind::Trailer) {
            if (k == Kind::Unknown || !Step())
                return false;
        }
        if (k == Kind::Trailer)
            return false;
    }
    return Step();
}

std::optional<GifFrame> GifScanner::ExtractFrame() {
    if (!is_gif_ || !SkipExtensions())
        return std::nullopt;
    Kind k = KindAt(offset_);
    if (k == Kind::Trailer)
        return std::nullopt;
    GifFrame frame;
    const size_t start = offset_;
    if (k == Kind::Control) {
        if (offset_ + 6 > size_)
            return std::nullopt;
        frame.delay = le16(data_ + offset_ + 4);
        frame.disposal = (data_[offset_ + 3] >> 2) & 7;
        if (!Step())
            return std::nullopt;
        while ((k = KindAt(offset_)) != Kind::Image && k != Kind::PlainText) {
            if (k == Kind::Unknown || k == Kind::Trailer || !Step())
                return std::nullopt;
        }
    }
    if (k == Kind::Image) {
        if (offset_ + 9 > size_)
            return std::nullopt;
        frame.left = le16(data_ + offset_ + 1);
        frame.top = le16(data_ + offset_ + 3);
        frame.width = le16(data_ + offset_ + 5);
        frame.height = le16(data_ + offset_ + 7);
    }
    if (!Step())
        return std::nullopt;
    const size_t head = first_block_;
    frame.image.reserve(head + (offset_ - start) + 1);
    frame.image.assign(data_, data_ + head);
    frame.image.insert(frame.image.end(), data_ + start, data_ + offset_);
    frame.image.push_back(0x3B);
    return frame;
}

int GifScanner::CountFrames() {
    Rewind();
    int n = 0;
    while (SkipGraphicBlock())
        ++n;
    Rewind();
    return n;
}

int GifStepMs(int delay) {
    return delay < 5 ? 50 : delay * 5;
}
