// Profile file reader and writer (see profile.h).
#include "platform/profile.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

bool iequals(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::string> read_lines(const std::string& path, bool* exists, bool* crlf) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    *exists = bool(in);
    *crlf = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            *crlf = true;
        }
        lines.push_back(line);
    }
    return lines;
}

// "[name]" gives name; any other line gives nothing.
std::optional<std::string> section_name(const std::string& line) {
    std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return trim(t.substr(1, close - 1));
}

// Splits "key = value"; false for comments and lines without '='.
bool split_key_value(const std::string& line, std::string* key, std::string* value) {
    std::string t = trim(line);
    if (t.empty() || t[0] == ';')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    *key = trim(t.substr(0, eq));
    *value = trim(t.substr(eq + 1));
    return true;
}

std::string lower(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// One file's values, indexed by lower-case "section\0key"; the first line that names a key in its section
// wins, as a scan from the top finds it.
struct ParsedFile {
    std::unordered_map<std::string, std::string> values;
};

std::shared_ptr<const ParsedFile> parse_file(const std::string& path) {
    bool exists, crlf;
    const std::vector<std::string> lines = read_lines(path, &exists, &crlf);
    auto parsed = std::make_shared<ParsedFile>();
    bool in_section = false;
    std::string prefix;
    for (const std::string& line : lines) {
        if (auto name = section_name(line)) {
            in_section = true;
            prefix = lower(*name);
            prefix.push_back('\0');
            continue;
        }
        std::string k, v;
        if (in_section && split_key_value(line, &k, &v))
            parsed->values.try_emplace(prefix + lower(k), std::move(v));
    }
    return parsed;
}

// Windows and panels read the same files many times while they are made (a skin layout file is asked for
// each value of each button), so a file's parsed form is kept while the file stays what it was. A file
// counts as unchanged while its identity, size and times are, and only when it was last changed well before
// it was read: a change in the same tick of the file system's clock would leave its times as they were.
class ParsedFileCache {
public:
    std::shared_ptr<const ParsedFile> get(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return nullptr;
        Signature sig{st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
                      st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
        {
            std::lock_guard lock(mutex_);
            auto it = files_.find(path);
            if (it != files_.end() && it->second.signature == sig && it->second.settled)
                return it->second.parsed;
        }
        timespec read_at{};
        clock_gettime(CLOCK_REALTIME, &read_at);
        std::shared_ptr<const ParsedFile> parsed = parse_file(path);
        const bool settled = newer_by(read_at, st.st_mtim) && newer_by(read_at, st.st_ctim);
        if (st.st_size <= kMaxCachedBytes) {
            std::lock_guard lock(mutex_);
            if (files_.size() >= kMaxFiles && !files_.count(path))
                files_.clear();
            files_[path] = Entry{sig, settled, parsed};
        }
        return parsed;
    }

    void forget(const std::string& path) {
        std::lock_guard lock(mutex_);
        files_.erase(path);
    }

private:
    static constexpr size_t kMaxFiles = 64;
    static constexpr off_t kMaxCachedBytes = 1 << 20;
    // Generously more than a file system clock's tick.
    static constexpr long long kSettledNs = 50'000'000;

    static bool newer_by(const timespec& now, const timespec& then) {
        const long long a = static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
        const long long b = static_cast<long long>(then.tv_sec) * 1'000'000'000 + then.tv_nsec;
        return a - b > kSettledNs;
    }

    struct Signature {
        dev_t dev;
        ino_t ino;
        off_t size;
        time_t mtime_s;
        long mtime_ns;
        time_t ctime_s;
        long ctime_ns;
        bool operator==(const Signature&) const = default;
    };
    struct Entry {
        Signature signature;
        bool settled;
        std::shared_ptr<const ParsedFile> parsed;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> files_;
};

ParsedFileCache& parsed_files() {
    static ParsedFileCache cache;
    return cache;
}

std::optional<std::string> find_value(const std::string& section, const std::string& key,
                                      const std::string& path) {
    std::shared_ptr<const ParsedFile> parsed = parsed_files().get(path);
    if (!parsed)
        return std::nullopt;
    std::string index = lower(section);
    index.push_back('\0');
    index += lower(key);
    auto it = parsed->values.find(index);
    if (it == parsed->values.end())
        return std::nullopt;
    return it->second;
}

} // namespace

int profile_parse_int(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        value = value * 10 + (text[i++] - '0');
        if (value > (long long)INT_MAX + 1)
            value = (long long)INT_MAX + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

std::string profile_get_string(const std::string& section, const std::string& key, const std::string& def,
                               const std::string& path) {
    std::optional<std::string> v = find_value(section, key, path);
    if (!v)
        return def;
    if (v->size() >= 2 && v->front() == '"' && v->back() == '"')
        return v->substr(1, v->size() - 2);
    return *v;
}

int profile_get_int(const std::string& section, const std::string& key, int def, const std::string& path) {
    std::optional<std::string> v = find_value(section, key, path);
    if (!v || v->empty())
        return def;
    return profile_parse_int(*v);
}

bool profile_write_string(const std::string& section, const std::string& key, const std::string& value,
                          const std::string& path) {
    bool exists, crlf;
    std::vector<std::string> lines = read_lines(path, &exists, &crlf);
    const std::string entry = key + "=" + value;

    bool in_section = false, section_found = false, written = false;
    size_t insert_at = lines.size();
    for (size_t i = 0; i < lines.size() && !written; ++i) {
        if (auto name = section_name(lines[i])) {
            if (in_section)
                break; // the section ended without the key
            in_section = iequals(*name, section);
            if (in_section) {
                section_found = true;
                insert_at = i + 1;
            }
            continue;
        }
        if (!in_section)
            continue;
        std::string k, v;
        if (split_key_value(lines[i], &k, &v) && iequals(k, key)) {
            lines[i] = k + "=" + value;
            written = true;
        } else if (!trim(lines[i]).empty()) {
            insert_at = i + 1;
        }
    }
    if (!written) {
        if (section_found) {
            lines.insert(lines.begin() + static_cast<long>(insert_at), entry);
        } else {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        }
    }

    const std::string eol = crlf ? "\r\n" : "\n";
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        for (const std::string& line : lines)
            out << line << eol;
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    parsed_files().forget(path);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}
