// User directory file (see user_directory.h).
#include "service/user_directory.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {
bool parse_u32(const std::string& s, uint32_t* out) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull)
        return false;
    *out = uint32_t(v);
    return true;
}

// Splits off the first blank-separated word of `rest`.
std::string next_word(std::string& rest) {
    size_t b = rest.find_first_not_of(" \t");
    if (b == std::string::npos) {
        rest.clear();
        return {};
    }
    size_t e = rest.find_first_of(" \t", b);
    std::string w = rest.substr(b, e == std::string::npos ? std::string::npos : e - b);
    rest = e == std::string::npos ? std::string() : rest.substr(e);
    return w;
}
} // namespace

bool UserDirectory::load(const std::string& path, std::vector<std::string>* warnings) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        std::string rest = line;
        std::string kind = next_word(rest);
        if (kind.empty() || kind[0] == '#')
            continue;
        std::string a = next_word(rest);
        uint32_t id = 0, other = 0;
        bool ok = parse_u32(a, &id);
        if (ok && kind == "user") {
            size_t b = rest.find_first_not_of(" \t");
            ok = b != std::string::npos;
            if (ok)
                nicknames_[id] = rest.substr(b, 20);
        } else if (ok && kind == "host") {
            ok = parse_u32(next_word(rest), &other) && next_word(rest).empty();
            if (ok)
                hosts_[id] = other;
        } else {
            ok = false;
        }
        if (!ok && warnings)
            warnings->push_back(path + ":" + std::to_string(number) + ": skipped: " + line);
    }
    return true;
}

std::optional<std::string> UserDirectory::nickname(uint32_t user) const {
    auto it = nicknames_.find(user);
    if (it == nicknames_.end())
        return std::nullopt;
    return it->second;
}

std::optional<uint32_t> UserDirectory::host_of(uint32_t room) const {
    auto it = hosts_.find(room);
    if (it == hosts_.end())
        return std::nullopt;
    return it->second;
}
