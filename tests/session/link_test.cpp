// The service link against a real velmor and against a stand-in service, and its request table.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "components/log.h"
#include "eventually.h"
#include "link_doubles.h"
#include "platform/message_ids.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "reporting_process.h"
#include "room_peer.h"
#include "stand_in.h"
#include "temp_dir.h"
#include "wire/protocol.h"

namespace fs = std::filesystem;

namespace {

// An install folder with velmor copied under a name of its own, so parallel tests never find each other's.
// Its service listens on a port the system picks (port "any"), or on `port`.
class Install {
public:
    Install() : Install(kAnyServicePort) {}
    explicit Install(uint16_t port) : port_(port) {
        static int n = 0;
        name_ = "velmor-t" + std::to_string(getpid()) + "-" + std::to_string(++n);
        write_file(dir_.file("user.txt"),
                   "[network]\nport=" + (port ? std::to_string(port) : std::string(kAnyPortSetting)) + "\n");
    }
    void add_velmor() { fs::copy_file(std::string(QUORIN_INSTALL_DIR) + "/velmor", dir_.path() / name_); }
    void add_stubborn_service() {
        // It says when it ignores SIGTERM: a request to end sent before that would end it at once.
        write_file(dir_.file(name_),
                   "#!/bin/sh\ntrap '' TERM\n: > stubborn-ready\nwhile :; do sleep 1; done\n");
        fs::permissions(dir_.path() / name_, fs::perms::owner_all);
    }
    std::string folder() const { return dir_.path().string(); }
    std::string program() const { return folder() + "/" + name_; }
    const std::string& name() const { return name_; }
    uint16_t port() const { return port_; }
    ClientSettings settings() const {
        ClientSettings s;
        s.port = port_;
        return s;
    }

private:
    TempDir dir_;
    uint16_t port_;
    std::string name_;
};

struct Rig : PanelDoubles {
    explicit Rig(Install& install)
        : service(install.folder(), install.name()), session(client), link(client, service, host, session) {
        session.set_settings(install.settings(), install.folder() + "/user.txt");
        service.set_port(install.port());
        session.set_panels(panels());
        session.set_actions(&actions);
        session.roster().AddView(&roster_view);
    }
    // Message 1046 as the window runs it, then the background attempt's outcome back on this thread.
    intptr_t reconnect() {
        link.Reconnect();
        return finish_attempt();
    }
    // Start-up's connection, which runs in the background, and its outcome back on this thread.
    void connect_first() {
        link.ConnectFirstTime();
        if (session.identity().user_id != 0)
            finish_attempt();
    }
    intptr_t finish_attempt() {
        auto done = host.wait_self(15000);
        EXPECT_TRUE(done);
        if (!done)
            return -1;
        EXPECT_EQ(done->first, msg::kReconnectDone);
        link.OnReconnectDone(done->second);
        return done->second;
    }
    // The launch identity: user, room and key id.
    void identify(uint32_t user, uint32_t room = 0, const std::string& key = "") {
        SessionIdentity id;
        id.user_id = user;
        id.room_id = room;
        id.key_id = key;
        session.set_identity(id);
    }
    // The client's link thread calls the handler until the client is closed, so the handler (and what the
    // link tells) outlive the client: members go in reverse order.
    HostDouble host;
    HandlerDouble handler;
    ActionsDouble actions;
    tcpclient client;
    ServiceProcess service;
    Session session;
    ServiceLink link;
};

// User 12 in room 7 logged in to the stand-in service: the link set up, connected, and its login read.
void log_in(StandIn& service, Rig& rig) {
    rig.identify(12, 7);
    rig.link.SetUp(&rig.handler);
    rig.connect_first();
    ASSERT_TRUE(service.accept_and_read());
}

} // namespace

