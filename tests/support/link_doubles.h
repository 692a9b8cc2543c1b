// Test doubles of what the session core talks to: its window, the inbound handler and the panels. The panel
// doubles keep just enough state to answer, and write every call into one shared journal, so that tests can
// check what happened and in which order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "components/link_transport.h"
#include "components/tcpclient.h"
#include "platform/text.h"
#include "session/panels.h"
#include "session/roster.h"
#include "session/service_link.h"
#include "session/user_record.h"
#include "session_doubles.h"

using Journal = std::vector<std::string>;

struct HostDouble : ILinkHost {
    std::vector<std::string> boxes, posted;
    void ShowMessageBox(const std::string& text, const std::string& caption, bool error) override {
        boxes.push_back(text + (caption.empty() ? "" : " [" + caption + "]") + (error ? " (error)" : ""));
    }
    void PostMessageBox(const std::string& text, const std::string& caption) override {
        posted.push_back(text + (caption.empty() ? "" : " [" + caption + "]"));
    }
    // Messages to the window itself, from any thread; tests wait for them.
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<unsigned, intptr_t>> to_self;
    // How long the posting thread goes on after posting (a loaded machine may keep it that long).
    std::atomic<int> linger_after_post_ms{0};
    // While held, a post waits before it is made (an attempt that cannot report yet).
    bool held = false;
    void hold_posts() {
        std::lock_guard lock(mutex);
        held = true;
    }
    void release_posts() {
        std::lock_guard lock(mutex);
        held = false;
        cv.notify_all();
    }
    void PostToSelf(unsigned id, intptr_t w) override {
        {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return !held; });
            to_self.push_back({id, w});
            cv.notify_all();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(linger_after_post_ms.load()));
    }
    // Messages posted and not yet taken.
    size_t waiting_self() {
        std::lock_guard lock(mutex);
        return to_self.size();
    }
    std::optional<std::pair<unsigned, intptr_t>> wait_self(int timeout_ms = 10000) {
        std::unique_lock lock(mutex);
        if (!cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !to_self.empty(); }))
            return std::nullopt;
        auto m = to_self.front();
        to_self.erase(to_self.begin());
        return m;
    }
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
        return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return count_locked(type) >= count; });
    }
    int count(uint16_t type) {
        std::lock_guard lock(mutex);
        return count_locked(type);
    }
    // A copy of packet i: the link thread may be adding the next one meanwhile.
    Got at(size_t i) {
        std::lock_guard lock(mutex);
        return got.at(i);
    }

private:
    int count_locked(uint16_t type) const {
        int n = 0;
        for (auto& g : got)
            n += g.type == type;
        return n;
    }
};

struct MessageLogDouble : IMessageLog {
    Journal& j;
    explicit MessageLogDouble(Journal& journal) : j(journal) {}
    std::vector<std::string> notices; // as UTF-8
    std::vector<const ChatLogEntry*> chats;
    bool detail = false;
    void AddNoticeLine(const std::string& text) override {
        notices.push_back(gbk_to_utf8(text));
        j.push_back("notice " + notices.back());
    }
    void AddDebugLine(const std::string& text) override { j.push_back("debug " + gbk_to_utf8(text)); }
    void AppendChatLine(const ChatLogEntry* e) override {
        chats.push_back(e);
        j.push_back("chat line");
    }
    void OnChatLine(const IncomingChatLine& line) override {
        j.push_back("chat from " + std::to_string(line.sender) + ": " + line.text);
    }
    void AddSystemText(const std::string& text) override { j.push_back("system " + text); }
    bool DetailOn() override { return detail; }
};

// Writes every roster change into the journal, as the user list would repaint.
struct RosterViewDouble : IRosterView {
    Journal& j;
    explicit RosterViewDouble(Journal& journal) : j(journal) {}
    void OnUserAdded(UserRecord& r) override { j.push_back("added " + std::to_string(r.block.user_id)); }
    void OnUserRemoved(uint32_t id, size_t) override { j.push_back("removed " + std::to_string(id)); }
    void OnUserChanged(UserRecord& r) override { j.push_back("changed " + std::to_string(r.block.user_id)); }
    void OnRosterCleared() override { j.push_back("cleared"); }
};

// The link without a socket: what is sent is kept, the connection is a flag.
struct TransportDouble : ILinkTransport {
    struct Sent {
        uint16_t type;
        proto::Bytes payload;
    };
    std::vector<Sent> sent;
    bool up = true;
    int connects = 0;
    bool connect_ok = true;
    void set_handler(server_event_handler*) override {}
    bool init() override { return true; }
    bool changeip(uint32_t, uint16_t) override {
        ++connects;
        up = connect_ok;
        return up;
    }
    bool connected() const override { return up; }
    bool send(uint16_t type, const uint8_t* p, size_t n) override {
        if (!up)
            return false;
        sent.push_back({type, proto::Bytes(p, p + n)});
        return true;
    }
    void close_socket() override { up = false; }
    void close() override { up = false; }
    std::vector<uint16_t> types() const {
        std::vector<uint16_t> t;
        for (auto& x : sent)
            t.push_back(x.type);
        return t;
    }
};

