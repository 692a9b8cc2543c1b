// velmor's command line and settings, and the caps on connections that wait for their login.
#include <gtest/gtest.h>

#include <thread>

#include "eventually.h"
#include "room_peer.h"
#include "service/listener.h"
#include "service/local_service.h"
#include "service/velmor_options.h"
#include "temp_dir.h"

using velmor::CommandLine;
using velmor::Fault;
using velmor::Run;

namespace {

std::optional<Fault> parse(std::vector<std::string> args, CommandLine* out) {
    return velmor::parse_command_line(args, out);
}

} // namespace

TEST(VelmorOptions, HelpAndVersionAnswerWhereverTheyStand) {
    EXPECT_EQ(velmor::answer_for({"--room-server", "--help"}), velmor::Answer::Help);
    EXPECT_EQ(velmor::answer_for({"-h"}), velmor::Answer::Help);
    EXPECT_EQ(velmor::answer_for({"--listen", "1.2.3.4:5", "--version"}), velmor::Answer::Version);
    EXPECT_EQ(velmor::answer_for({"--room-server", "--listen", "0.0.0.0:6000"}), velmor::Answer::None);
    const std::string help = velmor::help_text();
    EXPECT_EQ(help.rfind(velmor::usage_text(), 0), 0u) << "the help starts with the usage";
}

TEST(VelmorOptions, WrongCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::string>> rows = {
        {"--bogus"},
        {"--listen"}, // no value
        {"--room-server", "--listen", "nohost"},
        {"--room-server", "--listen", "1.2.3.4:70000"},
        {"--room-server", "--listen", "1.2.3.4:60x"},
        {"--room-server", "--listen", "not.an.address:6000"},
        {"--room-server"}, // where to listen
        {"--room-server", "--listen", "0.0.0.0:0"},
        {"--status"}, // which store
        {"--room-server", "--listen", "0.0.0.0:6000", "--node", "a"},
        {"--room-server", "--listen", "0.0.0.0:6000", "--node", "a", "--cluster", "nats://h:1"},
        {"--node", "a", "--cluster", "nats://h:1", "--store", "redis://h:2"}, // a node is a room server
        {"--room-server", "--listen", "0.0.0.0:6000", "--secret"},
        {"--room-server", "--listen", "0.0.0.0:6000", "--threads", "0"},
        {"--room-server", "--listen", "0.0.0.0:6000", "--threads", "65"},
        {"--room-server", "--listen", "0.0.0.0:6000", "--threads", "2x"},
        {"--room-server", "--listen", "0.0.0.0:6000", "--threads", ""},
        {"--report-port"},
        {"--report-port", "-1"},
        {"--report-port", "3x"},
        {"--report-port", ""},
    };
    for (const auto& args : rows) {
        CommandLine line;
        const auto fault = parse(args, &line);
        ASSERT_TRUE(fault) << ::testing::PrintToString(args);
        EXPECT_EQ(fault->status, 2) << ::testing::PrintToString(args);
    }
}

TEST(VelmorOptions, WhatEachCommandLineRuns) {
    CommandLine local;
    EXPECT_FALSE(parse({}, &local));
    EXPECT_EQ(local.run, Run::LocalService);
    EXPECT_EQ(local.report_fd, -1) << "reports its port only when asked";
    CommandLine reporting;
    EXPECT_FALSE(parse({"--report-port", "3"}, &reporting));
    EXPECT_EQ(reporting.run, Run::LocalService);
    EXPECT_EQ(reporting.report_fd, 3);

    CommandLine server;
    EXPECT_FALSE(parse(
        {"--room-server", "--listen", "localhost:6000", "--directory", "d.txt", "--secret", "s"}, &server));
    EXPECT_EQ(server.run, Run::RoomServer);
    EXPECT_EQ(server.listen, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 6000));
    EXPECT_EQ(server.directory, "d.txt");
    EXPECT_EQ(server.secret, "s");
    EXPECT_FALSE(server.clustered());
    EXPECT_EQ(server.threads, 0) << "one a core unless told";
    CommandLine two;
    EXPECT_FALSE(parse({"--room-server", "--listen", "localhost:6000", "--threads", "2"}, &two));
    EXPECT_EQ(two.threads, 2);

    CommandLine node;
    EXPECT_FALSE(parse({"--room-server", "--listen", "0.0.0.0:6001", "--node", "a", "--cluster", "nats://h:1",
                        "--store", "redis://h:2"},
                       &node));
    EXPECT_EQ(node.run, Run::RoomServer);
    EXPECT_TRUE(node.clustered());
    EXPECT_EQ(node.store_url, "redis://h:2");

    CommandLine status;
    EXPECT_FALSE(parse({"--status", "--store", "redis://h:2"}, &status));
    EXPECT_EQ(status.run, Run::Status);
}

TEST(VelmorOptions, SecretFromAFile) {
    TempDir dir;
    write_file(dir.file("secret"), "s3cret \r\nsecond line\n");
    write_file(dir.file("blank"), "  \r\n");
    CommandLine line;
    EXPECT_FALSE(
        parse({"--room-server", "--listen", "0.0.0.0:6000", "--secret-file", dir.file("secret")}, &line));
    EXPECT_EQ(line.secret, "s3cret") << "the first line, without the line end and trailing blanks";

    // No secret at all would let every key in: a file without one is a failure, not an open server.
    for (const std::string& file : {dir.file("blank"), dir.file("missing")}) {
        CommandLine other;
        const auto fault =
            parse({"--room-server", "--listen", "0.0.0.0:6000", "--secret-file", file}, &other);
        ASSERT_TRUE(fault) << file;
        EXPECT_EQ(fault->status, 1);
        EXPECT_EQ(fault->line, "cannot read a secret from " + file);
    }
}

