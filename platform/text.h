// Conversion between the GBK bytes of the wire and files, and UTF-8 for the screen and the keyboard.
#pragma once

#include <string>
#include <string_view>

// GBK to UTF-8. A byte sequence that is not GBK becomes U+FFFD and the rest is still converted.
std::string gbk_to_utf8(std::string_view gbk);

// UTF-8 to GBK. A character GBK cannot hold, or a malformed UTF-8 sequence, becomes '?'.
std::string utf8_to_gbk(std::string_view utf8);
