// The node's Redis runs on a thread of its own: a caller on the I/O thread never waits, answers come back in
// the order the jobs were queued, and a Redis that hangs costs each waiting job its deadline, not a round
// trip each. Against a real redis-server, paused with SIGSTOP.
#include <gtest/gtest.h>

#include <asio.hpp>

#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "cluster/store.h"
#include "cluster_env.h"

using cluster::AsyncStore;
using cluster::Reply;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Runs the I/O context until `done` holds or the time is up.
template <typename Fn> bool run_until(asio::io_context& io, int ms, Fn done) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < end) {
        io.restart();
        io.run_for(std::chrono::milliseconds(10));
    }
    return done();
}

} // namespace

TEST(ClusterStore, JobsAnswerInOrderAndAHangingRedisNeverHoldsTheCaller) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    asio::io_context io;
    AsyncStore store(io, "127.0.0.1", env.redis_port(), 300);
    store.start();

    // In order, each answered once.
    std::vector<long long> counts;
    for (int i = 0; i < 200; ++i)
        store.run(
            {{"INCR", "counter"}},
            [&](AsyncStore::Replies r) { counts.push_back(r && !r->empty() ? r->front().integer : -1); },
            5000);
    ASSERT_TRUE(run_until(io, 10000, [&] { return counts.size() == 200; }));
    for (size_t i = 0; i < counts.size(); ++i)
        ASSERT_EQ(counts[i], static_cast<long long>(i + 1)) << "answer " << i;
    EXPECT_TRUE(store.up());

    // Redis hangs: queuing costs the caller nothing, every job is answered with nothing by its deadline,
    // and jobs that waited past theirs are not sent at all (20 of them do not cost 20 time limits).
    env.pause_redis();
    int answered = 0, empty = 0;
    const auto queued = Clock::now();
    for (int i = 0; i < 20; ++i)
        store.run(
            {{"INCR", "counter"}},
            [&](AsyncStore::Replies r) {
                ++answered;
                empty += !r;
            },
            600);
    std::printf("20 jobs queued in %.3f s\n", seconds_since(queued));
    ASSERT_TRUE(run_until(io, 30000, [&] { return answered == 20; }));
    EXPECT_EQ(empty, 20);
    // Each job waited for its deadline from when it was queued, not for a round trip of its own after the one
    // before: the count below shows that only one of them was sent.
    std::printf("all 20 answered with nothing %.3f s after they were queued (deadline 0.6 s)\n",
                seconds_since(queued));
    EXPECT_FALSE(store.up());
    // The same for a caller that waits on purpose (a node that ends), bounded by its own limit (without it
    // the call would wait for Redis, which stays paused, and hang the test).
    const auto waited = Clock::now();
    EXPECT_FALSE(store.run_and_wait({{"PING"}}, 700));
    std::printf("a waiting caller got nothing after %.3f s (limit 0.7 s)\n", seconds_since(waited));

    // Redis answers again: so does the store. Of the jobs that hung, only one reached Redis (sent before its
    // time limit ran out, done once Redis goes on); the others were never sent.
    env.resume_redis();
    std::optional<long long> value;
    ASSERT_TRUE(run_until(io, 10000, [&] {
        if (!value)
            store.run(
                {{"GET", "counter"}},
                [&](AsyncStore::Replies r) {
                    if (r && r->front().type == Reply::String)
                        value = std::stoll(r->front().str);
                },
                1000);
        io.restart();
        io.run_for(std::chrono::milliseconds(200));
        return value.has_value();
    }));
    EXPECT_GE(*value, 200);
    EXPECT_LE(*value, 202);
    EXPECT_TRUE(store.up());

    // Queuing never waits for Redis, even with a connection that would wait an hour for an answer: a caller
    // that waited for the hanging Redis would hang the test.
    env.pause_redis();
    {
        AsyncStore patient(io, "127.0.0.1", env.redis_port(), 3600 * 1000);
        patient.start();
        int got = 0;
        for (int i = 0; i < 20; ++i)
            patient.run(
                {{"PING"}}, [&](AsyncStore::Replies) { ++got; }, 3600 * 1000);
        env.resume_redis();
        ASSERT_TRUE(run_until(io, 30000, [&] { return got == 20; })) << "answered once Redis goes on";
    }
}
