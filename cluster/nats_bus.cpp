// NATS connection (see nats_bus.h).
#include "cluster/nats_bus.h"

#include <nats/nats.h>

namespace cluster {
namespace {

struct SubClosure {
    std::shared_ptr<NatsBus::State> state;
    uint64_t id;
};

void on_message(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
    auto* c = static_cast<SubClosure*>(closure);
    std::string subject = natsMsg_GetSubject(msg);
    const char* data = natsMsg_GetData(msg);
    const int len = natsMsg_GetDataLength(msg);
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(data),
                               reinterpret_cast<const uint8_t*>(data) + (len > 0 ? len : 0));
    natsMsg_Destroy(msg);
    auto state = c->state;
    if (!state->alive)
        return;
    asio::post(*state->io,
               [state, id = c->id, subject = std::move(subject), bytes = std::move(bytes)]() mutable {
                   if (!state->alive)
                       return;
                   auto h = state->handlers.find(id);
                   if (h != state->handlers.end())
                       h->second(subject, std::move(bytes));
               });
}

// The subscription is finished: no more calls with this closure.
void on_complete(void* closure) {
    delete static_cast<SubClosure*>(closure);
}

void post_state(void* closure, bool up) {
    auto state = *static_cast<std::shared_ptr<NatsBus::State>*>(closure);
    state->connected = up;
    if (!state->alive)
        return;
    asio::post(*state->io, [state, up] {
        if (state->alive && state->on_state)
            state->on_state(up);
    });
}

void on_connected(natsConnection*, void* closure) {
    post_state(closure, true);
}
void on_disconnected(natsConnection*, void* closure) {
    post_state(closure, false);
}

} // namespace

NatsBus::NatsBus(asio::io_context& io, std::string url, std::string name)
    : io_(io), url_(std::move(url)), name_(std::move(name)), state_(std::make_shared<State>()) {
    state_->io = &io_;
}

NatsBus::~NatsBus() {
    state_->alive = false;
    for (auto& [id, s] : subs_) {
        natsSubscription_Unsubscribe(s.sub);
        natsSubscription_Destroy(s.sub);
    }
    if (conn_) {
        natsConnection_Close(conn_);
        natsConnection_Destroy(conn_);
    }
    delete conn_closure_; // the connection's callbacks have ended with its destruction
}

bool NatsBus::start(std::string* error) {
    natsOptions* opts = nullptr;
    auto fail = [&](const std::string& what, natsStatus s) {
        if (error)
            *error = what + ": " + natsStatus_GetText(s);
        if (opts)
            natsOptions_Destroy(opts);
        return false;
    };
    natsStatus s = natsOptions_Create(&opts);
    if (s != NATS_OK)
        return fail("NATS options", s);
    conn_closure_ = new std::shared_ptr<State>(state_);
    s = natsOptions_SetURL(opts, url_.c_str());
    if (s == NATS_OK)
        s = natsOptions_SetName(opts, name_.c_str());
    // Our own messages never come back to us: a node delivers to its own users directly.
    if (s == NATS_OK)
        s = natsOptions_SetNoEcho(opts, true);
    if (s == NATS_OK)
        s = natsOptions_SetAllowReconnect(opts, true);
    if (s == NATS_OK)
        s = natsOptions_SetMaxReconnect(opts, -1);
    if (s == NATS_OK)
        s = natsOptions_SetReconnectWait(opts, 250);
    if (s == NATS_OK)
        s = natsOptions_SetTimeout(opts, 1000);
    // A dead server is noticed within about two seconds.
    if (s == NATS_OK)
        s = natsOptions_SetPingInterval(opts, 1000);
    if (s == NATS_OK)
        s = natsOptions_SetMaxPingsOut(opts, 2);
    // Messages published while the connection is being made again wait, up to 8 MB.
    if (s == NATS_OK)
        s = natsOptions_SetReconnectBufSize(opts, 8 * 1024 * 1024);
    // One delivery thread for every subscription keeps the order of arrival across them.
    if (s == NATS_OK)
        s = natsOptions_UseGlobalMessageDelivery(opts, true);
    if (s == NATS_OK)
        s = natsOptions_SetDisconnectedCB(opts, on_disconnected, conn_closure_);
    if (s == NATS_OK)
        s = natsOptions_SetReconnectedCB(opts, on_connected, conn_closure_);
    if (s == NATS_OK)
        s = natsOptions_SetRetryOnFailedConnect(opts, true, on_connected, conn_closure_);
    if (s != NATS_OK)
        return fail("NATS options", s);
    s = natsConnection_Connect(&conn_, opts);
    natsOptions_Destroy(opts);
    opts = nullptr;
    if (s == NATS_OK) {
        state_->connected = true;
        return true;
    }
    if (s == NATS_NOT_YET_CONNECTED)
        return true; // the client goes on trying
    conn_ = nullptr;
    return fail("NATS connection to " + url_, s);
}

bool NatsBus::publish(const std::string& subject, const uint8_t* data, size_t size) {
    if (!conn_ || size > max_payload())
        return false;
    return natsConnection_Publish(conn_, subject.c_str(), data, int(size)) == NATS_OK;
}

uint64_t NatsBus::subscribe(const std::string& subject, Handler handler) {
    if (!conn_)
        return 0;
    const uint64_t id = next_id_++;
    auto* closure = new SubClosure{state_, id};
    natsSubscription* sub = nullptr;
    if (natsConnection_Subscribe(&sub, conn_, subject.c_str(), on_message, closure) != NATS_OK) {
        delete closure;
        return 0;
    }
    // A slow node drops the oldest messages rather than growing without bound.
    natsSubscription_SetPendingLimits(sub, 65536, 64 * 1024 * 1024);
    natsSubscription_SetOnCompleteCB(sub, on_complete, closure);
    state_->handlers[id] = std::move(handler);
    subs_[id] = Sub{sub, id};
    return id;
}

void NatsBus::unsubscribe(uint64_t id) {
    auto it = subs_.find(id);
    if (it == subs_.end())
        return;
    natsSubscription_Unsubscribe(it->second.sub);
    natsSubscription_Destroy(it->second.sub);
    subs_.erase(it);
    state_->handlers.erase(id);
}

size_t NatsBus::max_payload() const {
    const int64_t m = conn_ ? natsConnection_GetMaxPayload(conn_) : 0;
    return m > 0 ? size_t(m) : 1024 * 1024; // not connected yet: the server's default
}

NatsBus::Counts NatsBus::counts() const {
    Counts c;
    natsStatistics* stats = nullptr;
    if (conn_ && natsStatistics_Create(&stats) == NATS_OK) {
        if (natsConnection_GetStats(conn_, stats) == NATS_OK)
            natsStatistics_GetCounts(stats, &c.in_msgs, &c.in_bytes, &c.out_msgs, &c.out_bytes,
                                     &c.reconnects);
        natsStatistics_Destroy(stats);
    }
    return c;
}

} // namespace cluster
