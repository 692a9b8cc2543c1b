// What a listening service says about the speech it played: at the end of each talk spurt it logs a line
// "voice of user N: played P, concealed C, ..." with that speaker's totals so far. These read the latest
// totals per speaker out of a service's output and the share of concealed frames between two readings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>

struct SpurtTotals {
    uint64_t played = 0, concealed = 0;
};

// The latest totals per speaker in `text` (a service's output; other lines are passed over).
inline std::map<uint32_t, SpurtTotals> latest_spurt_totals(const std::string& text) {
    std::map<uint32_t, SpurtTotals> totals;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned user = 0;
        unsigned long long played = 0, concealed = 0;
        const size_t at = line.find("voice of user ");
        if (at != std::string::npos &&
            std::sscanf(line.c_str() + at, "voice of user %u: played %llu, concealed %llu", &user, &played,
                        &concealed) == 3)
            totals[user] = SpurtTotals{played, concealed};
    }
    return totals;
}

// Frames of `user` concealed inside speech between the readings `from` and `to`, as a percentage of the
// frames played and concealed in between; nothing when the service said nothing new about the speaker. A
// speaker the service forgot in between (its totals went down) counts from zero again.
inline std::optional<double> concealed_share(const std::map<uint32_t, SpurtTotals>& from,
                                             const std::map<uint32_t, SpurtTotals>& to, uint32_t user) {
    const auto a_at = from.find(user);
    const auto b_at = to.find(user);
    const SpurtTotals a = a_at != from.end() ? a_at->second : SpurtTotals{};
    const SpurtTotals b = b_at != to.end() ? b_at->second : SpurtTotals{};
    const bool restarted = b.played < a.played || b.concealed < a.concealed;
    const uint64_t played = b.played - (restarted ? 0 : a.played);
    const uint64_t concealed = b.concealed - (restarted ? 0 : a.concealed);
    if (played + concealed == 0)
        return std::nullopt;
    return double(concealed) / double(played + concealed) * 100;
}
