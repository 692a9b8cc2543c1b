// Posted private messages over Qt's event queue (postEvent keeps the order per receiver and priority).
#include "platform/messages.h"

#include <QCoreApplication>

namespace platform {

QEvent::Type MessageEvent::type() {
    static const QEvent::Type t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

void post_message(QObject* target, unsigned id, intptr_t wparam, intptr_t lparam) {
    if (target)
        QCoreApplication::postEvent(target, new MessageEvent(id, wparam, lparam, nullptr));
}

void post_message(QObject* target, unsigned id, intptr_t wparam, std::shared_ptr<void> payload) {
    if (target) {
        auto l = reinterpret_cast<intptr_t>(payload.get());
        QCoreApplication::postEvent(target, new MessageEvent(id, wparam, l, std::move(payload)));
    }
}

void post_message(QObject* target, unsigned id, std::shared_ptr<void> payload, intptr_t lparam) {
    if (target) {
        auto w = reinterpret_cast<intptr_t>(payload.get());
        QCoreApplication::postEvent(target, new MessageEvent(id, w, lparam, std::move(payload)));
    }
}

bool dispatch_message(QEvent* event, MessageTarget& target) {
    if (event->type() != MessageEvent::type())
        return false;
    auto* m = static_cast<MessageEvent*>(event);
    target.on_message(m->id, m->wparam, m->lparam);
    return true;
}

} // namespace platform
