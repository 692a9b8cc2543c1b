// The main dialog's link to the local service: finding or starting the service, the first connection and
// login, reconnecting after a lost link (off the UI thread, with back-off), the shut-down, and the call_back
// interface of the panels with its request table. Plain C++: the window reaches it through ILinkHost, the
// panels through their interfaces, and the network through ILinkTransport.
#pragma once

#include <cstdint>
#include <string>

#include "components/link_transport.h"
#include "config/client_config.h"
#include "session/call_back.h"
#include "session/panels.h"
#include "session/reconnect.h"
#include "session/roster.h"
#include "session/service_process.h"
#include "session/session_texts.h"

// Who the client is in the room, from the launch string.
struct SessionIdentity {
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    int64_t timestamp = 0;
    std::string key_id; // hexadecimal text
    int app_type = 2;
};

// What the link needs of its window.
class ILinkHost {
public:
    virtual ~ILinkHost() = default;
    // A message box now (start-up only). `error`: the error icon, otherwise the information icon.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption, bool error) = 0;
    // Message 1047 to the window itself: a message box once the window runs and the current dispatch has
    // returned. An empty caption means none.
    virtual void PostMessageBox(const std::string& text, const std::string& caption) = 0;
    // A message to the window itself, from any thread (the outcome of a background reconnect attempt).
    virtual void PostToSelf(unsigned id, intptr_t wparam) = 0;
    virtual uint32_t WindowHandle() = 0;
};

// Login results with a meaning for the link.
namespace login_result {
constexpr uint32_t kOk = 0;
// The same user logged in elsewhere; the room pushed this session out. Never reconnected.
constexpr uint32_t kLoggedInElsewhere = 5;
// The service could not reach the room server; retried with back-off.
constexpr uint32_t kRoomUnreachable = 6;
// The host removed this user from the class. Never reconnected.
constexpr uint32_t kRemoved = 7;
} // namespace login_result

class ServiceLink : public call_back {
public:
    ServiceLink(ILinkTransport& link, ServiceProcess& service, ILinkHost& host);
    ~ServiceLink() override;

    void set_identity(const SessionIdentity& id) { identity_ = id; }
    const SessionIdentity& identity() const { return identity_; }
    void set_settings(const ClientSettings& s, const std::string& settings_file);
    ClientSettings& settings() { return settings_; }
    void set_panels(const Panels& p) { panels_ = p; }
    void set_actions(ISessionActions* a) { actions_ = a; }
    Roster& roster() { return roster_; }

    // Start-up: find or start the service, register the handler, initialise the link. False when the link
    // could not be initialised.
    bool SetUp(server_event_handler* handler);
    // Start-up: connect in the background and log in when there is a user id; a connection that cannot be
    // made is said in a box (no retry).
    void ConnectFirstTime();
    // Message 1046: the link was lost. Empties the room and starts a reconnect attempt in the background;
    // while one is under way the loss is remembered, and the attempt's outcome decides what comes next.
    void Reconnect();
    // The outcome of a background attempt (message kReconnectDone, wParam the outcome bits below), on the UI
    // thread: logs in again with the reconnect flag, or schedules the next attempt.
    void OnReconnectDone(intptr_t outcome);
    // Bits of the outcome.
    static constexpr intptr_t kConnectedBit = 1;
    static constexpr intptr_t kServiceStartFailedBit = 2;
    static constexpr intptr_t kFirstConnectBit = 4;
    // A login result arrived. Success resets the back-off; "room server unreachable" schedules another try.
    // True when the failure is being retried (no box for it).
    bool OnLoginResult(uint32_t result);
    // An attempt waits or runs and has not reported yet.
    bool reconnecting() const { return attempt_pending_; }
    // The room ended this session for good (removed, or pushed out by another login): a lost link that
    // follows is not reconnected.
    bool ended() const { return ended_; }
    int reconnect_attempts() const { return backoff_.attempts() + room_backoff_.attempts(); }
    // Window destruction: stop a pending attempt, close the link, free the logging, stop a service we
    // started.
    void ShutDown();

    // The login packet; false (nothing sent) when the key id is longer than 40 characters.
    bool SendLogin(bool reconnect);

    bool microphone_on() const { return microphone_on_; }
    void set_microphone_on(bool on) { microphone_on_ = on; }
    bool camera_on() const { return camera_on_; }
    void set_camera_on(bool on) { camera_on_ = on; }
    uint32_t service_address() const { return service_addr_; }
    ILinkTransport& link() { return link_; }
    const Panels& panels() const { return panels_; }

    // Stores a device id and writes it to the settings file; the sound devices also reach the status bar.
    void SaveDeviceSetting(int device, int id);

    // call_back
    int request(int type, void* data, int length) override;
    bool Send(uint16_t type, const proto::Bytes& payload) override;

private:
    bool SelfHasRights(uint32_t mask);
    void Notice(const char* utf8);
    void LinkState(const std::string& utf8);
    void EmptyRoom();
    // Starts the next background attempt after the back-off's delay; `restart_service` stops our service and
    // starts it anew first (after a lost link); otherwise a link that is still up is kept (only the login is
    // sent again) and a closed one is made again.
    void ScheduleReconnect(bool restart_service, const char* state_format);
    void ScheduleAttempt(ReconnectBackoff& backoff, bool restart_service, const char* state_format);

    ILinkTransport& link_;
    ServiceProcess& service_;
    ILinkHost& host_;
    SessionIdentity identity_;
    ClientSettings settings_;
    std::string settings_file_;
    Panels panels_;
    Roster roster_;
    ISessionActions* actions_ = nullptr;
    uint32_t service_addr_ = 0; // network byte order
    bool microphone_on_ = false;
    bool camera_on_ = false;
    bool ended_ = false;
    ReconnectBackoff backoff_;
    // A room server that restarts is back within about a second; one that stays down is asked for less and
    // less often: waits of 1, 1, 1, 2, 2, 2, 4, ... seconds up to 30.
    ReconnectBackoff room_backoff_{ReconnectBackoff::kMaxDelayMs, 3};
    DelayedJob reconnect_job_;
    // UI-thread state: an attempt was started and its outcome (kReconnectDone) has not been handled yet; and
    // a loss of the link was reported meanwhile.
    bool attempt_pending_ = false;
    bool loss_during_attempt_ = false;
};
