// The link to the local service (see service_link.h).
#include "session/service_link.h"

#include <arpa/inet.h>

#include <cstdio>
#include <utility>

#include "components/log.h"
#include "config/logging.h"
#include "platform/message_ids.h"
#include "platform/thread_rule.h"

ServiceLink::ServiceLink(ILinkTransport& transport, ServiceProcess& service, ILinkHost& host,
                         Session& session)
    : transport_(transport), service_(service), host_(host), session_(session) {}

ServiceLink::~ServiceLink() {
    reconnect_job_.Cancel();
}

bool ServiceLink::SetUp(server_event_handler* handler, bool service_in_background) {
    service_.set_port(session_.settings().port);
    start_service_first_ = service_in_background && session_.identity().user_id != 0;
    if (!start_service_first_ && !service_.ensure_running())
        host_.ShowMessageBox(link_text::kServiceStartFailed, "", true);
    transport_.set_handler(handler);
    if (!transport_.init()) {
        host_.PostMessageBox(link_text::kInitNetFailed, "");
        return false;
    }
    service_addr_ = htonl(INADDR_LOOPBACK);
    return true;
}

void ServiceLink::ConnectFirstTime() {
    if (session_.identity().user_id == 0)
        return;
    // Off the UI thread like a reconnect: a service that was just started may take a moment to listen, and
    // the window shows meanwhile. The outcome comes back as kReconnectDone with the first-connect bit.
    const uint32_t addr = service_addr_;
    const bool start_service = std::exchange(start_service_first_, false);
    attempt_pending_ = true;
    reconnect_job_.Start(0, [this, addr, start_service] {
        intptr_t outcome = kFirstConnectBit;
        if (start_service && !service_.ensure_running())
            outcome |= kServiceStartFailedBit;
        if (ConnectToService(addr))
            outcome |= kConnectedBit;
        host_.PostToSelf(msg::kReconnectDone, outcome);
    });
}

bool ServiceLink::ConnectToService(uint32_t addr) {
    // A service that picks its port says which once it listens; the wait for that is here, off the UI
    // thread.
    const uint16_t port = service_.port();
    return port != 0 && transport_.changeip(addr, port);
}

void ServiceLink::Reconnect() {
    ASSERT_UI_THREAD();
    if (ended_) {
        // The room closed this seat on purpose and the user was told why: the room empties, nothing retries.
        transport_.close_socket();
        session_.EmptyRoom();
        return;
    }
    if (attempt_pending_) {
        // The attempt under way reports, and its outcome decides; the loss is kept for that moment.
        loss_during_attempt_ = true;
        return;
    }
    transport_.close_socket();
    session_.Notice(link_text::kLinkLost);
    session_.EmptyRoom();
    ScheduleReconnect(true, link_text::kRetryIn);
}

void ServiceLink::ScheduleReconnect(bool restart_service, const char* state_format) {
    ScheduleAttempt(backoff_, restart_service, state_format);
}

void ServiceLink::ScheduleAttempt(ReconnectBackoff& backoff, bool restart_service, const char* state_format) {
    const int delay_ms = backoff.NextDelayMs();
    if (delay_ms == 0) {
        session_.LinkState(link_text::kReconnecting);
    } else {
        char text[160];
        std::snprintf(text, sizeof text, state_format, delay_ms / 1000, backoff.attempts());
        session_.LinkState(text);
    }
    LOG_MAIN("reconnect attempt %d in %d ms\n", backoff.attempts(), delay_ms);
    const uint32_t addr = service_addr_;
    attempt_pending_ = true;
    reconnect_job_.Start(delay_ms, [this, restart_service, addr] {
        // Off the UI thread: waiting for the old service, starting a new one and connecting take seconds.
        intptr_t outcome = 0;
        if (restart_service) {
            service_.stop_service();
            if (!service_.find_service() && !service_.start_service())
                outcome |= kServiceStartFailedBit;
        }
        // Without a restart the link that is still up is kept, and only the login goes again.
        if ((!restart_service && transport_.connected()) || ConnectToService(addr))
            outcome |= kConnectedBit;
        host_.PostToSelf(msg::kReconnectDone, outcome);
    });
}

void ServiceLink::OnReconnectDone(intptr_t outcome) {
    ASSERT_UI_THREAD();
    attempt_pending_ = false;
    // A loss reported while the attempt ran: the link only reports the connection in use, so when the
    // connection is not up now, that loss is this one's, and it is handled as any lost link.
    const bool lost = std::exchange(loss_during_attempt_, false);
    const auto link_up = [&] { return (outcome & kConnectedBit) && transport_.connected(); };
    if (outcome & kFirstConnectBit) {
        if (outcome & kServiceStartFailedBit) {
            host_.ShowMessageBox(link_text::kServiceStartFailed, "", true);
            // The box had an event loop of its own: a loss reported meanwhile has been handled as any lost
            // link, and its attempt decides from here on.
            if (attempt_pending_)
                return;
        }
        if (link_up())
            SendLogin(false);
        else if (lost)
            Reconnect();
        else
            host_.PostMessageBox(std::string(link_text::kCannotConnect) + "\n", link_text::kCaption);
        return;
    }
    if (outcome & kServiceStartFailedBit)
        session_.Notice(link_text::kServiceStartFailed);
    if (link_up()) {
        session_.LinkState(link_text::kLoggingIn);
        SendLogin(true);
        return;
    }
    if (lost) {
        Reconnect();
        return;
    }
    session_.Notice(link_text::kCannotConnect);
    ScheduleReconnect(true, link_text::kRetryIn);
}

bool ServiceLink::OnLoginResult(uint32_t result) {
    ASSERT_UI_THREAD();
    if (result == login_result::kOk) {
        backoff_.Reset();
        room_backoff_.Reset();
        session_.LinkState("");
        return false;
    }
    if (result == login_result::kLoggedInElsewhere || result == login_result::kRemoved) {
        // The room closes the link right behind this result; that loss must not bring the user back.
        ended_ = true;
        return false;
    }
    if (result == login_result::kRoomUnreachable && session_.identity().user_id != 0) {
        // The service is fine; the room server behind it is not (yet). Try again later without a box, on the
        // same link: the service ends soon after its client leaves, so a closed link would lose it during
        // the longer waits and the next attempt would find no service at all.
        session_.EmptyRoom();
        if (!attempt_pending_)
            ScheduleAttempt(room_backoff_, false, link_text::kRoomUnreachable);
        return true;
    }
    return false;
}

void ServiceLink::ShutDown() {
    reconnect_job_.Cancel();
    transport_.close();
    log_free();
    service_.stop_service();
}

bool ServiceLink::SendLogin(bool reconnect) {
    return session_.SendLogin(reconnect, host_.WindowHandle());
}
