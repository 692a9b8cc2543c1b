// iconv-based GBK <-> UTF-8 conversion that steps over bad input instead of stopping at it.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One converter per thread and direction: an iconv handle must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != iconv_t(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in`; each unconvertible input position is skipped by `skip` bytes and replaced by
    // `replacement`.
    std::string run(std::string_view in, std::string_view replacement, bool skip_whole_utf8_char) {
        std::string out;
        if (cd_ == iconv_t(-1))
            return out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t src_left = in.size();
        char buf[1024];
        while (src_left > 0) {
            char* dst = buf;
            size_t dst_left = sizeof buf;
            size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
            out.append(buf, size_t(dst - buf));
            if (r != size_t(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ (invalid or unmappable) or EINVAL (cut short at the end): replace and step on.
            out.append(replacement);
            size_t step = 1;
            if (skip_whole_utf8_char) {
                unsigned char c = static_cast<unsigned char>(*src);
                size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
                // Only a well-formed character is skipped whole; a stray byte is skipped alone.
                bool well_formed = len <= src_left;
                for (size_t i = 1; well_formed && i < len; ++i)
                    well_formed = (static_cast<unsigned char>(src[i]) & 0xC0) == 0x80;
                step = well_formed ? len : 1;
            }
            src += step;
            src_left -= step;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* dst = buf;
        size_t dst_left = sizeof buf;
        iconv(cd_, nullptr, nullptr, &dst, &dst_left);
        out.append(buf, size_t(dst - buf));
        return out;
    }

private:
    iconv_t cd_;
};

} // namespace

std::string gbk_to_utf8(std::string_view gbk) {
    thread_local Converter c("UTF-8", "GBK");
    return c.run(gbk, "\xEF\xBF\xBD", false);
}

std::string utf8_to_gbk(std::string_view utf8) {
    thread_local Converter c("GBK", "UTF-8");
    return c.run(utf8, "?", true);
}
