// Private window messages: (id, wParam, lParam) posted to a window from any thread and delivered on the UI
// thread in posting order. Every window dispatches its ids in one on_message switch.
#pragma once

#include <QEvent>

#include <cstdint>
#include <memory>

class QObject;

namespace platform {

// What a window implements to receive posted messages; call dispatch_message() from its event().
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void on_message(unsigned id, intptr_t wparam, intptr_t lparam) = 0;
};

class MessageEvent : public QEvent {
public:
    static QEvent::Type type();
    MessageEvent(unsigned id, intptr_t wparam, intptr_t lparam, std::shared_ptr<void> payload)
        : QEvent(type()), id(id), wparam(wparam), lparam(lparam), payload(std::move(payload)) {}
    const unsigned id;
    const intptr_t wparam;
    const intptr_t lparam;
    // Data that lParam points to, owned by the event so that a message dropped with its window leaks nothing.
    const std::shared_ptr<void> payload;
};

// Thread-safe. The target must be a QObject that also implements MessageTarget.
void post_message(QObject* target, unsigned id, intptr_t wparam, intptr_t lparam);

// Posts with lParam pointing at `payload`, which lives until the handler has returned.
void post_message(QObject* target, unsigned id, intptr_t wparam, std::shared_ptr<void> payload);

// Posts with wParam pointing at `payload`, which lives until the handler has returned.
void post_message(QObject* target, unsigned id, std::shared_ptr<void> payload, intptr_t lparam);

// For a window's event(): runs on_message for a MessageEvent and returns true; false for other events.
bool dispatch_message(QEvent* event, MessageTarget& target);

} // namespace platform
