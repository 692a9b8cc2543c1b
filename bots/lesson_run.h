// Plays a scenario in a room server: one connection per scripted user, through the real protocol. Besides the
// timeline the users answer what happens in the room:
//  - a camera user sends video (15 frames a second) while somebody watches it;
//  - the host grants the speak right to a raised hand (a user's or the client's) after two seconds, and takes
//    it back ten seconds later;
//  - a private line to a scripted user gets a reply.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "bots/scenario.h"

namespace bots {

struct LessonConfig {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    uint32_t client_user = 0; // the user of the client, for "whisper client"; 0: such lines are skipped
    double seconds = 0;       // run this long; 0: until `stop`
    const std::atomic<bool>* stop = nullptr;
    // Draws the host's slide (packed 4:2:2, 320 x 240) for frame `n`; null: the test picture.
    std::function<void(uint8_t* yuyv, uint32_t n)> slide;
    std::function<void(const std::string&)> log;
};

// Runs to the end (or the stop flag). False, with the reason, when the room server cannot be reached.
bool run_lesson(const Scenario& scenario, const LessonConfig& config, std::string* error);

// The speech of a spoken line: espeak-ng's Mandarin voice at 48 kHz mono when it is installed, otherwise a
// short rising melody of tones. At most 10 seconds.
std::vector<int16_t> speech_for(const std::string& utf8_text);

} // namespace bots
