// The demo's web host (see web_host.h).
#include "bots/web_host.h"

#include <httplib.h>

#include <thread>

#include "bots/pictures.h"

namespace bots {

WebHost::WebHost(std::map<uint32_t, std::string> names)
    : names_(std::move(names)), server_(std::make_unique<httplib::Server>()) {}

WebHost::~WebHost() {
    server_->stop();
    if (thread_)
        thread_->join();
}

bool WebHost::start(uint16_t port) {
    server_->Get("/help.php", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("view") == "pic") {
            const std::string uid = req.get_param_value("uid");
            char* end = nullptr;
            const unsigned long id = std::strtoul(uid.c_str(), &end, 10);
            if (uid.empty() || *end || id == 0 || id > 0xFFFFFFFFul) {
                res.status = 404;
                return;
            }
            const std::string size = req.get_param_value("size");
            const int pixels = size == "small" ? 48 : size == "big" ? 200 : 120;
            auto it = names_.find(uint32_t(id));
            const auto png = user_picture_png(it == names_.end() ? "" : it->second, uint32_t(id), pixels);
            res.set_content(std::string(png.begin(), png.end()), "image/png");
            return;
        }
        res.set_content(help_page_html(), "text/html; charset=utf-8");
    });
    if (port == 0) {
        const int bound = server_->bind_to_any_port("127.0.0.1");
        if (bound <= 0)
            return false;
        port_ = uint16_t(bound);
    } else {
        if (!server_->bind_to_port("127.0.0.1", port))
            return false;
        port_ = port;
    }
    thread_ = std::make_unique<std::thread>([this] { server_->listen_after_bind(); });
    return true;
}

const std::string& help_page_html() {
    static const std::string page = R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>视频课堂帮助</title>
<style>body{font-family:sans-serif;max-width:44em;margin:2em auto;line-height:1.6;color:#223}
h1{color:#245}h2{color:#356;border-bottom:1px solid #ccd}kbd{background:#eef;padding:0 .3em}</style></head>
<body>
<h1>视频课堂使用帮助</h1>
<h2>进入课堂</h2>
<p>从课程页面点击“进入课堂”即可打开客户端并自动登录。左侧是课堂成员列表：每位成员的头像上显示主持人、麦克风、摄像头和举手图标。</p>
<h2>发言</h2>
<p>点击“举手发言”向主持人申请发言权。主持人同意后，麦克风图标亮起，点击即可打开或关闭自己的麦克风。主持人可以随时收回发言权。</p>
<h2>视频</h2>
<p>单击成员头像上的摄像头图标即可观看其视频，最多同时观看三路。双击视频画面可放大，放大窗口中按 <kbd>Esc</kbd> 或双击可还原。视频控制条上的“拍照”按钮会把当前画面保存到“文档”文件夹。</p>
<h2>聊天</h2>
<p>在下方输入框中输入文字，按 <kbd>Enter</kbd> 或点击“发送”即可发出；<kbd>Ctrl</kbd>+<kbd>Enter</kbd> 换行。在“发送给”列表中选择一位成员即可私聊。点击表情按钮可以插入动画表情。</p>
<h2>声音和设备</h2>
<p>状态栏上的两个滑块分别调节播放音量和麦克风音量。在“音频设置”和“视频设置”中可以选择录音设备、播放设备和摄像头。</p>
<h2>网络</h2>
<p>网络断开时客户端会自动重新连接，并在状态栏显示进度；重新连接后会自动回到课堂。</p>
</body></html>
)";
    return page;
}

} // namespace bots