TEST(ServiceLink, StartsTheServiceLogsInAndStopsItAtShutDown) {
    Install install;
    install.add_velmor();
    Rig rig(install);
    rig.identify(12, 7, "ABCD");
    ASSERT_TRUE(rig.link.SetUp(&rig.handler));
    ASSERT_TRUE(rig.service.holds_process());
    const pid_t pid = rig.service.pid();
    rig.connect_first();
    EXPECT_TRUE(process_listens_on(pid, rig.service.port())) << "connected to the port the service reported";
    EXPECT_TRUE(rig.host.posted.empty()) << rig.host.posted[0];
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLoginResult));
    ASSERT_TRUE(rig.handler.wait_for(pkt::kMediaStart));
    const auto first = rig.handler.at(0);
    auto r = proto::LoginResult::decode(first.payload.data(), first.payload.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->result, 0u);
    EXPECT_TRUE(rig.session.request(kReqConnected, nullptr, 0));
    rig.link.ShutDown();
    EXPECT_FALSE(process_running(pid));
    EXPECT_EQ(rig.handler.count(pkt::kLinkLost), 0) << "our own close is not a lost link";
}

TEST(ServiceLink, TheServiceCanBeStartedByTheFirstConnectionsAttempt) {
    Install install;
    install.add_velmor();
    Rig rig(install);
    rig.identify(12, 7);
    ASSERT_TRUE(rig.link.SetUp(&rig.handler, true));
    EXPECT_FALSE(rig.service.holds_process()) << "nothing started before the first connection";
    rig.connect_first();
    ASSERT_TRUE(rig.service.holds_process());
    EXPECT_TRUE(rig.host.boxes.empty()) << rig.host.boxes[0];
    EXPECT_TRUE(rig.host.posted.empty()) << rig.host.posted[0];
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLoginResult));
    const pid_t pid = rig.service.pid();
    rig.link.ShutDown();
    EXPECT_FALSE(process_running(pid));

    // A service that cannot be started is said in the same box as at a start in the foreground, then the
    // connection that cannot be made.
    const ReservedPort closed;
    Install empty(closed.port());
    Rig other(empty);
    other.client.set_connect_timeout_ms(300);
    other.identify(12);
    ASSERT_TRUE(other.link.SetUp(&other.handler, true));
    EXPECT_TRUE(other.host.boxes.empty());
    other.connect_first();
    EXPECT_EQ(other.host.boxes, std::vector<std::string>{"程序加载失败，请重新执行安装程序！ (error)"});
    EXPECT_EQ(other.host.posted, std::vector<std::string>{"无法连接到服务程序，可能连接已被占用。\n [提示]"});
    other.link.ShutDown();
}

TEST(ServiceLink, ServiceThatDiesIsRestartedAndTheUserLoggedInAgain) {
    Install install;
    install.add_velmor();
    Rig rig(install);
    rig.identify(12, 7);
    rig.link.SetUp(&rig.handler);
    rig.connect_first();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLoginResult));
    const pid_t first = rig.service.pid();
    kill(first, SIGKILL);
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost));
    EXPECT_EQ(rig.reconnect(), ServiceLink::kConnectedBit);
    EXPECT_TRUE(rig.service.holds_process());
    EXPECT_NE(rig.service.pid(), first) << "a new service was started";
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLoginResult, 2)) << "logged in again";
    EXPECT_EQ(rig.handler.count(pkt::kLinkLost), 1);
    rig.link.ShutDown();
}

TEST(ServiceLink, NoUserIdNoConnection) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    ASSERT_TRUE(rig.link.SetUp(&rig.handler));
    EXPECT_EQ(rig.host.boxes, std::vector<std::string>{"程序加载失败，请重新执行安装程序！ (error)"});
    rig.connect_first();
    EXPECT_FALSE(rig.session.request(kReqConnected, nullptr, 0));
    rig.link.ShutDown();
}

TEST(ServiceLink, RefusedConnectionPostsTheMessage) {
    const ReservedPort closed;
    Install install(closed.port());
    Rig rig(install);
    rig.client.set_connect_timeout_ms(300);
    rig.identify(12);
    rig.link.SetUp(&rig.handler);
    rig.connect_first();
    EXPECT_EQ(rig.host.posted, std::vector<std::string>{"无法连接到服务程序，可能连接已被占用。\n [提示]"});
    rig.link.ShutDown();
}

