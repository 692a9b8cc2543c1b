// The one animation clock of the rich-text controls: one time base for every listener, a timer only while
// somebody listens, and listeners that come and go during a tick.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "controls/AnimationClock.h"
#include "eventually.h"

namespace {

struct Listener : AnimationClock::Listener {
    std::vector<qint64> ticks;
    std::function<void()> on_tick;
    void OnAnimationTick(qint64 elapsed_ms) override {
        ticks.push_back(elapsed_ms);
        if (on_tick)
            on_tick();
    }
};

} // namespace

TEST(AnimationClock, OneTimeBaseAndATimerOnlyWhileSomebodyListens) {
    AnimationClock clock;
    EXPECT_FALSE(clock.running());
    Listener a, b;
    clock.Subscribe(&a);
    clock.Subscribe(&a); // twice is once
    clock.Subscribe(&b);
    EXPECT_TRUE(clock.running());
    ASSERT_TRUE(eventually_with_events([&] { return b.ticks.size() >= 3; }));
    EXPECT_EQ(a.ticks, b.ticks) << "every listener sees the same moment, once per tick";
    for (size_t i = 1; i < a.ticks.size(); ++i)
        EXPECT_GE(a.ticks[i], a.ticks[i - 1]);

    clock.Unsubscribe(&a);
    EXPECT_TRUE(clock.running());
    clock.Unsubscribe(&b);
    EXPECT_FALSE(clock.running()) << "nobody listens: no timer";
    const int ticks = clock.ticks();
    clock.Unsubscribe(&b); // not subscribed: nothing happens
    EXPECT_FALSE(clock.subscribed(&b));
    EXPECT_EQ(clock.ticks(), ticks);
}

TEST(AnimationClock, ListenersMayLeaveDuringATick) {
    AnimationClock clock;
    Listener first, second;
    // The first listener's tick ends its own and the second's subscription: the second is not called for that
    // tick, and the clock stops.
    first.on_tick = [&] {
        clock.Unsubscribe(&first);
        clock.Unsubscribe(&second);
    };
    clock.Subscribe(&first);
    clock.Subscribe(&second);
    ASSERT_TRUE(eventually_with_events([&] { return !first.ticks.empty(); }));
    EXPECT_TRUE(second.ticks.empty());
    EXPECT_FALSE(clock.running());
    EXPECT_EQ(first.ticks.size(), 1u);
}
