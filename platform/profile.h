// Profile (INI) files read and written with the rules of the classic profile API: section and key names
// compare case-insensitively, a missing file or key gives the caller's default, and a write changes only the
// one line it concerns.
#pragma once

#include <string>

// The value of [section] key, trimmed, with one pair of surrounding double quotes removed; `def` when the
// file, the section or the key is missing.
std::string profile_get_string(const std::string& section, const std::string& key, const std::string& def,
                               const std::string& path);

// The integer value of [section] key: leading blanks and a sign are accepted and parsing stops at the first
// non-digit, so "12abc" is 12 and "abc" is 0. `def` when the key is missing or its value is empty.
int profile_get_int(const std::string& section, const std::string& key, int def, const std::string& path);

// Sets [section] key=value, creating the file and the section when missing and keeping every other line.
// The file is replaced atomically. False when it cannot be written.
bool profile_write_string(const std::string& section, const std::string& key, const std::string& value,
                          const std::string& path);

// The integer rule of profile_get_int applied to a text.
int profile_parse_int(const std::string& text);
