// The room's user directory: a plain text file naming users and the hosts of rooms.
//   user <id> <nickname>     the nickname is GBK text and may hold spaces (at most 20 bytes are used)
//   host <room id> <user id>
// Blank lines and lines starting with '#' are ignored; a malformed line is reported and skipped.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class UserDirectory {
public:
    // Reads the file; false when it cannot be opened. Problems with single lines go to `warnings`.
    bool load(const std::string& path, std::vector<std::string>* warnings = nullptr);

    void set_nickname(uint32_t user, std::string nickname) { nicknames_[user] = std::move(nickname); }
    void set_host(uint32_t room, uint32_t user) { hosts_[room] = user; }

    std::optional<std::string> nickname(uint32_t user) const;
    std::optional<uint32_t> host_of(uint32_t room) const;
    bool empty() const { return nicknames_.empty() && hosts_.empty(); }
    const std::map<uint32_t, std::string>& nicknames() const { return nicknames_; }
    const std::map<uint32_t, uint32_t>& hosts() const { return hosts_; }

private:
    std::map<uint32_t, std::string> nicknames_;
    std::map<uint32_t, uint32_t> hosts_;
};
