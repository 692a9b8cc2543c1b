// Failover of a room server cluster: three nodes on this machine (with their own nats-server and
// redis-server), one room of 30 users spread over them, the room's home killed (kill -9). Measures the time
// from the kill until every user is back in the room with the full roster, and checks that every chat line
// sent after that arrives. Three rounds; prints each and the median.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "cluster_env.h"
#include "room_user.h"

namespace {

constexpr int kUsers = 30;
constexpr uint32_t kRoom = 300;

// One round; the seconds until everybody is back, or a negative number when the room did not recover.
double round_once(int* lost_lines) {
    ClusterEnv env;
    if (!env.ready())
        return -1;
    const std::vector<std::string> names{"a", "b", "c"};
    for (const std::string& n : names)
        env.start_node(n);
    std::vector<std::unique_ptr<User>> users;
    std::vector<User*> all;
    for (int i = 0; i < kUsers; ++i) {
        auto u = std::make_unique<User>();
        u->id = uint32_t(1 + i);
        if (u->login(env.node(names[size_t(i) % 3]).port(), kRoom) != 0)
            return -1;
        all.push_back(u.get());
        users.push_back(std::move(u));
    }
    auto full = [&] {
        for (User* u : all)
            if (u->roster.size() != all.size() - 1)
                return false;
        return true;
    };
    if (!until(all, 20000, full))
        return -1;
    // The first user logged in at a: the room is homed there.
    const auto killed = Clock::now();
    env.kill_node("a");
    std::vector<User*> orphans;
    for (int i = 0; i < kUsers; i += 3)
        orphans.push_back(all[size_t(i)]);
    // Their services notice the broken link and log in at the next node at once (with their sessions'
    // tokens), then every 200 ms.
    for (size_t k = 0; k < orphans.size(); ++k) {
        User* u = orphans[k];
        u->peer.wait_closed(5000);
        const uint16_t port = env.node(k % 2 ? "c" : "b").port();
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < end && u->login(port, kRoom, proto::Login::kReconnectFlag, u->token) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (!until(all, 20000, full))
        return -1;
    const double seconds = std::chrono::duration<double>(Clock::now() - killed).count();
    // Chat after the recovery: every line to everybody.
    for (size_t k = 0; k < 5; ++k)
        all[k * 5]->say("after " + std::to_string(k));
    until(all, 5000, [&] {
        for (User* to : all)
            for (size_t k = 0; k < 5; ++k)
                if (to != all[k * 5] && !to->heard(all[k * 5]->id, "after " + std::to_string(k)))
                    return false;
        return true;
    });
    *lost_lines = 0;
    for (User* to : all)
        for (size_t k = 0; k < 5; ++k)
            if (to != all[k * 5] && !to->heard(all[k * 5]->id, "after " + std::to_string(k)))
                ++*lost_lines;
    return seconds;
}

} // namespace

int main() {
    std::printf("== cluster failover: 3 nodes, one room of %d users over them, its home killed (kill -9)\n",
                kUsers);
    std::vector<double> times;
    for (int r = 0; r < 3; ++r) {
        int lost = -1;
        const double s = round_once(&lost);
        if (s < 0) {
            std::printf("  round %d: the room did not recover\n", r + 1);
            continue;
        }
        std::printf(
            "  round %d: every user back with the full roster after %.2f s; chat lines lost after it: %d\n",
            r + 1, s, lost);
        times.push_back(s);
    }
    if (times.empty())
        return 1;
    std::sort(times.begin(), times.end());
    std::printf("failover time median %.2f s (goal under 5 s)\n", times[times.size() / 2]);
    return 0;
}
