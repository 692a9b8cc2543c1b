// A real HTTP server on the loopback for tests: user pictures at the client's picture address, and the bodies
// that go wrong (an error page, a stall, a body that drips for a minute, a 20 MB body, a redirect). Runs on a
// thread of its own.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

class TestWebHost {
public:
    TestWebHost();
    ~TestWebHost();
    TestWebHost(const TestWebHost&) = delete;
    TestWebHost& operator=(const TestWebHost&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    // "http://127.0.0.1:PORT", what the client's [web] host setting holds.
    std::string base() const;
    int requests() const { return requests_; }
    // PNG bytes of a picture of one colour, the colour made from the user id.
    static std::string picture_for(unsigned user_id);

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::atomic<bool> stopping_{false};
};