TEST(VelmorOptions, RoomServersOfTheSettings) {
    std::vector<Relay::Upstream> servers;
    ASSERT_TRUE(velmor::parse_room_servers("rooms.example:6000, 10.0.0.2:6001 ,,  node3:7", &servers));
    ASSERT_EQ(servers.size(), 3u);
    EXPECT_EQ(servers[0].host, "rooms.example");
    EXPECT_EQ(servers[0].port, 6000);
    EXPECT_EQ(servers[1].host, "10.0.0.2");
    EXPECT_EQ(servers[2].port, 7);
    ASSERT_TRUE(velmor::parse_room_servers("", &servers));
    EXPECT_TRUE(servers.empty()) << "none: the service hosts the room";

    std::string seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen += "h" + std::to_string(i) + ":1,";
    for (const std::string& bad :
         std::vector<std::string>{"host", ":6000", "host:0", "host:65536", "host:60x", "a:1,b", seventeen})
        EXPECT_FALSE(velmor::parse_room_servers(bad, &servers)) << bad;
}

TEST(VelmorOptions, LocalServiceFromItsSettingsFile) {
    TempDir dir;
    write_file(dir.file("user.txt"), "[network]\nport=6123\n[room]\nserver=a:1,b:2\ndirectory=dir.txt\n"
                                     "[auth]\nsecret=xyz\n[media]\nplay_deviceid=3\n");
    LocalServiceOptions options;
    std::string directory;
    ASSERT_FALSE(velmor::local_service_settings(dir.file("user.txt"), &options, &directory));
    EXPECT_EQ(options.listen, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 6123));
    ASSERT_EQ(options.room_servers.size(), 2u);
    EXPECT_EQ(options.room_servers[1].host, "b");
    EXPECT_EQ(directory, "dir.txt");
    EXPECT_EQ(options.hub.secret, "xyz");
    EXPECT_EQ(options.voice_config.play_device, 3);
    EXPECT_TRUE(options.own_user_only);
    EXPECT_EQ(options.max_clients, 1u);
    EXPECT_FALSE(options.hub.session_tokens) << "its own room: a reconnect from this machine takes the seat";

    write_file(dir.file("user.txt"), "[network]\nport=99999\n");
    ASSERT_FALSE(velmor::local_service_settings(dir.file("user.txt"), &options, &directory));
    EXPECT_NE(options.listen.port(), 99999 & 0xFFFF) << "a port out of range falls back to the default";
    EXPECT_TRUE(options.room_servers.empty());
    for (const char* port : {"0", "anything", ""}) {
        write_file(dir.file("user.txt"), std::string("[network]\nport=") + port + "\n");
        ASSERT_FALSE(velmor::local_service_settings(dir.file("user.txt"), &options, &directory));
        EXPECT_EQ(options.listen.port(), 5288) << port;
    }
    write_file(dir.file("user.txt"), "[network]\nport=any\n");
    ASSERT_FALSE(velmor::local_service_settings(dir.file("user.txt"), &options, &directory));
    EXPECT_EQ(options.listen, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0))
        << "any: the port the system picks";

    write_file(dir.file("user.txt"), "[room]\nserver=nohost\n");
    const auto fault = velmor::local_service_settings(dir.file("user.txt"), &options, &directory);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->status, 1);
    EXPECT_EQ(fault->line, "bad [room] server=nohost");
}

TEST(WaitingConnections, TheOldestGivesWayWhenACapIsReached) {
    const auto a = asio::ip::make_address("10.0.0.1"), b = asio::ip::make_address("10.0.0.2");
    ConnectionLimits limits;
    limits.max_unauthenticated = 4;
    limits.max_unauthenticated_per_address = 2;
    EXPECT_FALSE(eviction_for({{5, a}, {3, b}}, a, limits)) << "both caps have room";

    auto e = eviction_for({{9, b}, {7, a}, {4, a}}, a, limits);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->id, 4u) << "the oldest from the newcomer's address";
    EXPECT_EQ(e->why, "2 from 10.0.0.1 wait for their login");

    e = eviction_for({{9, b}, {7, a}, {2, b}, {6, b}}, a, limits);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->id, 2u) << "the oldest of all when the total is reached";
    EXPECT_EQ(e->why, "4 wait for their login");
}

// The local service with its own room serves one client: a second is refused while the first is logged in,
// and the first's place is free again once it has gone.
TEST(LocalService, ServesOneClientAtATime) {
    asio::io_context io(1);
    LocalServiceOptions options;
    options.listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0);
    options.hub.log = [](const std::string&) {};
    LocalService service(io, options);
    ASSERT_TRUE(service.start());
    std::thread io_thread([&] { io.run(); });

    RoomPeer first, second;
    ASSERT_TRUE(first.connect(service.port()));
    ASSERT_EQ(login_peer(first, 12, 7), 0);
    ASSERT_TRUE(second.connect(service.port()));
    EXPECT_TRUE(second.wait_closed(3000)) << "refused while one is served";
    EXPECT_FALSE(first.wait_closed(200));
    first.close();
    EXPECT_TRUE(eventually(
        [&] {
            RoomPeer third;
            return third.connect(service.port()) && login_peer(third, 13, 7) == 0;
        },
        10000));

    asio::post(io, [&] { service.stop(); });
    io.stop();
    io_thread.join();
}
