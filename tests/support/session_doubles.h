// Test doubles of what the panels ask of the session. RecordingActions counts the local media actions and
// sends the intents of the panels through the session's own encoders (session/intents.h) to a link double,
// so a panel test sees the packets the program would send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/call_back.h"
#include "session/intents.h"
#include "session/panels.h"

struct RecordingActions : ISessionActions {
    explicit RecordingActions(call_back* link = nullptr) : link(link) {}
    call_back* link; // where the intents' packets go; none: they are only recorded
    std::vector<std::string> calls;
    std::vector<uint32_t> stopped;

    bool ToggleMicrophone(int id) override {
        calls.push_back("mic " + std::to_string(id));
        return true;
    }
    bool ToggleCamera(int id) override {
        calls.push_back("camera " + std::to_string(id));
        return true;
    }
    bool RequestToSpeak() override {
        calls.push_back("speak");
        return false;
    }
    void StopWatching(uint32_t id) override {
        calls.push_back("stop watching " + std::to_string(id));
        stopped.push_back(id);
    }
    void WatchUser(uint32_t id) override {
        calls.push_back("watch " + std::to_string(id));
        if (link)
            intents::WatchUser(*link, id);
    }
    void AllowSpeech(uint32_t id, bool allow) override {
        calls.push_back((allow ? "allow speech " : "withdraw speech ") + std::to_string(id));
        if (link)
            intents::AllowSpeech(*link, id, allow);
    }
    void SetOutputVolume(uint32_t volume) override {
        calls.push_back("output volume " + std::to_string(volume));
        if (link)
            intents::SetOutputVolume(*link, volume);
    }
    bool SendChatLine(const OutgoingChatLine& line) override {
        calls.push_back("chat to " + std::to_string(line.target));
        return link && intents::SendChatLine(*link, line);
    }
};

// A chat message (type 1002) reaches the message log as the session hands it over.
inline void deliver_chat(IMessageLog& log, const std::vector<uint8_t>& packet) {
    if (auto line = intents::ReadChatLine(packet.data(), packet.size()))
        log.OnChatLine(*line);
}
