// The main dialog's link to the local service: finding or starting the service, the first connection and
// login, reconnecting after a lost link (off the UI thread, with back-off) and the shut-down. What the link
// carries (who logs in, the room, the panels) is the session's (session/session.h): the link asks it for the
// login and tells it when the room is gone. Plain C++: the window reaches it through ILinkHost and the
// network through ILinkTransport.
#pragma once

#include <cstdint>
#include <string>

#include "components/link_transport.h"
#include "session/reconnect.h"
#include "session/service_process.h"
#include "session/session.h"
#include "session/session_texts.h"

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

class ServiceLink {
public:
    ServiceLink(ILinkTransport& transport, ServiceProcess& service, ILinkHost& host, Session& session);
    ~ServiceLink();
    ServiceLink(const ServiceLink&) = delete;
    ServiceLink& operator=(const ServiceLink&) = delete;

    // Start-up: find or start the service on the settings' port, register the handler, initialise the
    // link. False when the link could not be initialised. With `service_in_background` and a user id, the
    // service is found or started by the first connection's background attempt instead (the window's start
    // never waits for the look through the processes and the start of another program).
    bool SetUp(server_event_handler* handler, bool service_in_background = false);
    // Start-up: connect in the background and log in when there is a user id; a service that cannot be
    // started and a connection that cannot be made are said in boxes (no retry).
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

    // The session's login packet for this window; false (nothing sent) when the key id is longer than 40
    // characters.
    bool SendLogin(bool reconnect);

    uint32_t service_address() const { return service_addr_; }

private:
    // Starts the next background attempt after the back-off's delay; `restart_service` stops our service and
    // starts it anew first (after a lost link); otherwise a link that is still up is kept (only the login is
    // sent again) and a closed one is made again.
    void ScheduleReconnect(bool restart_service, const char* state_format);
    void ScheduleAttempt(ReconnectBackoff& backoff, bool restart_service, const char* state_format);
    // On the reconnect worker: connects the transport to the service's port (learnt from the service when
    // it picks one). False when there is no port or no connection.
    bool ConnectToService(uint32_t addr);

    ILinkTransport& transport_;
    ServiceProcess& service_;
    ILinkHost& host_;
    Session& session_;
    uint32_t service_addr_ = 0; // network byte order
    bool ended_ = false;
    ReconnectBackoff backoff_;
    // A room server that restarts is back within about a second; one that stays down is asked for less and
    // less often: waits of 1, 1, 1, 2, 2, 2, 4, ... seconds up to 30.
    ReconnectBackoff room_backoff_{ReconnectBackoff::kMaxDelayMs, 3};
    DelayedJob reconnect_job_;
    // UI-thread state: an attempt was started and its outcome (kReconnectDone) has not been handled yet; and
    // a loss of the link was reported meanwhile.
    bool attempt_pending_ = false;
    // The first connection's attempt finds or starts the service (SetUp with the service in the background).
    bool start_service_first_ = false;
    bool loss_during_attempt_ = false;
};