TEST(ServiceLink, LostLinkIsReportedOnceAndTheReconnectLogsInWithFlag4) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    rig.identify(12, 7);
    rig.link.SetUp(&rig.handler);
    rig.session.set_microphone_on(true);
    rig.session.set_camera_on(true);
    rig.connect_first();
    auto first = service.accept_and_read();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->type, pkt::kLogin);
    EXPECT_EQ(proto::Login::decode(first->payload.data(), first->payload.size())->flags, 0u);
    EXPECT_EQ(proto::Login::decode(first->payload.data(), first->payload.size())->window, 0x4242u);

    service.drop();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost));

    {
        // The window does not wait for the attempt: the attempt cannot report while posts are held, so a
        // Reconnect() that waited for it would never return (and the test would end at its time-out).
        rig.host.hold_posts();
        struct Release {
            HostDouble& host;
            ~Release() { host.release_posts(); }
        } release{rig.host};
        rig.link.Reconnect();
    }
    service.accept_only();
    rig.finish_attempt();
    auto second = service.read(5000);
    ASSERT_TRUE(second);
    EXPECT_EQ(proto::Login::decode(second->payload.data(), second->payload.size())->flags, 4u);
    EXPECT_EQ(rig.handler.count(pkt::kLinkLost), 1)
        << "reported once, and not for the close before reconnecting";
    EXPECT_EQ(std::count(rig.journal.begin(), rig.journal.end(), "cleared"), 1);
    EXPECT_EQ(rig.chat.resets, 1);
    EXPECT_EQ(rig.video.release_all, 1);
    EXPECT_EQ(rig.status.count, 0);
    EXPECT_FALSE(rig.session.microphone_on());
    EXPECT_FALSE(rig.session.camera_on())
        << "the room forgot the camera: it stops, and media start brings it back";
    EXPECT_EQ(std::count(rig.journal.begin(), rig.journal.end(), "switch camera off -1"), 1);
    ASSERT_GE(rig.log.notices.size(), 2u);
    EXPECT_EQ(rig.log.notices[0], "与服务端断开连接，尝试重新连接...");
    EXPECT_EQ(rig.log.notices[1], "程序加载失败，请重新执行安装程序！");
    rig.link.ShutDown();
}

TEST(ServiceLink, FailedReconnectsBackOffAndSayWhy) {
    const ReservedPort closed;
    Install install(closed.port());
    Rig rig(install);
    rig.client.set_connect_timeout_ms(200);
    rig.link.SetUp(&rig.handler);
    EXPECT_EQ(rig.reconnect(), ServiceLink::kServiceStartFailedBit);
    EXPECT_EQ(rig.log.notices.back(), "无法连接到服务程序，可能连接已被占用。");
    EXPECT_FALSE(rig.session.request(kReqConnected, nullptr, 0));
    EXPECT_TRUE(rig.link.reconnecting()) << "another attempt is scheduled";
    EXPECT_EQ(rig.status.link_states,
              (std::vector<std::string>{"正在重新连接...", "连接已断开，1秒后重新连接（第2次）"}));
    rig.link.Reconnect(); // a lost link while an attempt waits starts nothing new
    EXPECT_EQ(rig.status.link_states.size(), 2u);
    const auto start = std::chrono::steady_clock::now();
    rig.link.ShutDown();
    std::printf("shut down in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    EXPECT_EQ(rig.host.waiting_self(), 0u) << "a waiting attempt is dropped at shut-down, not run";
}

// A job that waits for its delay is dropped at once when cancelled (a delay of an hour would otherwise hold
// the test), and one that runs is waited for.
TEST(DelayedJob, CancelDropsAWaitingJobAndWaitsForARunningOne) {
    std::atomic<int> ran{0};
    DelayedJob job;
    ASSERT_TRUE(job.Start(3600 * 1000, [&] { ++ran; }));
    EXPECT_TRUE(job.Busy());
    EXPECT_FALSE(job.Start(0, [&] { ++ran; })) << "one job at a time";
    job.Cancel();
    EXPECT_FALSE(job.Busy());
    EXPECT_EQ(ran, 0);

    std::atomic<bool> running{false}, go_on{false};
    ASSERT_TRUE(job.Start(0, [&] {
        running = true;
        while (!go_on)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++ran;
    }));
    ASSERT_TRUE(eventually([&] { return running.load(); }, 30000));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        go_on = true;
    });
    job.Cancel();
    EXPECT_EQ(ran, 1) << "the running job finished before Cancel() returned";
    release.join();
}