struct StatusBarDouble : IStatusBar {
    Journal& j;
    explicit StatusBarDouble(Journal& journal) : j(journal) {}
    bool muted = false;
    int count = 0;
    std::vector<int> selected;
    bool IsOutputMuted() override { return muted; }
    void SetRecordingDevice(int id) override { selected.push_back(id); }
    std::vector<int> playback_selected;
    void SetPlaybackDevice(int id) override { playback_selected.push_back(id); }
    int UserCount() override { return count; }
    void SetUserCount(int c) override { count = c; }
    void ShowUserCount() override { j.push_back("count " + std::to_string(count)); }
    void ShowHost(const std::string& n) override { j.push_back("host " + gbk_to_utf8(n)); }
    std::vector<std::string> link_states;
    void ShowLinkState(const std::string& t) override { link_states.push_back(gbk_to_utf8(t)); }
    // Hooked up by controller tests to request 7, as the real status bar does.
    std::function<void()> on_toggle;
    void ShowMicrophoneState(bool on) override {
        j.push_back(on ? "status microphone on" : "status microphone off");
    }
    void ToggleMicrophone() override {
        j.push_back("status toggle microphone");
        if (on_toggle)
            on_toggle();
    }
    void SelectMic() override { j.push_back("select mic"); }
    void SetMute(int line, bool mute) override {
        j.push_back("mute " + std::to_string(line) + (mute ? " on" : " off"));
    }
};

struct ChatInputDouble : IChatInput {
    Journal& j;
    explicit ChatInputDouble(Journal& journal) : j(journal) {}
    int resets = 0;
    void ResetRecipients() override {
        ++resets;
        j.push_back("reset recipients");
    }
    void AddRecipient(uint32_t, const std::string& n) override { j.push_back("recipient " + gbk_to_utf8(n)); }
    void OnUserLeft(uint32_t id) override { j.push_back("user left " + std::to_string(id)); }
};

struct VideoDouble : IVideoRegistry {
    Journal& j;
    explicit VideoDouble(Journal& journal) : j(journal) {}
    std::vector<std::pair<uint32_t, uint32_t>> assigned, released;
    int release_all = 0;
    bool can_assign = true;
    bool AssignWindow(uint32_t u, uint32_t r, const proto::UserBlock&) override {
        assigned.push_back({u, r});
        return can_assign;
    }
    bool ReleaseWindow(uint32_t u, uint32_t r) override {
        released.push_back({u, r});
        j.push_back("release window " + std::to_string(u) + "/" + std::to_string(r));
        return true;
    }
    void ReleaseAll() override {
        ++release_all;
        j.push_back("release all");
    }
    void OnRecvVideo(const uint8_t*, size_t length) override {
        j.push_back("video " + std::to_string(length));
    }
};

struct MediaDouble : IMediaPanel {
    Journal& j;
    explicit MediaDouble(Journal& journal) : j(journal) {}
    bool present = false, switch_ok = true, echo_problem = false;
    bool CameraPresent() override { return present; }
    bool SwitchCamera(bool on, int id) override {
        j.push_back(std::string("switch camera ") + (on ? "on " : "off ") + std::to_string(id));
        return switch_ok;
    }
    void SetVideoWanted(bool w) override { j.push_back(std::string("video wanted ") + (w ? "1" : "0")); }
    bool ProbeEchoCancellation() override { return echo_problem; }
};

struct SoundDouble : ISound {
    Journal& j;
    explicit SoundDouble(Journal& journal) : j(journal) {}
    void PlayAsync(const std::string& path) override {
        j.push_back("play " + path.substr(path.rfind("/sound/")));
    }
};

struct DialogsDouble : IDeviceDialogs {
    bool ok = true;
    int record = 0, play = 0, camera = 0;
    bool RunAudioSetup(int& r, int& p) override {
        r = record;
        p = play;
        return ok;
    }
    bool RunVideoSetup(int& c) override {
        c = camera;
        return ok;
    }
};

using ActionsDouble = RecordingActions;

// All panel doubles on one journal.
struct PanelDoubles {
    Journal journal;
    MessageLogDouble log{journal};
    RosterViewDouble roster_view{journal};
    StatusBarDouble status{journal};
    ChatInputDouble chat{journal};
    VideoDouble video{journal};
    MediaDouble media{journal};
    SoundDouble sound{journal};
    DialogsDouble dialogs;
    Panels panels() {
        Panels p;
        p.message_log = &log;
        p.status_bar = &status;
        p.chat_input = &chat;
        p.video = &video;
        p.media = &media;
        p.sound = &sound;
        p.dialogs = &dialogs;
        return p;
    }
};
