// Scenario parsing (see scenario.h).
#include "bots/scenario.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace bots {

namespace {

bool parse_u32(const std::string& s, uint32_t* out) {
    if (s.empty() || s.size() > 10 ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v == 0 || v > 0xFFFFFFFEull)
        return false;
    *out = uint32_t(v);
    return true;
}

bool parse_seconds(const std::string& s, double* out) {
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end || !(v >= 0) || v > 24 * 3600)
        return false;
    *out = v;
    return true;
}

// The rest of the line after `count` words, trimmed.
std::string rest_after(const std::string& line, int count) {
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string::npos)
            return "";
        at = line.find_first_of(" \t", at);
        if (at == std::string::npos)
            return "";
    }
    const size_t from = line.find_first_not_of(" \t", at);
    if (from == std::string::npos)
        return "";
    const size_t to = line.find_last_not_of(" \t\r");
    return line.substr(from, to - from + 1);
}

} // namespace

const ScenarioUser* Scenario::user(uint32_t id) const {
    for (const auto& u : users)
        if (u.id == id)
            return &u;
    return nullptr;
}

const ScenarioUser* Scenario::host() const {
    for (const auto& u : users)
        if (u.host)
            return &u;
    return nullptr;
}

std::optional<Scenario> parse_scenario(const std::string& text, std::string* error) {
    Scenario s;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) -> std::optional<Scenario> {
        if (error)
            *error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++number;
        if (auto hash = line.find('#'); hash != std::string::npos && line.find('[') > hash)
            line.erase(hash); // a comment ('#' inside a text after its first bracket is kept)
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;)
            w.push_back(x);
        if (w.empty())
            continue;
        const std::string& keyword = w[0];
        if (keyword == "room") {
            if (w.size() < 3 || !parse_u32(w[1], &s.room))
                return fail("room wants an id and a course name");
            s.course = rest_after(line, 2);
        } else if (keyword == "user") {
            ScenarioUser u;
            if (w.size() < 3 || !parse_u32(w[1], &u.id))
                return fail("user wants an id and a nickname");
            if (s.user(u.id))
                return fail("user " + w[1] + " is named twice");
            u.nickname = w[2];
            for (size_t i = 3; i < w.size(); ++i) {
                if (w[i] == "host")
                    u.host = true;
                else if (w[i] == "camera")
                    u.camera = true;
                else if (w[i].rfind("tint=", 0) == 0)
                    u.tint = std::atoi(w[i].c_str() + 5);
                else
                    return fail("unknown user option '" + w[i] + "'");
            }
            if (u.host && s.host())
                return fail("a room has one host");
            s.users.push_back(u);
        } else if (keyword == "at") {
            ScenarioEvent e;
            e.line = number;
            if (w.size() < 4 || !parse_seconds(w[1], &e.at))
                return fail("at wants a time in seconds, a user and an action");
            if (!parse_u32(w[2], &e.user) || !s.user(e.user))
                return fail("unknown user '" + w[2] + "' (name users before their actions)");
            const std::string& a = w[3];
            if (a == "join") {
                e.action = ScenarioEvent::Join;
            } else if (a == "leave") {
                e.action = ScenarioEvent::Leave;
            } else if (a == "hand") {
                e.action = ScenarioEvent::Hand;
            } else if (a == "camera") {
                if (w.size() != 5 || (w[4] != "on" && w[4] != "off"))
                    return fail("camera wants on or off");
                e.action = w[4] == "on" ? ScenarioEvent::CameraOn : ScenarioEvent::CameraOff;
            } else if (a == "say" || a == "speak") {
                e.action = a == "say" ? ScenarioEvent::Say : ScenarioEvent::Speak;
                e.text = rest_after(line, 4);
                if (e.text.empty())
                    return fail(a + " wants a text");
            } else if (a == "whisper") {
                e.action = ScenarioEvent::Whisper;
                if (w.size() < 6)
                    return fail("whisper wants a recipient and a text");
                if (w[4] == "client")
                    e.to_client = true;
                else if (!parse_u32(w[4], &e.target) || !s.user(e.target))
                    return fail("unknown recipient '" + w[4] + "'");
                e.text = rest_after(line, 5);
            } else {
                return fail("unknown action '" + a + "'");
            }
            if (e.text.size() > 1000)
                return fail("text longer than 1000 bytes");
            s.events.push_back(e);
        } else if (keyword == "repeat") {
            if (w.size() != 2 || !parse_seconds(w[1], &s.repeat) || s.repeat < 1)
                return fail("repeat wants a time of at least one second");
        } else {
            return fail("unknown statement '" + keyword + "'");
        }
    }
    if (s.room == 0) {
        number = 0;
        return fail("no room statement");
    }
    if (s.users.empty()) {
        number = 0;
        return fail("no users");
    }
    std::stable_sort(s.events.begin(), s.events.end(),
                     [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.at < b.at; });
    if (s.repeat > 0 && !s.events.empty() && s.events.back().at >= s.repeat) {
        number = s.events.back().line;
        return fail("an action after the repeat time");
    }
    return s;
}

std::vector<TextPiece> split_faces(const std::string& text) {
    std::vector<TextPiece> out;
    std::string run;
    size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 6, "[face ") == 0) {
            const size_t close = text.find(']', i);
            char* end = nullptr;
            const long face = close == std::string::npos ? -1 : std::strtol(text.c_str() + i + 6, &end, 10);
            if (close != std::string::npos && end == text.c_str() + close && face >= 0 && face < 90) {
                if (!run.empty())
                    out.push_back({run, -1});
                run.clear();
                out.push_back({"", int(face)});
                i = close + 1;
                continue;
            }
        }
        run += text[i++];
    }
    if (!run.empty())
        out.push_back({run, -1});
    return out;
}

const std::string& lesson_scenario_text() {
    static const std::string text = R"(# The demo lesson: a teacher and five students, over and over.
room 1 示范课：分数的加法
user 9001 王老师 host camera
user 9002 李明 camera tint=80
user 9003 张华
user 9004 赵敏
user 9005 陈晨 camera tint=-60
user 9006 刘洋
at 0.0 9001 join
at 0.3 9001 camera on
at 0.8 9001 say 同学们好！欢迎来到今天的课堂 [face 14][face 20]
at 1.0 9002 join
at 1.2 9002 camera on
at 1.6 9003 join
at 2.0 9002 say 王老师好！[face 1]
at 2.3 9004 join
at 2.8 9005 join
at 3.0 9005 camera on
at 3.2 9003 say 老师好，我准备好了 [face 13]
at 3.6 9006 join
at 4.0 9001 speak 同学们好，今天我们学习分数的加法。
at 5.0 9004 say 今天学什么呀？[face 32]
at 6.0 9002 whisper client 你好！我是李明，欢迎你来上课 [face 2]
at 7.0 9003 hand
at 9.0 9001 say 分母相同的分数相加，分母不变，分子相加。[face 76]
at 12.0 9005 say 明白了！[face 31]
at 14.0 9006 leave
at 17.0 9006 join
at 18.0 9006 say 我回来了，刚才网络断了 [face 6]
at 22.0 9004 hand
at 26.0 9001 say 大家有问题可以举手 [face 12]
repeat 40
)";
    return text;
}

} // namespace bots