TEST(ServiceLink, LoginAfterReconnectResetsTheBackOff) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    ASSERT_NO_FATAL_FAILURE(log_in(service, rig));
    // A room server that cannot be reached: the service answers 6, and the link tries again without a box.
    EXPECT_TRUE(rig.link.OnLoginResult(login_result::kRoomUnreachable));
    EXPECT_TRUE(rig.host.posted.empty());
    // The login goes again through the same link: the service is fine.
    rig.finish_attempt();
    auto again = service.read(5000);
    ASSERT_TRUE(again);
    EXPECT_EQ(proto::Login::decode(again->payload.data(), again->payload.size())->flags, 4u);
    EXPECT_EQ(rig.link.reconnect_attempts(), 1);
    EXPECT_FALSE(rig.link.OnLoginResult(login_result::kOk));
    EXPECT_EQ(rig.link.reconnect_attempts(), 0);
    EXPECT_EQ(rig.status.link_states.back(), "");
    EXPECT_FALSE(rig.link.OnLoginResult(login_result::kLoggedInElsewhere)) << "never retried";
    rig.link.ShutDown();
}

TEST(ServiceLink, RoomServerThatStaysDownIsAskedForLessAndLessOften) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    ASSERT_NO_FATAL_FAILURE(log_in(service, rig));
    std::vector<std::string> waits;
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_TRUE(rig.link.OnLoginResult(login_result::kRoomUnreachable));
        waits.push_back(rig.status.link_states.back());
        rig.finish_attempt();
        ASSERT_TRUE(service.read(5000));
    }
    EXPECT_EQ(waits[0], "正在重新连接...");
    EXPECT_EQ(waits[1], "无法连接到课堂服务器，1秒后重试");
    EXPECT_EQ(waits[2], "无法连接到课堂服务器，1秒后重试") << "the first waits are short";
    ReconnectBackoff room(ReconnectBackoff::kMaxDelayMs, 3);
    int last = 0;
    for (int i = 0; i < 44; ++i)
        last = room.NextDelayMs();
    EXPECT_EQ(last, ReconnectBackoff::kMaxDelayMs) << "attempt 44 waits the longest, not a second";
    rig.link.ShutDown();
}

TEST(ServiceLink, ALossOrALoginResult6RightAfterAnAttemptReportedIsNotDropped) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    ASSERT_NO_FATAL_FAILURE(log_in(service, rig));
    // Each attempt's thread goes on for a while after it reported, as on a loaded machine.
    rig.host.linger_after_post_ms = 1000;
    service.drop();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost));
    rig.link.Reconnect();
    service.accept_only();
    ASSERT_TRUE(rig.finish_attempt() & ServiceLink::kConnectedBit);
    ASSERT_TRUE(service.read(5000)) << "logged in again";

    // Lost again while the first attempt's thread is still there.
    service.drop();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost, 2));
    rig.link.Reconnect();
    EXPECT_TRUE(rig.link.reconnecting());
    service.accept_only();
    auto done = rig.host.wait_self(8000);
    ASSERT_TRUE(done) << "the second loss started an attempt";
    rig.link.OnReconnectDone(done->second);
    auto login = service.read(5000);
    ASSERT_TRUE(login);
    EXPECT_EQ(proto::Login::decode(login->payload.data(), login->payload.size())->flags, 4u);

    // The room server cannot be reached, answered while that attempt's thread is still there: retried.
    EXPECT_TRUE(rig.link.OnLoginResult(login_result::kRoomUnreachable));
    EXPECT_TRUE(rig.link.reconnecting());
    done = rig.host.wait_self(8000);
    ASSERT_TRUE(done) << "the login result 6 started an attempt";
    rig.link.OnReconnectDone(done->second);
    EXPECT_TRUE(service.read(5000));
    rig.link.ShutDown();
}

