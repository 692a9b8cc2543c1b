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

// Where a command line comes from: a launcher (a class page, a desktop entry, a script), which hands GBK, or
// a person typing in a terminal whose character set is UTF-8.
enum class LaunchOrigin { Launcher, Utf8Terminal };

// The launch string of a command line: every argument after the program, joined with single spaces, as GBK
// (see launch_text_as_gbk).
std::string launch_string_from_args(int argc, char** argv, LaunchOrigin origin = LaunchOrigin::Launcher);

// A launch string as GBK: unchanged when it is ASCII or not well-formed UTF-8; converted from UTF-8 when it
// is UTF-8 but not GBK. Text that is both stays as it is (GBK), as launchers write it, unless it was typed in
// a UTF-8 terminal and its UTF-8 reading is Chinese text (CJK characters, punctuation and full-width forms
// besides ASCII). The bytes alone cannot tell the two apart: GBK of traditional characters such as
// "閱歷" (E9 86 9A 76) is also UTF-8 of Chinese text.
std::string launch_text_as_gbk(const std::string& s, LaunchOrigin origin = LaunchOrigin::Launcher);

// The scheme of the launch links that class web pages use ("quorin://join?userid=12&roomid=7&...").
constexpr const char* kLinkScheme = "quorin";
// The launch string of a launch link: its query, percent-decoded and converted from UTF-8 to GBK. Nothing
// when the argument is not such a link.
std::optional<std::string> launch_string_from_link(const std::string& arg);
