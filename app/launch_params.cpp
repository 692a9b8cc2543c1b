// Launch string parsing (see launch_params.h). No unescaping: bytes reach the members unchanged.
#include "app/launch_params.h"

#include <strings.h>

#include "platform/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// strtoul of a 32-bit system: a magnitude past 32 bits saturates, a leading minus negates modulo 2^32.
uint32_t to_u32(const char* s) {
    while (*s == ' ' || *s == '\t')
        ++s;
    bool negative = false;
    if (*s == '-' || *s == '+')
        negative = *s++ == '-';
    if (*s < '0' || *s > '9')
        return 0;
    errno = 0;
    unsigned long long v = std::strtoull(s, nullptr, 10);
    if (errno == ERANGE || v > UINT32_MAX)
        return UINT32_MAX;
    return negative ? uint32_t(0u - uint32_t(v)) : uint32_t(v);
}

// atoi without undefined behaviour on overflow: clamped to int.
int to_int(const char* s) {
    long long v = std::strtoll(s, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return int(v);
}

} // namespace

int get_launch_param(const char* key, char out[kLaunchValueMax + 1], const char* params) {
    out[0] = '\0';
    if (!key || !params)
        return 0;
    size_t key_len = std::strlen(key);
    if (key_len > kLaunchKeyMax)
        return 0;
    char pattern[kLaunchKeyMax + 2];
    std::memcpy(pattern, key, key_len);
    pattern[key_len] = '=';
    pattern[key_len + 1] = '\0';
    const size_t pattern_len = key_len + 1;

    const char* from = params;
    const char* match = nullptr;
    while ((match = std::strstr(from, pattern)) != nullptr) {
        if (match == params || match[-1] == '&' || match[-1] == '?' || match[-1] == '"')
            break;
        from = match + pattern_len;
    }
    if (!match)
        return 0;

    const char* v = match + pattern_len;
    int n = 0;
    while (n < kLaunchValueMax && v[n] != '\0' && v[n] != '"' && v[n] != '&') {
        out[n] = v[n];
        ++n;
    }
    out[n] = '\0';
    return n;
}

void parse_launch_params(const std::string& params, LaunchParams& out) {
    if (params.empty())
        return;
    const char* p = params.c_str();
    char value[kLaunchValueMax + 1];
    if (get_launch_param("userid", value, p))
        out.user_id = to_u32(value);
    if (get_launch_param("roomid", value, p))
        out.room_id = to_u32(value);
    if (get_launch_param("timestamp", value, p)) {
        errno = 0;
        out.timestamp = std::strtoll(value, nullptr, 10);
    }
    if (get_launch_param("keyid", value, p))
        out.key_id = value;
    if (get_launch_param("subject", value, p))
        out.subject = value;
    if (get_launch_param("viewpage", value, p)) {
        out.view_page = to_int(value);
        if (out.view_page < 0 || out.view_page > 4)
            out.view_page = 0;
    }
    if (get_launch_param("appname", value, p))
        out.app_name = value;
    if (get_launch_param("apptype", value, p))
        out.app_type = to_int(value);
}

namespace {

// Whether `s` is made of GBK characters: single bytes below 0x80, or a lead byte 0x81 to 0xFE followed by a
// trail byte 0x40 to 0xFE other than 0x7F.
bool gbk_well_formed(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto b = uint8_t(s[i]);
        if (b < 0x80)
            continue;
        if (b == 0x80 || b == 0xFF || i + 1 >= s.size())
            return false;
        const auto t = uint8_t(s[++i]);
        if (t < 0x40 || t == 0x7F || t == 0xFF)
            return false;
    }
    return true;
}

// The code points of `s` when it is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF); nothing otherwise.
std::optional<std::u32string> decode_utf8(std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = uint8_t(s[i]);
        const size_t len = b < 0x80           ? 1
                           : (b >> 5) == 0x6  ? 2
                           : (b >> 4) == 0xE  ? 3
                           : (b >> 3) == 0x1E ? 4
                                              : 0;
        if (len == 0 || i + len > s.size())
            return std::nullopt;
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; k < len; ++k) {
            const auto t = uint8_t(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (t & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kLeast[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        out.push_back(c);
        i += len;
    }
    return out;
}

// Chinese text as people type it: CJK ideographs, radicals and punctuation, and full-width forms.
bool chinese_or_ascii(char32_t c) {
    return c < 0x80 || (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF);
}

} // namespace

std::string launch_text_as_gbk(const std::string& s, LaunchOrigin origin) {
    const std::optional<std::u32string> code_points = decode_utf8(s);
    if (!code_points)
        return s; // not UTF-8: the launcher's GBK
    bool plain = true, chinese = true;
    for (char32_t c : *code_points) {
        plain = plain && c < 0x80;
        chinese = chinese && chinese_or_ascii(c);
    }
    if (plain)
        return s;
    // Text that is not GBK at all, or Chinese text typed in a UTF-8 terminal.
    if (!gbk_well_formed(s) || (origin == LaunchOrigin::Utf8Terminal && chinese))
        return utf8_to_gbk(s);
    return s;
}

std::string launch_string_from_args(int argc, char** argv, LaunchOrigin origin) {
    std::string s;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            s += ' ';
        s += argv[i];
    }
    if (auto from_link = launch_string_from_link(s))
        return *from_link;
    return launch_text_as_gbk(s, origin);
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::string> launch_string_from_link(const std::string& arg) {
    const std::string scheme = std::string(kLinkScheme) + ":";
    if (arg.size() < scheme.size() || strncasecmp(arg.c_str(), scheme.c_str(), scheme.size()) != 0)
        return std::nullopt;
    const size_t query = arg.find('?');
    if (query == std::string::npos)
        return std::string();
    // Percent-decoding of the query; '+' is a space, as browsers write forms. A '%' without two hexadecimal
    // digits stays as it is. The separators '&' and '=' are still the launch string's after decoding, as a
    // launcher would have written them.
    std::string utf8;
    for (size_t i = query + 1; i < arg.size(); ++i) {
        const char c = arg[i];
        if (c == '%' && i + 2 < arg.size() && hex_digit(arg[i + 1]) >= 0 && hex_digit(arg[i + 2]) >= 0) {
            utf8.push_back(char(hex_digit(arg[i + 1]) * 16 + hex_digit(arg[i + 2])));
            i += 2;
        } else {
            utf8.push_back(c == '+' ? ' ' : c);
        }
    }
    if (!utf8.empty() && utf8.back() == '/')
        utf8.pop_back();
    // Browsers send UTF-8; the launch string is GBK.
    return utf8_to_gbk(utf8);
}