TEST(ServiceLink, ALossDuringAnAttemptIsHandledWhenTheAttemptReports) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    ASSERT_NO_FATAL_FAILURE(log_in(service, rig));
    service.drop();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost));
    rig.link.Reconnect();
    service.accept_only();
    // The new connection is lost again before the attempt's outcome is handled.
    auto done = rig.host.wait_self(8000);
    ASSERT_TRUE(done);
    service.drop();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost, 2));
    rig.link.Reconnect(); // message 1046 comes first: remembered
    rig.link.OnReconnectDone(done->second);
    EXPECT_TRUE(rig.link.reconnecting()) << "the loss starts the next attempt";
    EXPECT_EQ(std::count(rig.log.notices.begin(), rig.log.notices.end(), "与服务端断开连接，尝试重新连接..."),
              2)
        << "and is said like any lost link";
    service.accept_only();
    rig.finish_attempt();
    auto login = service.read(5000);
    ASSERT_TRUE(login);
    EXPECT_EQ(proto::Login::decode(login->payload.data(), login->payload.size())->flags, 4u);
    rig.link.ShutDown();
}

TEST(ServiceLink, ServiceThatIgnoresTheRequestToEndIsKilledAfterItsWait) {
    Install install;
    install.add_stubborn_service();
    Rig rig(install);
    rig.link.SetUp(&rig.handler);
    ASSERT_TRUE(rig.service.holds_process());
    const pid_t pid = rig.service.pid();
    ASSERT_TRUE(eventually([&] { return fs::exists(fs::path(install.folder()) / "stubborn-ready"); }, 10000));
    const auto start = std::chrono::steady_clock::now();
    rig.link.ShutDown();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(process_running(pid));
    EXPECT_GE(waited, std::chrono::milliseconds(ServiceProcess::kStopWaitMs - 10)) << "it was given its time";
    EXPECT_FALSE(rig.service.holds_process());
}

TEST(ServiceLink, OwnServiceEndsByItselfWhenTold) {
    Install install;
    install.add_velmor();
    Rig rig(install);
    rig.identify(12);
    rig.link.SetUp(&rig.handler);
    ASSERT_TRUE(rig.service.holds_process());
    const pid_t pid = rig.service.pid();
    rig.connect_first();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLoginResult));
    // Told to end while its client is still connected, the service closes down by itself within its wait
    // rather than being killed.
    EXPECT_TRUE(rig.service.stop_service(10000));
    EXPECT_FALSE(process_running(pid));
    EXPECT_FALSE(rig.service.holds_process());
}

TEST(ServiceLink, ServiceAlreadyRunningIsUsedAndLeftAlone) {
    Install install;
    install.add_velmor();
    // Not probed by a connection: a service whose client left ends soon after.
    pid_t theirs = spawn_process(install.folder() + "/" + install.name(), {}, install.folder());

    Rig rig(install);
    rig.identify(12);
    const bool found = eventually([&] { return rig.service.find_service(); });
    ASSERT_TRUE(found) << "ours once it listens";
    EXPECT_TRUE(process_listens_on(theirs, rig.service.port())) << "and its port is the one it listens on";
    rig.link.SetUp(&rig.handler);
    EXPECT_FALSE(rig.service.holds_process());
    rig.connect_first();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLoginResult));
    rig.link.ShutDown();
    // Told to end and waited for, it would have ended within the wait.
    EXPECT_TRUE(process_running(theirs)) << "not ended by this client, nor waited for";
    EXPECT_EQ(wait_process(theirs, 60000).value_or(-1), 0) << "it ends by itself";
}

