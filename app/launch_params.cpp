// Launch string parsing (see launch_params.h). No unescaping: bytes reach the members unchanged.
#include "app/launch_params.h"

#include <strings.h>

#include "platform/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

std::string launch_string_from_args(int argc, char** argv) {
    std::string s;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            s += ' ';
        s += argv[i];
    }
    if (auto from_link = launch_string_from_link(s))
        return *from_link;
    return s;
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
