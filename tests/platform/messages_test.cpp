// Posted messages: delivered on the UI thread, in posting order, also when posted from other threads.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <memory>
#include <thread>
#include <vector>

#include "platform/messages.h"

namespace {

class Recorder : public QObject, public platform::MessageTarget {
public:
    struct Msg {
        unsigned id;
        intptr_t w, l;
        bool on_ui_thread;
    };
    std::vector<Msg> got;
    std::string payload_seen;
    void on_message(unsigned id, intptr_t w, intptr_t l) override {
        got.push_back({id, w, l, QThread::currentThread() == QCoreApplication::instance()->thread()});
        if (id == 1047)
            payload_seen = *reinterpret_cast<const std::string*>(l);
    }
    bool event(QEvent* e) override { return platform::dispatch_message(e, *this) || QObject::event(e); }
};

void drain() {
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(Messages, PostedFromAnotherThreadArriveInOrderOnTheUiThread) {
    Recorder r;
    std::thread t([&r] {
        for (int i = 0; i < 500; ++i)
            platform::post_message(&r, 2000 + (i % 3), i, -i);
    });
    t.join();
    drain();
    ASSERT_EQ(r.got.size(), 500u);
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(r.got[i].id, unsigned(2000 + (i % 3)));
        EXPECT_EQ(r.got[i].w, i);
        EXPECT_EQ(r.got[i].l, -i);
        EXPECT_TRUE(r.got[i].on_ui_thread);
    }
}

TEST(Messages, PayloadLivesUntilHandledAndIsFreedWithAnUndeliveredMessage) {
    auto text = std::make_shared<std::string>("无法连接到服务程序");
    std::weak_ptr<std::string> watch = text;
    {
        Recorder r;
        platform::post_message(&r, 1047, 0, std::shared_ptr<void>(text));
        text.reset();
        ASSERT_FALSE(watch.expired());
        drain();
        EXPECT_EQ(r.payload_seen, "无法连接到服务程序");
    }
    EXPECT_TRUE(watch.expired());

    auto lost = std::make_shared<std::string>("never delivered");
    std::weak_ptr<std::string> watch_lost = lost;
    {
        Recorder r;
        platform::post_message(&r, 1047, 0, std::shared_ptr<void>(std::move(lost)));
    } // the window goes away before the event loop runs
    EXPECT_TRUE(watch_lost.expired());
}

TEST(Messages, NullTargetIsIgnoredAndItsPayloadFreed) {
    Recorder r;
    auto payload = std::make_shared<std::string>("for nobody");
    std::weak_ptr<std::string> watch = payload;
    platform::post_message(nullptr, 1, 0, 0);
    platform::post_message(nullptr, 2, 0, std::shared_ptr<void>(std::move(payload)));
    EXPECT_TRUE(watch.expired()) << "nothing holds a payload that has no receiver";
    platform::post_message(&r, 3, 0, 0);
    drain();
    ASSERT_EQ(r.got.size(), 1u) << "the messages for nobody went nowhere";
    EXPECT_EQ(r.got[0].id, 3u);
    drain();
}