TEST(ServiceLink, OnlyOurOwnServiceCounts) {
    Install install;
    install.add_velmor();
    Rig rig(install);
    // The same program as a room server, as on a teacher's machine, is not our service.
    ReportingProcess room(install.program(), {"--room-server", "--listen", "127.0.0.1:0"}, install.folder());
    const uint16_t room_port = room.wait_for_port();
    ASSERT_NE(room_port, 0);
    EXPECT_FALSE(rig.service.find_service());
    // Something else listening on a configured port is not our service either.
    {
        uint16_t taken = 0;
        const int other = listen_on_loopback(&taken);
        ServiceProcess configured(install.folder(), install.name());
        configured.set_port(taken);
        EXPECT_FALSE(configured.find_service());
        ::close(other);
    }
    // Our own service, on the port it picked, is; and so is it on its port when that is configured.
    ReportingProcess ours(install.program(), {}, install.folder());
    const uint16_t our_port = ours.wait_for_port();
    ASSERT_NE(our_port, 0);
    EXPECT_TRUE(rig.service.find_service());
    EXPECT_EQ(rig.service.port(), our_port);
    ServiceProcess configured(install.folder(), install.name());
    configured.set_port(our_port);
    EXPECT_TRUE(configured.find_service());
    EXPECT_FALSE(rig.service.holds_process()) << "found, not started";
}

// A service started with port "any" writes the port it bound on the pipe it is given; what it writes is
// checked, and a service that ends or says nothing useful gives no port, at once.
TEST(ServiceProcess, TheStartedServiceSaysItsPortOrNothing) {
    TempDir dir;
    const struct {
        const char* script;
        uint16_t port;
    } rows[] = {
        {"echo 4242 >&3; exec sleep 3600", 4242},
        {"printf 65535 >&3; printf '\\n' >&3; exec sleep 3600", 65535},
        {"echo 70000 >&3; exec sleep 3600", 0},
        {"echo 42x >&3; exec sleep 3600", 0},
        {"echo >&3; exec sleep 3600", 0},
        {"echo 123456789 >&3; exec sleep 3600", 0},
        {"exit 0", 0},
    };
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.script);
        const std::string name = "service" + std::to_string(++n);
        write_file(dir.file(name), std::string("#!/bin/sh\n[ \"$1 $2\" = \"--report-port 3\" ] || exit 2\n") +
                                       r.script + "\n");
        fs::permissions(dir.path() / name, fs::perms::owner_all);
        ServiceProcess service(dir.path().string(), name);
        service.set_port(kAnyServicePort);
        ASSERT_TRUE(service.start_service());
        // Each service runs on with its report open: a port() that waited for more than the line it is given
        // would hang the test.
        EXPECT_EQ(service.port(3600 * 1000), r.port);
        EXPECT_EQ(service.port(), r.port) << "the same when asked again";
        service.stop_service();
    }
    // A configured port is the port, whatever runs.
    ServiceProcess fixed(dir.path().string(), "none");
    fixed.set_port(6123);
    EXPECT_EQ(fixed.port(), 6123);
}

