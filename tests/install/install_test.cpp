// The installed client: `cmake --install` into a temporary DESTDIR, then the installed program run with its
// own HOME and XDG folders. Its settings are seeded into the user's config folder, its service reads the same
// file, logs and pictures go to the user's folders and nothing is written into the install folder. Also the
// launch links, the desktop entry and the AppStream file, and the logs' rotation.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>

#include "app/launch_params.h"
#include "config/client_config.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "room_peer.h"
#include "temp_dir.h"
#include "web_host.h"

namespace fs = std::filesystem;

namespace {

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string read_all(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool wait_for_file_text(const fs::path& p, const std::string& text, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (read_all(p).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace

TEST(Install, TheInstalledClientKeepsItsFilesInTheUsersFolders) {
    TempDir dest, home;
    ASSERT_EQ(run("DESTDIR=" + dest.path().string() + " cmake --install " QUORIN_BUILD_DIR " --prefix /usr"),
              0);
    const fs::path lib = dest.path() / "usr/lib/quorin";
    ASSERT_TRUE(fs::exists(lib / "quorin"));
    ASSERT_TRUE(fs::exists(dest.path() / "usr/bin/quorin"));
    EXPECT_TRUE(fs::exists(lib / "Faces/89.gif"));
    EXPECT_TRUE(fs::exists(dest.path() / "usr/share/icons/hicolor/48x48/apps/quorin.png"));
    EXPECT_EQ(
        run("desktop-file-validate " + (dest.path() / "usr/share/applications/quorin.desktop").string()), 0);
    EXPECT_EQ(run("appstreamcli validate --no-net " +
                  (dest.path() / "usr/share/metainfo/org.quorin.Quorin.metainfo.xml").string()),
              0);

    // The user's own folders; a port of this test's own, written into the seeded settings before the start.
    const fs::path config = home.path() / "config", state = home.path() / "state",
                   cache = home.path() / "cache";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const UserFolders folders = prepare_user_folders(lib.string());
    ASSERT_TRUE(folders.per_user);
    EXPECT_EQ(folders.settings_file, (config / "quorin/user.txt").string());
    ASSERT_TRUE(fs::exists(folders.settings_file)) << "seeded from the installed default";
    TestWebHost web;
    const uint16_t port = free_port();
    {
        std::ofstream settings(folders.settings_file);
        settings << "[network]\nport=" << port << "\n[web]\nhost=" << web.base() << "\n";
    }
    ClientSettings s = read_settings(folders.settings_file);
    ASSERT_TRUE(save_device_setting(s, settings_file_path(lib.string()), kCameraDevice, 3));
    EXPECT_NE(read_all(folders.settings_file).find("camera_deviceid=3"), std::string::npos);

    const fs::path report = home.path() / "report.txt";
    fs::create_directories(home.path() / "run");
    fs::permissions(home.path() / "run", fs::perms::owner_all);
    const pid_t client =
        spawn_process((dest.path() / "usr/bin/quorin").string(),
                      {"quorin://join?userid=1001&roomid=1&subject=%E6%95%B0%E5%AD%A6"}, home.path().string(),
                      {"QT_QPA_PLATFORM=offscreen", "QUORIN_NONINTERACTIVE=1", "HOME=" + home.path().string(),
                       "XDG_RUNTIME_DIR=" + (home.path() / "run").string(),
                       "QUORIN_REPORT=" + report.string(), "QUORIN_EXIT_AFTER_MS=20000"});
    ASSERT_GT(client, 0);
    EXPECT_TRUE(wait_for_file_text(report, "notice=登录成功！", 15000))
        << "its service read the user's settings";
    EXPECT_TRUE(wait_for_file_text(report, "picture=1001 0", 10000)) << read_all(report);
    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
    EXPECT_TRUE(fs::exists(cache / "quorin/timage/1001"));
    bool logged = false;
    for (const auto& e : fs::directory_iterator(state / "quorin/log"))
        logged = logged || e.path().extension() == ".log";
    EXPECT_TRUE(logged);
    for (const char* name : {"log", "timage"})
        EXPECT_FALSE(fs::exists(lib / name)) << "nothing is written into the install folder";
    EXPECT_EQ(read_all(lib / "user.txt").find("camera_deviceid=3"), std::string::npos);
}

TEST(Install, LaunchLinksArriveAsGbkLaunchStrings) {
    const struct {
        const char* link;
        std::string launch;
    } rows[] = {
        {"quorin://join?userid=12&roomid=7&subject=%E6%95%B0%E5%AD%A6",
         "userid=12&roomid=7&subject=" + utf8_to_gbk("数学")},
        {"QUORIN:join?userid=1&subject=a+b%21", "userid=1&subject=a b!"},
        {"quorin://join?userid=5/", "userid=5"},
        {"quorin://join", ""},
        {"quorin://join?x=%ZZ%4", "x=%ZZ%4"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(launch_string_from_link(r.link).value_or("(none)"), r.launch) << r.link;
    EXPECT_FALSE(launch_string_from_link("userid=12&roomid=7"));
    char prog[] = "quorin", link[] = "quorin://join?userid=9&subject=%E8%AF%AD%E6%96%87";
    char* argv[] = {prog, link};
    LaunchParams p;
    parse_launch_params(launch_string_from_args(2, argv), p);
    EXPECT_EQ(p.user_id, 9u);
    EXPECT_EQ(p.subject, utf8_to_gbk("语文"));
}

TEST(Install, LogsKeepTwoWeeksOfEachKind) {
    TempDir dir;
    for (int day = 1; day <= 20; ++day) {
        char debug[32], access_name[32];
        std::snprintf(debug, sizeof debug, "2026_11%02d.log", day);
        std::snprintf(access_name, sizeof access_name, "access_202611%02d.log", day);
        std::ofstream(dir.path() / debug) << "x";
        std::ofstream(dir.path() / access_name) << "x";
    }
    std::ofstream(dir.path() / "notes.log") << "kept: not a dated log";
    prune_old_files(dir.path().string(), "", ".log", kKeptLogDays);
    prune_old_files(dir.path().string(), "access_", ".log", kKeptLogDays);
    int debug = 0, access = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string n = e.path().filename().string();
        debug += n[0] == '2';
        access += n.rfind("access_", 0) == 0;
    }
    EXPECT_EQ(debug, 14);
    EXPECT_EQ(access, 14);
    EXPECT_FALSE(fs::exists(dir.path() / "2026_1106.log")) << "the oldest go";
    EXPECT_TRUE(fs::exists(dir.path() / "2026_1107.log"));
    EXPECT_TRUE(fs::exists(dir.path() / "notes.log"));
}
