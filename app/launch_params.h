// The launch string: key=value pairs that the launcher puts on the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Values longer than this are cut; the output buffer of get_launch_param holds this plus a terminator.
constexpr int kLaunchValueMax = 127;
constexpr int kLaunchKeyMax = 20;

struct LaunchParams {
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    int64_t timestamp = 0;
    std::string key_id;
    std::string subject;
    int view_page = 0;
    std::string app_name;
    int app_type = 2;
};

// Copies the value of `key` from `params` into `out` (128 bytes) and returns its length; 0 when the key is
// absent, longer than 20 characters, or its value is empty. A match counts at the start of the string or
// after
// '&', '?' or '"'; the value ends at '"', '&' or the end, and is cut at 127 characters.
int get_launch_param(const char* key, char out[kLaunchValueMax + 1], const char* params);

// Fills the eight launch members from the string; keys that are absent or empty keep their defaults.
void parse_launch_params(const std::string& params, LaunchParams& out);

// The launch string of a command line: every argument after the program, joined with single spaces. A
// launcher hands GBK; a launch string typed by hand in a UTF-8 terminal is UTF-8 and is converted to GBK (see
// launch_text_as_gbk).
std::string launch_string_from_args(int argc, char** argv);

// A launch string as GBK: unchanged when it is ASCII or not well-formed UTF-8; converted from UTF-8 when it
// is UTF-8 but not GBK, or when its UTF-8 reading is Chinese text (CJK characters, punctuation and full-width
// forms besides ASCII), which GBK bytes of Chinese text practically never give. Other text that is both
// stays as it is (GBK), as launchers write it.
std::string launch_text_as_gbk(const std::string& s);

// The scheme of the launch links that class web pages use ("quorin://join?userid=12&roomid=7&...").
constexpr const char* kLinkScheme = "quorin";
// The launch string of a launch link: its query, percent-decoded and converted from UTF-8 to GBK. Nothing
// when the argument is not such a link.
std::optional<std::string> launch_string_from_link(const std::string& arg);