// Each request of the table, named, with what it must answer or do.
TEST(RequestTable, EveryRequest) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    proto::LoginResult login;
    login.rights = pkt::kRightCamera | pkt::kRightChat;
    rig.session.roster().AddSelf(login, 12);
    proto::UserBlock block;
    block.user_id = 30;
    block.nickname = "\xD5\xC5\xC8\xFD";
    UserRecord& other = rig.session.roster().Add(block);
    rig.identify(0, 7);

    struct Row {
        const char* name;
        std::function<void()> check;
    };
    const std::vector<Row> rows = {
        {"4 connected", [&] { EXPECT_EQ(rig.session.request(kReqConnected, nullptr, 0), 0); }},
        {"7 and 8 toggles, 19 speak request",
         [&] {
             EXPECT_EQ(rig.session.request(kReqToggleMicrophone, nullptr, 0), 1);
             int device = 3;
             rig.session.request(kReqToggleMicrophone, &device, sizeof device);
             rig.session.request(kReqToggleCamera, nullptr, 0);
             EXPECT_EQ(rig.session.request(kReqSpeakRequest, nullptr, 0), 0);
             EXPECT_EQ(rig.actions.calls, (std::vector<std::string>{"mic -1", "mic 3", "camera -1", "speak"}))
                 << "-1: the default recording device";
         }},
        {"10 notice line",
         [&] {
             char text[] = "\xC4\xE3\xBA\xC3";
             EXPECT_EQ(rig.session.request(kReqNoticeLine, text, 0), 1);
             EXPECT_EQ(rig.log.notices.back(), "你好");
         }},
        {"12 and 13 microphone and camera flags",
         [&] {
             EXPECT_EQ(rig.session.request(kReqMicrophoneOn, nullptr, 0), 0);
             rig.session.set_camera_on(true);
             EXPECT_EQ(rig.session.request(kReqCameraOn, nullptr, 0), 1);
         }},
        {"14 device settings",
         [&] {
             DeviceSettingRequest write{2, 0, 4};
             rig.session.request(kReqDeviceSetting, &write, sizeof write);
             EXPECT_EQ(rig.status.selected, std::vector<int>{4});
             DeviceSettingRequest play{2, 1, 2};
             rig.session.request(kReqDeviceSetting, &play, sizeof play);
             EXPECT_EQ(rig.status.playback_selected, std::vector<int>{2}) << "the output slider follows";
             DeviceSettingRequest cam{2, 2, 1};
             rig.session.request(kReqDeviceSetting, &cam, sizeof cam);
             DeviceSettingRequest read{1, 2, -9};
             rig.session.request(kReqDeviceSetting, &read, sizeof read);
             EXPECT_EQ(read.value, 1);
             DeviceSettingRequest bad{1, 3, -9};
             EXPECT_EQ(rig.session.request(kReqDeviceSetting, &bad, sizeof bad), 1);
             EXPECT_EQ(bad.value, -9);
             EXPECT_NE(read_file(install.folder() + "/user.txt").find("record_deviceid=4"),
                       std::string::npos);
         }},
        {"15 find by id",
         [&] {
             FindUserRequest find{30, nullptr};
             rig.session.request(kReqFindUser, &find, sizeof find);
             EXPECT_EQ(find.result, &other);
             find = {31, &other};
             rig.session.request(kReqFindUser, &find, sizeof find);
             EXPECT_EQ(find.result, nullptr);
         }},
        {"16 find by nickname, exact bytes",
         [&] {
             FindUserByNicknameRequest byname{"\xD5\xC5\xC8\xFD", nullptr};
             rig.session.request(kReqFindUserByNickname, &byname, sizeof byname);
             EXPECT_EQ(byname.result, &other);
             byname = {"\xD5\xC5", nullptr};
             rig.session.request(kReqFindUserByNickname, &byname, sizeof byname);
             EXPECT_EQ(byname.result, nullptr);
         }},
        {"17 output muted",
         [&] {
             rig.status.muted = true;
             EXPECT_EQ(rig.session.request(kReqOutputMuted, nullptr, 0), 1);
         }},
        {"18 host, 21 rights",
         [&] {
             EXPECT_EQ(rig.session.request(kReqIsHost, nullptr, 0), 0);
             uint32_t mask = pkt::kRightSpeak | pkt::kRightCamera;
             EXPECT_EQ(rig.session.request(kReqHasRights, &mask, sizeof mask), 1);
             mask = pkt::kRightSpeak;
             EXPECT_EQ(rig.session.request(kReqHasRights, &mask, sizeof mask), 0);
         }},
        {"20 video windows",
         [&] {
             VideoWindowRequest open{0, 30, &other.block};
             EXPECT_EQ(rig.session.request(kReqVideoWindow, &open, sizeof open), 1);
             VideoWindowRequest release{1, 30, nullptr};
             EXPECT_EQ(rig.session.request(kReqVideoWindow, &release, sizeof release), 1);
             VideoWindowRequest other_op{2, 30, &other.block};
             EXPECT_EQ(rig.session.request(kReqVideoWindow, &other_op, sizeof other_op), 0);
             rig.video.can_assign = false;
             EXPECT_EQ(rig.session.request(kReqVideoWindow, &open, sizeof open), 0);
             EXPECT_EQ(rig.video.assigned[0], (std::pair<uint32_t, uint32_t>{30, 7}));
             EXPECT_EQ(rig.video.released[0], (std::pair<uint32_t, uint32_t>{30, 7}));
         }},
        {"22 chat line",
         [&] {
             int entry = 0;
             rig.session.request(kReqChatLine, &entry, 0);
             EXPECT_EQ(rig.log.chats.size(), 1u);
         }},
        {"unknown requests answer 1 and do nothing",
         [&] {
             const size_t notices = rig.log.notices.size();
             int entry = 0;
             EXPECT_EQ(rig.session.request(5, &entry, 0), 1);
             EXPECT_EQ(rig.session.request(23, nullptr, 0), 1);
             EXPECT_EQ(rig.log.notices.size(), notices);
         }},
        {"21 without a local record",
         [&] {
             rig.session.roster().Clear();
             uint32_t mask = pkt::kRightCamera;
             EXPECT_EQ(rig.session.request(kReqHasRights, &mask, sizeof mask), 0);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.check();
    }
}

TEST(ServiceLink, OverlongKeyIdSendsNoLogin) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    rig.identify(12, 0, std::string(41, 'A'));
    rig.link.SetUp(&rig.handler);
    EXPECT_FALSE(rig.link.SendLogin(false));
    rig.identify(12, 0, std::string(40, 'A'));
    rig.connect_first();
    auto p = service.accept_and_read();
    ASSERT_TRUE(p);
    EXPECT_EQ(proto::Login::decode(p->payload.data(), p->payload.size())->key[19], 0xAA);
    rig.link.ShutDown();
}

