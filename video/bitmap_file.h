// Snapshot files: 24-bit bitmap files that any image viewer reads, and file names that network text cannot
// turn into a path. Plain C++.
#pragma once

#include <cstdint>
#include <string>

// Writes a bitmap file of `width` x `height` 24-bit pixels given bottom row first, each row `row_bytes` long
// (padded to 4 bytes). The file is 54 + row_bytes * height bytes. False when it cannot be written.
bool write_bitmap_file(const std::string& path, int width, int height, const uint8_t* bottom_up_bgr,
                       size_t row_bytes);

// A piece of a file name made safe: '/', '\\', control characters and the other characters that file systems
// or shells treat specially become '_', a leading '.' too, and it is cut to 64 bytes. Text stays UTF-8.
std::string safe_file_component(const std::string& utf8);
