// The interface language: the built client started with an English system language shows its own texts in
// English (window texts, tool tips, notices), keeps the peers' Chinese chat lines and nicknames as they are,
// and a setting overrides the system's choice. A Chinese system keeps Chinese.
#include <gtest/gtest.h>

#include <signal.h>

#include "installation.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

// A client of the built program with what an English interface needs beside it.
struct LanguageRun {
    RoomServerProcess& server;
    Installation inst;
    pid_t pid = -1;
    LanguageRun(RoomServerProcess& s, const std::string& settings)
        : server(s), inst("[room]\nserver=127.0.0.1:" + std::to_string(s.port()) + "\n" + settings, true) {
        const fs::path built = QUORIN_INSTALL_DIR;
        fs::remove_all(fs::path(inst.folder()) / "ui");
        fs::copy(built / "ui", fs::path(inst.folder()) / "ui", fs::copy_options::recursive);
        fs::copy(built / "translations", fs::path(inst.folder()) / "translations",
                 fs::copy_options::recursive);
    }
    void Start(uint32_t user, const std::string& lang, const std::string& shot = "") {
        std::vector<std::string> env{"LANG=" + lang, "LC_ALL=" + lang, "LANGUAGE=", "QUORIN_REPORT_TEXTS=1"};
        if (!shot.empty())
            env.push_back("QUORIN_SCREENSHOT=" + shot);
        pid = inst.start("client", "userid=" + std::to_string(user) + "&roomid=8", 6000, env);
    }
    bool Has(const std::string& line) const {
        return inst.report("client").find(line + "\n") != std::string::npos;
    }
    std::string report() const { return inst.report("client"); }
    bool Ended() { return wait_process(pid, 15000).has_value(); }
};

} // namespace

TEST(LanguageEndToEnd, EnglishFromTheSystemLanguageWithChineseChatLeftAlone) {
    RoomServerProcess server("velmor");
    RoomPeer host;
    ASSERT_TRUE(host.connect(server.port()));
    ASSERT_EQ(login_peer(host, 701, 8), 0);
    const std::string shot = (fs::path(QUORIN_INSTALL_DIR).parent_path() / "test-shots").string();
    fs::create_directories(shot);
    LanguageRun run(server, "");
    run.Start(702, "en_US.UTF-8", shot + "/english_window.png");
    ClientReaper reaper{run.pid, run.inst.folder()};
    ASSERT_TRUE(run.inst.wait_for_report("client", "notice=Logged in!\n", 15000)) << run.report();
    proto::ChatLine line;
    line.text = utf8_to_gbk("同学们好");
    host.send(pkt::kChat, line.encode());
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(run.Has("language=en"));
    // The client's own texts, in the window as it closes.
    for (const char* text : {"tip=Raise hand (Alt+Y)", "tip=Audio setup", "tip=Video setup", "tip=Minimise",
                             "tip=Close", "text=In the room: 2", "text=Host: 用户701", "text=To",
                             "text=Private", "name=Messages", "tip=Microphone muted"})
        EXPECT_TRUE(run.Has(text)) << text << "\n" << run.report();
    // The peer's line and the room's nicknames stay as they were sent.
    EXPECT_TRUE(run.Has("text=同学们好")) << run.report();
    EXPECT_NE(run.report().find("<用户701> to <everyone>:"), std::string::npos) << run.report();
    // No Chinese of the client's own: every Chinese character in the texts comes from the room.
    for (const char* chinese : {"登录成功", "举手发言", "房间人数", "发起人：", "音频设置", "私聊", "我对"})
        EXPECT_EQ(run.report().find(chinese), std::string::npos) << chinese;
}

TEST(LanguageEndToEnd, ASettingOverridesTheSystemAndChineseStaysChinese) {
    RoomServerProcess server("velmor");
    RoomPeer host;
    ASSERT_TRUE(host.connect(server.port()));
    ASSERT_EQ(login_peer(host, 711, 8), 0);
    {
        LanguageRun chinese(server, "");
        chinese.Start(712, "zh_CN.UTF-8");
        ClientReaper reaper{chinese.pid, chinese.inst.folder()};
        ASSERT_TRUE(chinese.inst.wait_for_report("client", "notice=登录成功！\n", 15000)) << chinese.report();
        ASSERT_TRUE(chinese.Ended());
        EXPECT_TRUE(chinese.Has("language=zh"));
        EXPECT_TRUE(chinese.Has("tip=举手发言 (Alt+Y)")) << chinese.report();
    }
    LanguageRun chosen(server, "[ui]\nlanguage=en\n");
    chosen.Start(713, "zh_CN.UTF-8");
    ClientReaper reaper{chosen.pid, chosen.inst.folder()};
    ASSERT_TRUE(chosen.inst.wait_for_report("client", "notice=Logged in!\n", 15000)) << chosen.report();
    ASSERT_TRUE(chosen.Ended());
    EXPECT_TRUE(chosen.Has("language=en"));
}

// Every English text keeps the placeholders of its Chinese source, in the same order: a translation that
// lost a %s or swapped %1 and %2 would print garbage or crash a printf.
TEST(LanguageCatalogue, TranslationsKeepTheirPlaceholders) {
    const std::string ts = read_file(std::string(QUORIN_SOURCE_DIR) + "/translations/quorin_en.ts");
    ASSERT_FALSE(ts.empty());
    // printf conversions ("%02d", "%s") and Qt's numbered places ("%1"), in order.
    auto placeholders = [](const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '%')
                continue;
            size_t j = i + 1;
            while (j < text.size() && std::string("0123456789.").find(text[j]) != std::string::npos)
                ++j;
            if (j < text.size() && std::string("sduxlf").find(text[j]) != std::string::npos) {
                out += text.substr(i, j - i + 1) + " ";
                i = j;
            } else if (j > i + 1) {
                out += text.substr(i, j - i) + " ";
                i = j - 1;
            }
        }
        return out;
    };
    size_t at = 0, checked = 0;
    while ((at = ts.find("<source>", at)) != std::string::npos) {
        const size_t s_end = ts.find("</source>", at);
        const std::string source = ts.substr(at + 8, s_end - at - 8);
        const size_t t_at = ts.find("<translation", s_end);
        const size_t t_open = ts.find('>', t_at) + 1;
        const std::string translation = ts.substr(t_open, ts.find("</translation>", t_open) - t_open);
        EXPECT_FALSE(translation.empty()) << "no English for " << source;
        EXPECT_EQ(placeholders(translation), placeholders(source)) << source << " -> " << translation;
        at = s_end;
        ++checked;
    }
    EXPECT_GT(checked, 150u);
}
