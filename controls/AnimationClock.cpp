// The animation clock (see AnimationClock.h).
#include "controls/AnimationClock.h"

#include <QTimerEvent>

#include <algorithm>

#include "platform/thread_rule.h"

AnimationClock& AnimationClock::Shared() {
    // Never destroyed: controls may unsubscribe while the program ends.
    static AnimationClock* clock = new AnimationClock;
    return *clock;
}

AnimationClock::AnimationClock() {
    clock_.start();
}

void AnimationClock::Subscribe(Listener* listener) {
    ASSERT_UI_THREAD();
    if (!subscribed(listener))
        listeners_.push_back(listener);
    if (!timer_.isActive())
        timer_.start(kTickMs, this);
}

void AnimationClock::Unsubscribe(Listener* listener) {
    ASSERT_UI_THREAD();
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    if (listeners_.empty())
        timer_.stop();
}

bool AnimationClock::subscribed(const Listener* listener) const {
    return std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end();
}

void AnimationClock::timerEvent(QTimerEvent* e) {
    if (e->timerId() != timer_.timerId()) {
        QObject::timerEvent(e);
        return;
    }
    ++ticks_;
    const qint64 now = clock_.elapsed();
    // A copy: a listener may subscribe or unsubscribe (itself or another) during its tick.
    const std::vector<Listener*> listeners = listeners_;
    for (Listener* l : listeners)
        if (subscribed(l))
            l->OnAnimationTick(now);
}
