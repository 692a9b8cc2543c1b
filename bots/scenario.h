// A scripted lesson for roombot: who is in the room, who is the host, and what each one does when. Plain
// text, one statement a line ('#' starts a comment):
//   room <id> <course name>
//   user <id> <nickname> [host] [camera] [tint=N]     the nickname has no spaces; camera: sends video when
//                                                      watched (the host shows a slide, others a test picture
//                                                      tinted by N)
//   at <seconds> <user id> <action> [arguments]        actions:
//       join | leave | hand | camera on|off
//       say <text>                 a line to everyone; [face N] inserts face N (0 to 89)
//       whisper <user id|client> <text>   a private line ("client": the user of the client, see
//       --client-user) speak <text>               a spoken line (espeak-ng's Mandarin voice when installed,
//       otherwise tones)
//   repeat <seconds>                                   the timeline starts again after this long
// Texts are UTF-8 in the file and GBK on the wire. Errors name their line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bots {

struct ScenarioUser {
    uint32_t id = 0;
    std::string nickname; // UTF-8
    bool host = false;
    bool camera = false;
    int tint = 0;
};

struct ScenarioEvent {
    enum Action { Join, Leave, Hand, CameraOn, CameraOff, Say, Whisper, Speak };
    double at = 0; // seconds from the start of the timeline
    uint32_t user = 0;
    Action action = Join;
    std::string text;       // Say, Whisper, Speak (UTF-8, face markup kept)
    uint32_t target = 0;    // Whisper: the recipient
    bool to_client = false; // Whisper: the recipient is the client's user
    int line = 0;
};

struct Scenario {
    uint32_t room = 0;
    std::string course;
    std::vector<ScenarioUser> users;
    std::vector<ScenarioEvent> events; // in time order
    double repeat = 0;                 // 0: once

    const ScenarioUser* user(uint32_t id) const;
    const ScenarioUser* host() const;
};

// Parses a scenario; on failure the error reads "line N: what is wrong".
std::optional<Scenario> parse_scenario(const std::string& text, std::string* error);

// The built-in "lesson": a teacher and five students.
const std::string& lesson_scenario_text();

// Splits "text [face 3] more" into text runs and face indexes for the chat encoding: pieces with face -1 are
// text.
struct TextPiece {
    std::string text;
    int face = -1;
};
std::vector<TextPiece> split_faces(const std::string& text);

} // namespace bots