// A session pushed out by another one of the same user (result 5) is not brought back by the end of the
// stream that follows: coming back would push the other one out in turn.
TEST(ServiceLink, PushedOutSessionDoesNotReconnectAfterItsLinkEnds) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    ASSERT_NO_FATAL_FAILURE(log_in(service, rig));
    EXPECT_FALSE(rig.link.OnLoginResult(login_result::kLoggedInElsewhere));
    service.drop();
    ASSERT_TRUE(rig.handler.wait_for(pkt::kLinkLost));
    rig.link.Reconnect();
    EXPECT_FALSE(rig.link.reconnecting()) << "no attempt is scheduled";
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_FALSE(rig.link.reconnecting());
    EXPECT_FALSE(rig.session.request(kReqConnected, nullptr, 0));
    rig.link.ShutDown();
}

// A key id is hexadecimal: other characters (or an odd count) would make several texts one key; such a
// login is not sent. Even-length hexadecimal key ids of either case are.
TEST(ServiceLink, KeyIdOfOtherThanHexadecimalDigitsSendsNoLogin) {
    StandIn service;
    Install install(service.port());
    Rig rig(install);
    rig.link.SetUp(&rig.handler);
    for (const std::string& bad : {std::string(39, 'A') + "G", std::string("0G"), std::string("ABC"),
                                   std::string(38, '0') + " 1", std::string(38, 'f') + "-1"}) {
        rig.identify(12, 0, bad);
        EXPECT_FALSE(rig.link.SendLogin(false)) << bad;
    }
    rig.identify(12, 0, "ab12");
    rig.connect_first();
    auto p = service.accept_and_read();
    ASSERT_TRUE(p);
    const auto key = proto::Login::decode(p->payload.data(), p->payload.size())->key;
    EXPECT_EQ(key[0], 0xAB);
    EXPECT_EQ(key[1], 0x12);
    EXPECT_EQ(key[2], 0);
    rig.link.ShutDown();
}

TEST(ServiceProcess, AServiceThatEndedByItselfIsCollectedAndLeavesNoZombie) {
    ServiceProcess service("/bin", "true"); // a service that ends at once, as an idle one does after a while
    ASSERT_TRUE(service.start_service());
    const pid_t pid = service.pid();
    // Ended, but not yet collected: a zombie.
    ASSERT_TRUE(eventually([&] { return !process_running(pid); }));
    EXPECT_EQ(kill(pid, 0), 0) << "a zombie until collected";
    service.reap_if_ended();
    EXPECT_FALSE(service.holds_process());
    EXPECT_EQ(kill(pid, 0), -1) << "collected";
    service.reap_if_ended(); // nothing more to do
    service.stop_service(100);
}
