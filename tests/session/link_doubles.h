// Test doubles of what the service link talks to: its window, the inbound handler and the panels.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "panels.h"
#include "service_link.h"
#include "tcpclient.h"
#include "user_record.h"

struct HostDouble : ILinkHost {
    std::vector<std::string> boxes, posted;
    void ShowMessageBox(const std::string& text, const std::string&, bool) override { boxes.push_back(text); }
    void PostMessageBox(const std::string& text, const std::string&) override { posted.push_back(text); }
    uint32_t WindowHandle() override { return 0x4242; }
};

// Records inbound packets from the link thread; tests wait for them.
struct HandlerDouble : server_event_handler {
    struct Got {
        uint16_t type;
        std::vector<uint8_t> payload;
    };
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Got> got;

    int OnServerProc(uint16_t type, const void* data, uint32_t length) override {
        std::lock_guard lock(mutex);
        auto* p = static_cast<const uint8_t*>(data);
        got.push_back({type, std::vector<uint8_t>(p, p + length)});
        cv.notify_all();
        return 0;
    }
    bool wait_for(uint16_t type, int count = 1, int timeout_ms = 5000) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return this->count(type) >= count; });
    }
    int count(uint16_t type) {
        int n = 0;
        for (auto& g : got)
            n += g.type == type;
        return n;
    }
};

struct MessageLogDouble : IMessageLog {
    std::vector<std::string> notices;
    std::vector<const ChatLogEntry*> chats;
    void AddNoticeLine(const std::string& text) override { notices.push_back(text); }
    void AppendChatLine(const ChatLogEntry* e) override { chats.push_back(e); }
};

struct UserListDouble : IUserList {
    std::vector<UserRecord> users;
    UserRecord* self = nullptr;
    bool host_online = false;
    int cleared = 0;
    UserRecord* FindUser(uint32_t id) override {
        for (auto& u : users)
            if (u.block.user_id == id)
                return &u;
        return nullptr;
    }
    UserRecord* FindUserByNickname(const std::string& n) override {
        for (auto& u : users)
            if (u.block.nickname == n)
                return &u;
        return nullptr;
    }
    UserRecord* SelfUser() override { return self; }
    bool HostOnline() override { return host_online; }
    void ClearUsers() override {
        ++cleared;
        users.clear();
        self = nullptr;
        host_online = false;
    }
};

struct StatusBarDouble : IStatusBar {
    bool muted = false;
    std::vector<int> selected;
    int count_resets = 0;
    bool IsOutputMuted() override { return muted; }
    void SelectRecordingDevice(int id) override { selected.push_back(id); }
    void ResetUserCount() override { ++count_resets; }
};

struct ChatInputDouble : IChatInput {
    int resets = 0;
    void ResetRecipients() override { ++resets; }
};

struct VideoDouble : IVideoRegistry {
    std::vector<std::pair<uint32_t, uint32_t>> assigned, released;
    int release_all = 0;
    bool can_assign = true;
    bool AssignWindow(uint32_t u, uint32_t r, const proto::UserBlock&) override {
        assigned.push_back({u, r});
        return can_assign;
    }
    bool ReleaseWindow(uint32_t u, uint32_t r) override {
        released.push_back({u, r});
        return true;
    }
    void ReleaseAll() override { ++release_all; }
};

struct ActionsDouble : ISessionActions {
    std::vector<std::string> calls;
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
};
