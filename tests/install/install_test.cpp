// The installed client: `cmake --install` into a temporary DESTDIR, then the installed program run with its
// own HOME and XDG folders. Its settings are seeded into the user's config folder, its service reads the same
// file, logs and pictures go to the user's folders and nothing is written into the install folder. Also the
// launch links, the desktop entry and the AppStream file, and the logs' rotation.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>

#include <filesystem>
#include <fstream>

#include "app/app_texts.h"
#include "app/launch_params.h"
#include "config/client_config.h"
#include "eventually.h"
#include "platform/process.h"
#include "platform/profile.h"
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

// Runs a command; its standard output and exit status.
std::pair<std::string, int> capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {out, -1};
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int status = pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string read_all(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool wait_for_file_text(const fs::path& p, const std::string& text, int ms) {
    return eventually([&] { return read_all(p).find(text) != std::string::npos; }, ms, 20);
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

    // The user's own folders; the service's port left to the system, written into the seeded settings
    // before the start.
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
    {
        std::ofstream settings(folders.settings_file);
        settings << "[network]\nport=any\n[web]\nhost=" << web.base() << "\n";
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
    for (const auto& e : fs::directory_iterator(state / "quorin/log")) {
        // The client's daily log (not its access log, not the service's).
        if (e.path().extension() != ".log" || !std::isdigit(e.path().filename().string()[0]))
            continue;
        // A log attached to a report names the version and the room at once.
        const std::string log = read_all(e.path());
        logged = log.find("quorin 1.0.0; settings " + folders.settings_file +
                          "; room server none (the local service hosts the room)") != std::string::npos;
        EXPECT_TRUE(logged) << log.substr(0, 2000);
    }
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

// --help and --version on standard output with status 0, nothing on standard error; the client answers
// without a display (with one it would have to open a window, and Qt's xcb platform would abort without a
// display).
TEST(Install, ProgramsAnswerHelpAndVersion) {
    for (const std::string name : {"quorin", "velmor", "roombot"}) {
        const std::string prog = std::string(QUORIN_INSTALL_DIR) + "/" + name;
        const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ";
        auto [version, version_status] = capture(env + prog + " --version 2>&1");
        EXPECT_EQ(version_status, 0) << name;
        EXPECT_EQ(version, name + " 1.0.0\n");
        auto [help, help_status] = capture(env + prog + " --help 2>/dev/null");
        EXPECT_EQ(help_status, 0) << name;
        EXPECT_EQ(help.rfind("usage: " + name, 0), 0u) << help;
        EXPECT_NE(help.find(name + "(1)"), std::string::npos) << "points to the manual page";
        auto [errors, errors_status] = capture(env + prog + " --help 2>&1 >/dev/null");
        EXPECT_EQ(errors, "") << name;
        // The manual page describes every option the program lists (troff writes a dash as \-).
        std::ifstream page(std::string(QUORIN_SOURCE_DIR) + "/assets/man/" + name + ".1");
        const std::string manual((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(manual.empty()) << name;
        for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
            size_t end = at + 2;
            while (end < help.size() &&
                   (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-'))
                ++end;
            std::string option = help.substr(at, end - at);
            std::string troff;
            for (char c : option)
                troff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(manual.find(troff), std::string::npos) << name << "(1) does not describe " << option;
            at = end - 2;
        }
    }
    // A wrong command line still fails, on standard error.
    auto [out, status] = capture(std::string(QUORIN_INSTALL_DIR) + "/velmor --bogus 2>/dev/null");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(out, "");
}

// The site's settings of an installed copy: read under the user's own file, which wins; a build folder's copy
// never reads them.
TEST(Install, SiteSettingsComeUnderTheUsersOwn) {
    TempDir home, site, portable;
    setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    const fs::path site_file = site.path() / "user.txt";
    setenv("QUORIN_SITE_SETTINGS", site_file.c_str(), 1);
    std::ofstream(site_file) << "# the school's\n[room]\nserver=rooms.school.example:6000\n[web]\n"
                                "host=www.school.example\n[network]\nport=6100\n";
    const fs::path installed = home.path() / "lib";
    fs::create_directories(installed);
    std::ofstream(installed / "installed") << "x";
    std::ofstream(installed / "user.txt") << "[network]\nport=5288\n";
    const UserFolders folders = prepare_user_folders(installed.string());
    ASSERT_TRUE(folders.per_user);
    // The seeded file sets the port, so the user's port wins; the room server and the web host are the
    // site's.
    EXPECT_EQ(read_settings(folders.settings_file).port, 5288);
    EXPECT_EQ(settings_get_string("room", "server", "", folders.settings_file), "rooms.school.example:6000");
    EXPECT_EQ(web_host_url(folders.settings_file), "http://www.school.example");
    ASSERT_TRUE(profile_write_string("web", "host", "my.example", folders.settings_file));
    EXPECT_EQ(web_host_url(folders.settings_file), "http://my.example") << "the user's own value wins";
    EXPECT_EQ(settings_get_int("network", "nothing", 7, folders.settings_file), 7);
    EXPECT_EQ(read_all(site_file).find("my.example"), std::string::npos)
        << "the site's file is never written";

    // A build folder (writable, not installed) reads its own file only.
    std::ofstream(portable.path() / "user.txt") << "[network]\nport=5300\n";
    const UserFolders own = user_folders(portable.path().string());
    ASSERT_FALSE(own.per_user);
    EXPECT_EQ(settings_get_string("room", "server", "", own.settings_file), "");
    EXPECT_EQ(web_host_url(own.settings_file), "http://help.lumeno.example");
    unsetenv("QUORIN_SITE_SETTINGS");
}

// The product's name is the same in the window title, the desktop entry and the AppStream file: Chinese for
// zh_CN, English otherwise; so are the categories.
TEST(Install, OneProductNameAcrossWindowDesktopAndAppStream) {
    const std::string desktop = read_all(QUORIN_SOURCE_DIR "/assets/desktop/quorin.desktop");
    const std::string meta = read_all(QUORIN_SOURCE_DIR "/assets/desktop/org.quorin.Quorin.metainfo.xml");
    auto line = [&](const std::string& key) {
        const size_t at = desktop.find("\n" + key + "=");
        return at == std::string::npos
                   ? std::string("(none)")
                   : desktop.substr(at + key.size() + 2, desktop.find('\n', at + 1) - at - key.size() - 2);
    };
    EXPECT_EQ(line("Name[zh_CN]"), kDefaultTitle);
    EXPECT_NE(meta.find("<name xml:lang=\"zh-CN\">" + std::string(kDefaultTitle) + "</name>"),
              std::string::npos);
    EXPECT_NE(meta.find("<name>" + line("Name") + "</name>"), std::string::npos) << line("Name");
    std::string categories;
    for (size_t at = meta.find("<category>"); at != std::string::npos; at = meta.find("<category>", at + 1))
        categories += meta.substr(at + 10, meta.find("</category>", at) - at - 10) + ";";
    EXPECT_EQ(line("Categories"), categories);
    EXPECT_NE(line("Keywords"), "(none)");
    EXPECT_NE(meta.find("<screenshot type=\"default\">"), std::string::npos);
}
