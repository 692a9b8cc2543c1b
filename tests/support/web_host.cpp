// The test web host (see web_host.h).
#include "web_host.h"

#include <httplib.h>

#include <QBuffer>
#include <QImage>

#include <chrono>

std::string TestWebHost::picture_for(unsigned user_id) {
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(user_id * 47 % 360), 200, 220));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

TestWebHost::TestWebHost() : server_(std::make_unique<httplib::Server>()) {
    auto& s = *server_;
    s.Get("/help.php", [this](const httplib::Request& req, httplib::Response& res) {
        ++requests_;
        if (req.get_param_value("view") == "pic")
            res.set_content(picture_for(unsigned(std::stoul(req.get_param_value("uid")))), "image/png");
        else
            res.set_content("<html><body>help</body></html>", "text/html");
    });
    s.Get("/missing", [this](const httplib::Request&, httplib::Response& res) {
        ++requests_;
        res.status = 404;
        res.set_content("<html>not found</html>", "text/html");
    });
    s.Get("/not-a-picture", [this](const httplib::Request&, httplib::Response& res) {
        ++requests_;
        res.set_content("this is text, not a picture", "image/png");
    });
    s.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
        ++requests_;
        // Headers, a first byte, then nothing for a long time.
        res.set_chunked_content_provider("image/png", [this](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                sink.write("\x89", 1);
                return true;
            }
            for (int i = 0; i < 300 && !stopping_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sink.done();
            return true;
        });
    });
    s.Get("/drip", [this](const httplib::Request&, httplib::Response& res) {
        ++requests_;
        // A byte every 200 ms for a minute: never slow enough to count as stalled.
        res.set_chunked_content_provider("image/png", [this](size_t offset, httplib::DataSink& sink) {
            if (offset >= 300 || stopping_) {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            sink.write("x", 1);
            return true;
        });
    });
    s.Get("/big", [this](const httplib::Request&, httplib::Response& res) {
        ++requests_;
        res.set_content(std::string(20 << 20, 'x'), "image/png");
    });
    s.Get("/redirect", [this](const httplib::Request&, httplib::Response& res) {
        ++requests_;
        res.set_redirect("/help.php?view=pic&uid=7&size=middle");
    });
    port_ = s.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestWebHost::~TestWebHost() {
    stopping_ = true;
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

std::string TestWebHost::base() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string TestWebHost::url(const std::string& path) const {
    return base() + path;
}
