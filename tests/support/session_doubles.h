// Test doubles of what the panels ask of the session. RecordingActions counts the local media actions and
// sends the intents of the panels through the session's own encoders (session/intents.h) to a link double,
// so a panel test sees the packets the program would send.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "session/call_back.h"
#include "session/intents.h"
#include "session/panels.h"

// The panels' call_back: records the requests (with the video windows asked for) and the packets sent, and
// answers every request with 1.
struct RecordingLink : call_back {
    std::vector<int> requests;
    std::vector<std::pair<uint16_t, proto::Bytes>> sent;
    std::vector<VideoWindowRequest> windows;
    int request(int type, void* data, int) override {
        requests.push_back(type);
        if (type == kReqVideoWindow)
            windows.push_back(*static_cast<VideoWindowRequest*>(data));
        return 1;
    }
    bool Send(uint16_t type, const proto::Bytes& payload) override {
        sent.push_back({type, payload});
        return true;
    }
};

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
    void AnnounceCamera(const proto::StreamDesc& stream) override {
        calls.push_back("announce camera " + std::to_string(stream.fourcc));
        if (link)
            intents::AnnounceCamera(*link, stream);
    }
};

// A chat message (type 1002) reaches the message log as the session hands it over.
inline void deliver_chat(IMessageLog& log, const std::vector<uint8_t>& packet) {
    if (auto line = intents::ReadChatLine(packet.data(), packet.size()))
        log.OnChatLine(*line);
}
