// A temporary folder that is removed with the object, and small file helpers for tests.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
// How often `what` stands in `text` (overlaps counted).
size_t count_of(const std::string& text, const std::string& what);
