// The room's web host for the demo: the pictures the user list asks for
// (/help.php?view=pic&uid=<id>&size=middle) and the help page (/help.php?ac=video). Serves on 127.0.0.1 on
// its own threads until destroyed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace bots {

class WebHost {
public:
    // `names`: nicknames (UTF-8) by user id; other ids get a picture from their number.
    explicit WebHost(std::map<uint32_t, std::string> names);
    ~WebHost();
    // Binds the port (0: any free one) and starts serving; false when it cannot.
    bool start(uint16_t port);
    uint16_t port() const { return port_; }

private:
    std::map<uint32_t, std::string> names_;
    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<std::thread> thread_;
    uint16_t port_ = 0;
};

// The help page (UTF-8 HTML).
const std::string& help_page_html();

} // namespace bots
