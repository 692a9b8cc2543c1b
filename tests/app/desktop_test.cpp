// The client on a real desktop, used as a person uses it: a private X server with a window manager (openbox),
// the mouse and keyboard through XTEST, and screenshots looked at. Faults of this kind (a window that ignores
// the mouse, a click that starts a move) do not show without a window manager.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <set>

#include "desktop.h"
#include "installation.h"
#include "platform/process.h"

namespace {

// Where the screenshots of these tests go, for people to look at.
std::string shot_path(const std::string& name) {
    return (fs::path(QUORIN_INSTALL_DIR).parent_path() / ("desktop_" + name + ".png")).string();
}

// A private install folder of the built client with its skin and the test-pattern camera, run on a
// Desktop; its service listens on a port the system picks.
class DesktopClient {
public:
    explicit DesktopClient(const Desktop& desktop, const std::string& extra_settings = "",
                           const std::string& media_settings = "")
        : desktop_(desktop) {
        const fs::path built = QUORIN_INSTALL_DIR;
        for (const char* program : {"quorin", "velmor"})
            fs::copy_file(built / program, dir_.path() / program);
        for (const char* data : {"ui", "Faces", "sound", "icons"})
            if (fs::exists(built / data))
                fs::create_directory_symlink(built / data, dir_.path() / data);
        for (const char* folder : {"log", "timage", "run"})
            fs::create_directories(dir_.path() / folder);
        fs::permissions(dir_.path() / "run", fs::perms::owner_all);
        write_file(dir_.file("user.txt"),
                   "[media]\ntest_camera=1\n" + media_settings + "[network]\nport=any\n" + extra_settings);
    }
    ~DesktopClient() {
        for (pid_t pid : started_)
            if (process_running(pid))
                terminate_process(pid);
        for (pid_t service : find_own_processes_by_exe(dir_.file("velmor")))
            kill(service, SIGKILL);
    }

    // Starts a copy with its arguments; its report, widget list and errors are named after `name`.
    pid_t start(const std::string& name, const std::vector<std::string>& args,
                const std::vector<std::string>& extra_env = {}) {
        std::string cmd = "exec ./quorin";
        for (const auto& a : args)
            cmd += " '" + a + "'";
        cmd += " 2>" + name + ".err";
        std::vector<std::string> env = {"DISPLAY=" + desktop_.display(),
                                        "QT_QPA_PLATFORM=xcb",
                                        "QUORIN_NONINTERACTIVE=",
                                        "XDG_RUNTIME_DIR=" + dir_.file("run"),
                                        "QUORIN_REPORT=" + dir_.file(name + ".rep"),
                                        "QUORIN_WIDGETS=" + dir_.file(name + ".widgets"),
                                        "HOME=" + dir_.path().string(),
                                        "XDG_CONFIG_HOME=" + dir_.file("config")};
        env.insert(env.end(), extra_env.begin(), extra_env.end());
        const pid_t pid = spawn_process("/bin/sh", {"-c", cmd}, dir_.path().string(), env);
        if (pid > 0)
            started_.push_back(pid);
        return pid;
    }

    std::map<std::string, QRect> widgets(const std::string& name = "client") const {
        return read_widget_list(dir_.file(name + ".widgets"));
    }
    // The place of a widget on the screen once it is visible (an empty rectangle on time-out).
    QRect wait_widget(const std::string& path, int timeout_ms = 15000,
                      const std::string& name = "client") const {
        QRect r;
        eventually(
            [&] {
                auto list = widgets(name);
                auto it = list.find(path);
                if (it == list.end())
                    return false;
                r = it->second;
                return true;
            },
            timeout_ms);
        return r;
    }
    bool wait_gone(const std::string& path, int timeout_ms = 10000,
                   const std::string& name = "client") const {
        return eventually([&] { return widgets(name).count(path) == 0; }, timeout_ms);
    }
    std::string report(const std::string& name = "client") const {
        return read_file(dir_.file(name + ".rep"));
    }
    std::string errors(const std::string& name = "client") const {
        return read_file(dir_.file(name + ".err"));
    }
    bool wait_for_report(const std::string& line, int timeout_ms, const std::string& name = "client") const {
        return eventually([&] { return report(name).find(line) != std::string::npos; }, timeout_ms);
    }
    std::string file(const std::string& name) const { return dir_.file(name); }

private:
    const Desktop& desktop_;
    TempDir dir_;
    std::vector<pid_t> started_;
};

// The first entry of the widget list whose path starts with `prefix` (empty when none).
std::pair<std::string, QRect> widget_starting(const DesktopClient& c, const std::string& prefix,
                                              const std::string& name = "client") {
    for (const auto& [path, r] : c.widgets(name))
        if (path.rfind(prefix, 0) == 0)
            return {path, r};
    return {};
}

std::pair<std::string, QRect> wait_widget_starting(const DesktopClient& c, const std::string& prefix,
                                                   int timeout_ms, const std::string& name = "client") {
    std::pair<std::string, QRect> found;
    eventually([&] { return !(found = widget_starting(c, prefix, name)).first.empty(); }, timeout_ms);
    return found;
}

void click_on(const Desktop& d, const QRect& r) {
    d.click(r.center().x(), r.center().y());
}

// A click that gives a field of a window the keyboard. A window that has just opened may still be placed by
// the window manager when the client lists it, so the click is made again at the listed place until the
// client says the field has the focus.
bool focus_field(const Desktop& d, const DesktopClient& c, const std::string& path, const std::string& name) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QRect r = c.wait_widget(path, 5000, name);
        if (r.isEmpty())
            return false;
        click_on(d, r);
        if (!c.wait_widget("focus:" + path, 1500, name).isEmpty())
            return true;
    }
    return false;
}

// A click on a button that closes its window, made again (at the place listed now) until the window is gone.
bool click_away(const Desktop& d, const DesktopClient& c, const std::string& button,
                const std::string& window, const std::string& name) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QRect r = c.wait_widget(button, 5000, name);
        if (r.isEmpty())
            return c.wait_gone(window, 100, name);
        click_on(d, r);
        if (c.wait_gone(window, 3000, name))
            return true;
    }
    return false;
}

// Leaving while a class is on asks first: the person says yes. `scale` turns the client's widget places into
// screen pixels (QT_SCALE_FACTOR).
// The question may still be placed by the window manager when the client lists it, so the click on 是 is made
// again (at the place listed now) while the question stays and the client `pid` runs.
bool confirm_leaving(const Desktop& d, const DesktopClient& c, pid_t pid, const std::string& name = "client",
                     int scale = 1) {
    const std::string yes_button = "QMessageBox/qt_msgbox_buttonbox/button:是";
    auto answered = [&] {
        return !process_running(pid) || widget_starting(c, yes_button, name).first.empty();
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto yes = wait_widget_starting(c, yes_button, attempt == 0 ? 10000 : 500, name);
        if (yes.first.empty())
            return attempt > 0; // answered before
        d.click(yes.second.center().x() * scale, yes.second.center().y() * scale);
        if (eventually(answered, 3000))
            return true;
    }
    return false;
}

// A window dragged by `by` follows the pointer once it has gone the drag distance: it moves by `by` less at
// most the first step of the drag.
bool moved_by(const QRect& before, const QRect& after, const QPoint& by) {
    const QPoint d = after.topLeft() - before.topLeft();
    return std::abs(d.x() - by.x()) <= 20 && std::abs(d.y() - by.y()) <= 20 && d.manhattanLength() > 40;
}

// The client alone in the room of its own service, as its host, with its camera on.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.ready()) << desktop.why_not();
        client = std::make_unique<DesktopClient>(desktop);
        pid = client->start("client", {"userid=1001&roomid=1&subject=desk"});
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(client->wait_for_report("notice=本地摄像头已开启\n", 20000)) << client->report();
        main_window = client->wait_widget("main_window");
        ASSERT_FALSE(main_window.isEmpty());
        media = client->wait_widget("main_window/media_panel");
        ASSERT_FALSE(media.isEmpty());
    }
    // Hovers the local picture and clicks a button of its control bar.
    void click_bar_button(int id) {
        desktop.move(media.center().x(), media.center().y());
        const QRect b = client->wait_widget("main_window/media_panel/" + std::to_string(id), 5000);
        ASSERT_FALSE(b.isEmpty()) << "the control bar shows while the mouse is over the picture";
        desktop.click(b.center().x(), b.center().y());
    }
    QRect zoom() { return client->wait_widget("zoom_window", 8000); }
    // A double click at `at` (on a picture) until the zoom window shows. A loaded machine may deliver the two
    // clicks so far apart that they are two single clicks, which open nothing: the double click is then made
    // again, never while a zoom window is listed.
    QRect zoom_by_double_click(const QPoint& at) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (client->widgets().count("zoom_window") == 0)
                desktop.double_click(at.x(), at.y());
            if (const QRect z = zoom(); !z.isEmpty())
                return z;
        }
        return {};
    }
    bool zoom_has_size(const QSize& picture) {
        return eventually(
            [&] {
                const auto list = client->widgets();
                auto it = list.find("zoom_window");
                return it != list.end() && it->second.width() == picture.width() &&
                       it->second.height() > picture.height();
            },
            8000);
    }
    // True when the process ends within the time.
    bool ends(int timeout_ms) { return wait_process(pid, timeout_ms).has_value(); }

    Desktop desktop;
    std::unique_ptr<DesktopClient> client;
    pid_t pid = 0;
    QRect main_window, media;
};

} // namespace

TEST_F(DesktopTest, ZoomWindowTakesTheMouseAndTheKeyboard) {
    click_bar_button(1002);
    QRect z = zoom();
    ASSERT_FALSE(z.isEmpty()) << "the zoom button opens the zoom window";
    EXPECT_EQ(z.width(), 320);
    const QImage opened = desktop.screenshot(shot_path("zoom_opened"));
    // The test pattern's yellow bar is what a person sees in it.
    EXPECT_GT(count_pixels(opened, z, qRgb(255, 255, 0)), 500);

    // Its + enlarges it.
    QRect plus = client->wait_widget("zoom_window/1068");
    ASSERT_FALSE(plus.isEmpty());
    desktop.click(plus.center().x(), plus.center().y());
    EXPECT_TRUE(zoom_has_size({352, 288})) << "the + button";
    plus = client->wait_widget("zoom_window/1068");
    desktop.click(plus.center().x(), plus.center().y());
    ASSERT_TRUE(zoom_has_size({640, 480}));

    // Dragging its strip moves it, and a click on the strip alone does not.
    z = zoom();
    const QPoint strip(z.x() + 60, z.y() + 8);
    desktop.click(strip.x(), strip.y());
    desktop.drag(strip.x(), strip.y(), strip.x() - 150, strip.y() + 90);
    EXPECT_TRUE(eventually(
        [&] {
            return moved_by(z, zoom(), {-150, 90});
        },
        5000))
        << "from " << z.x() << "," << z.y() << " to " << zoom().x() << "," << zoom().y();

    // A double click on the picture goes to the full screen, another comes back to 800 x 600.
    z = zoom();
    desktop.double_click(z.center().x(), z.center().y());
    EXPECT_TRUE(zoom_has_size({1600, 0}) ||
                eventually([&] { return zoom().size() == QSize(1600, 1000); }, 5000));
    desktop.screenshot(shot_path("zoom_full_screen"));
    z = zoom();
    desktop.double_click(z.center().x(), z.center().y());
    EXPECT_TRUE(zoom_has_size({800, 600}));

    // Escape reaches it: it has the keyboard.
    desktop.key("Escape");
    EXPECT_TRUE(client->wait_gone("zoom_window")) << "Escape closes the zoom window";

    // Opened again, its x closes it.
    click_bar_button(1002);
    ASSERT_FALSE(zoom().isEmpty());
    EXPECT_TRUE(click_away(desktop, *client, "zoom_window/1069", "zoom_window", "client")) << "the x button";
    EXPECT_TRUE(process_running(pid));
}

TEST_F(DesktopTest, DialogsOpenAboveTheZoomWindow) {
    click_bar_button(1002);
    ASSERT_FALSE(zoom().isEmpty());
    // The zoom window is placed over the audio setup button's dialog area: the dialog must come above it.
    const QRect audio = client->wait_widget("main_window/1083");
    ASSERT_FALSE(audio.isEmpty());
    desktop.click(audio.center().x(), audio.center().y());
    const QRect dialog = client->wait_widget("CAudioSetup", 8000);
    ASSERT_FALSE(dialog.isEmpty()) << "the audio setup dialog opens";
    desktop.move(0, 0);
    const QImage shot = desktop.screenshot(shot_path("dialog_over_zoom"));
    // Where the two overlap, a person sees the dialog, not the picture.
    const QRect overlap = dialog.intersected(zoom());
    if (!overlap.isEmpty()) {
        EXPECT_LT(count_pixels(shot, overlap, qRgb(255, 255, 0), 10),
                  overlap.width() * overlap.height() / 50);
    }
    // And the stacking order says so.
    const std::string stacking = desktop.run({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
    const auto windows = desktop.windows_of(pid);
    unsigned long zoom_id = 0, dialog_id = 0;
    for (const auto& [id, r] : windows) {
        if (r.size() == zoom().size())
            zoom_id = id;
        if (r.size() == dialog.size())
            dialog_id = id;
    }
    ASSERT_NE(zoom_id, 0u);
    ASSERT_NE(dialog_id, 0u);
    auto hex = [](unsigned long id) {
        char b[32];
        snprintf(b, sizeof b, "0x%lx", id);
        return std::string(b);
    };
    EXPECT_LT(stacking.find(hex(zoom_id)), stacking.find(hex(dialog_id))) << stacking;
    desktop.key("Escape");
    EXPECT_TRUE(client->wait_gone("CAudioSetup"));
}

TEST_F(DesktopTest, DoubleClickOnAPictureThenTheCloseButtonEndsTheClient) {
    // The documented way to zoom: a double click on the picture.
    ASSERT_FALSE(zoom_by_double_click({media.center().x(), media.center().y() - 30}).isEmpty())
        << "a double click on the picture opens the zoom window";
    ASSERT_TRUE(click_away(desktop, *client, "zoom_window/1069", "zoom_window", "client"));
    // The window has not moved, and its close button ends the client.
    EXPECT_EQ(client->wait_widget("main_window").topLeft(), main_window.topLeft());
    const QRect close = client->wait_widget("main_window/1069");
    ASSERT_FALSE(close.isEmpty());
    desktop.click(close.center().x(), close.center().y());
    ASSERT_TRUE(confirm_leaving(desktop, *client, pid)) << "leaving a class asks first";
    EXPECT_TRUE(ends(15000)) << "the close button ends the client";
}

// The zoom window opens over the mouse on the picture and is closed with its x away from the picture: the
// picture's control bar must not stay behind.
TEST_F(DesktopTest, TheControlBarGoesWhenTheZoomWindowTookTheMouse) {
    // The local picture to the middle of the screen, where the zoom window opens.
    const QPoint strip(main_window.x() + 600, main_window.y() + 20);
    const QPoint screen_centre(800, 500);
    const QPoint by = screen_centre - media.center();
    desktop.drag(strip.x(), strip.y(), strip.x() + by.x(), strip.y() + by.y());
    ASSERT_TRUE(eventually(
        [&] {
            const QRect m = client->wait_widget("main_window/media_panel");
            return m.contains(screen_centre) && m.contains(screen_centre + QPoint(0, 40));
        },
        5000))
        << "the window moves";
    const QRect z = zoom_by_double_click(screen_centre + QPoint(0, 40));
    ASSERT_FALSE(z.isEmpty());
    ASSERT_TRUE(z.contains(screen_centre + QPoint(0, 40))) << "the zoom window opens over the mouse";
    const QRect x = client->wait_widget("zoom_window/1069");
    ASSERT_FALSE(client->wait_widget("main_window/media_panel").contains(x.center()));
    ASSERT_TRUE(click_away(desktop, *client, "zoom_window/1069", "zoom_window", "client"));
    desktop.move(2, 2);
    EXPECT_TRUE(client->wait_gone("main_window/media_panel/1002")) << "the control bar hides";
    desktop.screenshot(shot_path("bar_after_zoom"));
}

TEST_F(DesktopTest, TheWindowMovesByDragsOnlyAndMaximisesByDoubleClickOnItsTopStrip) {
    // A drag on a picture or a tile does not move the window.
    desktop.drag(media.center().x(), media.center().y(), media.center().x() + 120, media.center().y() + 60);
    const QRect tile = client->wait_widget("main_window/user_list");
    desktop.drag(tile.x() + 40, tile.y() + 30, tile.x() + 160, tile.y() + 90);
    EXPECT_EQ(client->wait_widget("main_window").topLeft(), main_window.topLeft())
        << "drags on pictures and tiles";
    // A click on the top strip does not move it either, nor does the next click.
    const QPoint strip(main_window.x() + 600, main_window.y() + 20);
    desktop.click(strip.x(), strip.y());
    desktop.click(strip.x() + 200, strip.y() + 300);
    EXPECT_EQ(client->wait_widget("main_window").topLeft(), main_window.topLeft()) << "clicks";
    // A drag on the top strip moves it.
    desktop.drag(strip.x(), strip.y(), strip.x() - 100, strip.y() + 50);
    EXPECT_TRUE(eventually(
        [&] {
            return moved_by(main_window, client->wait_widget("main_window"), {-100, 50});
        },
        5000))
        << "moved to " << client->wait_widget("main_window").x() << ","
        << client->wait_widget("main_window").y();
    // A double click on the top strip maximises, a second one restores.
    const QRect moved = client->wait_widget("main_window");
    desktop.double_click(moved.x() + 600, moved.y() + 20);
    EXPECT_TRUE(
        eventually([&] { return client->wait_widget("main_window").size() == QSize(1600, 1000); }, 5000));
    desktop.screenshot(shot_path("maximised"));
    // The height goes to rows of tiles rather than to an ever larger chat input.
    EXPECT_TRUE(
        eventually([&] { return client->wait_widget("main_window/user_list").height() > 200; }, 5000));
    EXPECT_LT(client->wait_widget("main_window/chat_input").height(), 300);
    desktop.double_click(600, 20);
    EXPECT_TRUE(eventually([&] { return client->wait_widget("main_window") == moved; }, 5000));
}

TEST_F(DesktopTest, CornersResizeTheWindow) {
    // Near the bottom right corner along its bottom edge, not exactly in it.
    const QPoint from(main_window.right() - 12, main_window.bottom() - 1);
    desktop.drag(from.x(), from.y(), from.x() + 120, from.y() + 80);
    // Both sides follow the pointer (an edge would change one), less at most the first step of the drag,
    // which a loaded window manager may take as the start.
    EXPECT_TRUE(eventually(
        [&] {
            const QSize grown = client->wait_widget("main_window").size() - main_window.size();
            return std::abs(grown.width() - 120) <= 20 && std::abs(grown.height() - 80) <= 20;
        },
        5000))
        << "size " << client->wait_widget("main_window").width() << "x"
        << client->wait_widget("main_window").height();
}

// F11 works wherever the keyboard is: in the main window it opens the selected picture at the full screen
// and closes it again; in a zoom window (which has the keyboard once it opened) it goes to the full screen
// and back to the size it had. The other keys of the class work in a zoom window too.
TEST_F(DesktopTest, F11GoesToTheFullScreenAndBackFromTheMainWindowAndFromAZoomWindow) {
    const QSize full(1600, 1000);
    auto zoom_size_is = [&](const QSize& size) {
        return eventually([&] { return zoom().size() == size; }, 8000);
    };
    desktop.double_click(media.center().x(), media.center().y() - 30);
    ASSERT_FALSE(zoom().isEmpty());
    const QSize first = zoom().size();
    desktop.key("F11");
    EXPECT_TRUE(zoom_size_is(full)) << "F11 in the zoom window: " << zoom().width() << "x" << zoom().height();
    desktop.screenshot(shot_path("f11_from_zoom"));
    // The class's other keys work from the full screen too.
    ASSERT_TRUE(client->wait_for_report("notice=本地麦克风已开启\n", 10000)) << client->report();
    desktop.key("alt+a");
    EXPECT_TRUE(client->wait_for_report("notice=本地麦克风已关闭\n", 10000)) << "Alt+A in the zoom window";
    desktop.key("F11");
    EXPECT_TRUE(zoom_size_is(first)) << "again: back to the size it had";
    desktop.key("Escape");
    ASSERT_TRUE(client->wait_gone("zoom_window"));

    // From the main window: the selected picture at the full screen, and F11 again returns to the window.
    desktop.click(media.center().x(), media.center().y() - 30);
    ASSERT_FALSE(wait_widget_starting(*client, "focus:main_window", 5000).first.empty())
        << "the main window has the keyboard again";
    desktop.key("F11");
    EXPECT_TRUE(zoom_size_is(full));
    desktop.key("F11");
    EXPECT_TRUE(client->wait_gone("zoom_window")) << "F11 again closes what F11 opened";
    EXPECT_TRUE(process_running(pid));
}

// A window that ends while one of its dialogs or boxes is open (SIGTERM at a logout or shut-down) does not
// wait under it: the dialog closes as by Cancel, the client and its service end.
TEST_F(DesktopTest, TheClientEndsOnSIGTERMWhileADialogOrTheLeavingQuestionIsOpen) {
    const QRect audio = client->wait_widget("main_window/1083");
    ASSERT_FALSE(audio.isEmpty());
    click_on(desktop, audio);
    ASSERT_FALSE(client->wait_widget("CAudioSetup", 8000).isEmpty()) << "the audio setup dialog opens";
    kill(pid, SIGTERM);
    EXPECT_TRUE(ends(15000)) << "SIGTERM with the audio setup dialog open";
    desktop.screenshot(shot_path("sigterm_with_dialog"));

    // The leaving question is such a box too.
    DesktopClient second(desktop);
    const pid_t asked = second.start("second", {"userid=1002&roomid=2"});
    ASSERT_TRUE(second.wait_for_report("notice=登录成功！\n", 20000, "second")) << second.report("second");
    click_on(desktop, second.wait_widget("main_window/1069", 5000, "second"));
    ASSERT_FALSE(wait_widget_starting(second, "QMessageBox/qt_msgbox_buttonbox/button:是", 10000, "second")
                     .first.empty());
    kill(asked, SIGTERM);
    EXPECT_TRUE(wait_process(asked, 15000).has_value()) << "SIGTERM with the leaving question open";
    EXPECT_TRUE(eventually([&] { return find_own_processes_by_exe(second.file("velmor")).empty(); }, 10000))
        << "its service ends too";
}

// The setup dialogs as a person goes through them: Tab goes row by row (each list, then its volume button,
// then OK and Cancel), and the window manager offers no maximising (it stretched two lists over the screen).
TEST_F(DesktopTest, SetupDialogsTabRowByRowAndCannotBeMaximised) {
    auto hex = [](unsigned long id) {
        char b[32];
        snprintf(b, sizeof b, "0x%lx", id);
        return std::string(b);
    };
    // The frame's actions of the window of `pid` that has the dialog's size.
    auto allowed_actions = [&](const QRect& dialog) {
        for (const auto& [id, r] : desktop.windows_of(pid))
            if (r.size() == dialog.size())
                return desktop.run({"xprop", "-id", hex(id), "_NET_WM_ALLOWED_ACTIONS"});
        return std::string("no window of the dialog's size");
    };
    auto focus_on = [&](const std::string& path) {
        return !wait_widget_starting(*client, "focus:" + path, 3000).first.empty();
    };
    click_on(desktop, client->wait_widget("main_window/1083"));
    const QRect audio = client->wait_widget("CAudioSetup", 8000);
    ASSERT_FALSE(audio.isEmpty()) << "the audio setup dialog opens";
    ASSERT_TRUE(focus_on("CAudioSetup/1062")) << widget_starting(*client, "focus:").first;
    for (const char* next : {"CAudioSetup/1064", "CAudioSetup/1063", "CAudioSetup/1065",
                             "CAudioSetup/button:确定", "CAudioSetup/button:取消", "CAudioSetup/1062"}) {
        desktop.key("Tab");
        EXPECT_TRUE(focus_on(next)) << "Tab to " << next << ", at "
                                    << widget_starting(*client, "focus:").first;
    }
    desktop.move(0, 0);
    desktop.screenshot(shot_path("audio_setup"));
    std::string actions;
    ASSERT_TRUE(eventually(
        [&] { return (actions = allowed_actions(audio)).find("_NET_WM_ACTION_CLOSE") != std::string::npos; },
        5000))
        << actions;
    EXPECT_EQ(actions.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << actions;
    desktop.key("Escape");
    ASSERT_TRUE(client->wait_gone("CAudioSetup"));

    click_on(desktop, client->wait_widget("main_window/1084"));
    const QRect video = client->wait_widget("CVideoSetup", 8000);
    ASSERT_FALSE(video.isEmpty()) << "the camera setup dialog opens";
    desktop.screenshot(shot_path("video_setup"));
    ASSERT_TRUE(eventually(
        [&] { return (actions = allowed_actions(video)).find("_NET_WM_ACTION_CLOSE") != std::string::npos; },
        5000))
        << actions;
    EXPECT_EQ(actions.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << actions;
    desktop.key("Escape");
    EXPECT_TRUE(client->wait_gone("CVideoSetup"));
    EXPECT_TRUE(process_running(pid));
}

TEST(DesktopStart, WithoutALinkTheStartScreenJoinsAndRemembers) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << desktop.why_not();
    DesktopClient client(desktop);
    pid_t first = client.start("first", {});
    ASSERT_GT(first, 0);
    const QRect room = client.wait_widget("start_screen/room", 15000, "first");
    ASSERT_FALSE(room.isEmpty()) << "the start screen opens" << client.errors("first");
    // The room and the user typed in; the server left empty: the room of the own service.
    ASSERT_TRUE(focus_field(desktop, client, "start_screen/room", "first"));
    desktop.type("1");
    ASSERT_TRUE(focus_field(desktop, client, "start_screen/user", "first"));
    desktop.type("1001");
    desktop.screenshot(shot_path("start_screen"));
    ASSERT_TRUE(click_away(desktop, client, "start_screen/join", "start_screen", "first"))
        << client.errors("first");
    ASSERT_TRUE(client.wait_for_report("notice=登录成功！\n", 20000, "first")) << client.report("first");
    EXPECT_NE(read_file(client.file("user.txt")).find("userid=1001"), std::string::npos);
    // The close button ends it.
    click_on(desktop, client.wait_widget("main_window/1069", 5000, "first"));
    ASSERT_TRUE(confirm_leaving(desktop, client, first, "first"));
    ASSERT_TRUE(wait_process(first, 15000).has_value());

    // Started again: the last entries are there, one click joins.
    pid_t again = client.start("again", {});
    ASSERT_FALSE(client.wait_widget("start_screen/join", 15000, "again").isEmpty());
    ASSERT_TRUE(click_away(desktop, client, "start_screen/join", "start_screen", "again"));
    EXPECT_TRUE(client.wait_for_report("notice=登录成功！\n", 20000, "again")) << client.report("again");
    // A wrong entry is said in the screen, not in a box.
    terminate_process(again);
}

TEST(DesktopStart, ALinkClickedWhileInAnotherClassIsJoinedAfterAsking) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << desktop.why_not();
    DesktopClient client(desktop);
    pid_t first = client.start("first", {"userid=1001&roomid=1"});
    ASSERT_TRUE(client.wait_for_report("notice=登录成功！\n", 20000, "first")) << client.report("first");

    // A second copy with a link: it hands the link over and ends by itself, without a box, while the first
    // still asks (its question is answered only below).
    const auto started = std::chrono::steady_clock::now();
    pid_t second = client.start("second", {"quorin://join?userid=1002&roomid=2"});
    ASSERT_EQ(wait_process(second, 60000).value_or(-1), 0);
    std::printf("the second copy ended %.2f s after its start\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    EXPECT_EQ(client.errors("second").find("message box"), std::string::npos) << client.errors("second");
    EXPECT_NE(client.report("second").find("handed_over=1\n"), std::string::npos) << client.report("second");

    // The first asks, in Chinese, with a question icon; yes joins the new class.
    const auto yes =
        wait_widget_starting(client, "QMessageBox/qt_msgbox_buttonbox/button:是", 10000, "first");
    ASSERT_FALSE(yes.first.empty()) << "a question in Chinese: " << read_file(client.file("first.widgets"))
                                    << client.errors("first");
    desktop.screenshot(shot_path("switch_class_question"));
    EXPECT_NE(client.errors("first").find("question [提示]: 您正在另一个课堂中"), std::string::npos);
    click_on(desktop, yes.second);
    EXPECT_TRUE(client.wait_for_report("switch_class=1\n", 5000, "first"));
    // The same process comes back in the new class, as user 1002.
    EXPECT_TRUE(eventually(
        [&] {
            const std::string r = client.report("first");
            const size_t at = r.find("switch_class=1\n");
            return at != std::string::npos && r.find("notice=登录成功！\n", at) != std::string::npos;
        },
        20000))
        << client.report("first");
    EXPECT_TRUE(process_running(first));
    EXPECT_NE(client.report("first").find("user_added=1002"), std::string::npos) << client.report("first");
    terminate_process(first);
}

TEST_F(DesktopTest, TabMovesTheFocusThroughTheControlsWithAVisibleRing) {
    ASSERT_TRUE(focus_field(desktop, *client, "main_window/chat_input/1018", "client"));
    desktop.key("Tab");
    EXPECT_FALSE(wait_widget_starting(*client, "focus:main_window/chat_input/1019", 15000).first.empty())
        << "Tab leaves the chat input for the send button: " << widget_starting(*client, "focus:").first;
    // A skin button with the focus shows a ring a person can see.
    const QRect send = client->wait_widget("main_window/chat_input/1019");
    desktop.move(0, 0);
    // The ring is painted after the focus moved, and the list of widgets may say so first.
    int ring = 0;
    eventually(
        [&] {
            ring = count_pixels(desktop.screenshot(), send.adjusted(-1, -1, 1, 1), qRgb(255, 160, 0), 40);
            return ring > 40;
        },
        10000, 100);
    desktop.screenshot(shot_path("focus_ring"));
    EXPECT_GT(ring, 40);
    // Further Tabs go on through the window's controls and come back round. Each Tab is taken once the
    // client has handled the one before (it says where the focus is now; a loaded machine may take a while).
    auto focus = [&] {
        const auto f = widget_starting(*client, "focus:");
        return f.first + " " + std::to_string(f.second.x()) + "," + std::to_string(f.second.y());
    };
    std::set<std::string> visited;
    for (int i = 0; i < 25; ++i) {
        const std::string before = focus();
        desktop.key("Tab");
        eventually([&] { return focus() != before; }, 5000);
        visited.insert(widget_starting(*client, "focus:").first.substr(0, 60));
    }
    std::printf("%zu controls took the focus in turn\n", visited.size());
    EXPECT_GE(visited.size(), 8u);
}

TEST(DesktopScale, TwoHundredPercentFitsAFullHdScreen) {
    Desktop desktop(1920, 1080);
    ASSERT_TRUE(desktop.ready()) << desktop.why_not();
    DesktopClient client(desktop);
    pid_t pid = client.start("client", {"userid=1001&roomid=1"}, {"QT_SCALE_FACTOR=2"});
    ASSERT_TRUE(client.wait_for_report("notice=登录成功！\n", 20000)) << client.report();
    QRect window;
    ASSERT_TRUE(eventually(
        [&] {
            const auto w = desktop.windows_of(pid);
            for (const auto& [id, r] : w)
                if (r.width() > 1000)
                    window = r;
            return !window.isEmpty();
        },
        30000));
    desktop.screenshot(shot_path("scale_200"));
    EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(window))
        << window.x() << "," << window.y() << " " << window.width() << "x" << window.height();
    // Its close button is on the screen and ends it (widget places are in the scaled coordinates).
    const QRect close = client.wait_widget("main_window/1069");
    ASSERT_FALSE(close.isEmpty());
    desktop.click(close.center().x() * 2, close.center().y() * 2);
    ASSERT_TRUE(confirm_leaving(desktop, client, pid, "client", 2)) << "the question opens on the screen";
    EXPECT_TRUE(wait_process(pid, 15000).has_value());
}

TEST(DesktopSound, AMicrophoneThatCannotBeOpenedIsShownOffWithTheReason) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << desktop.why_not();
    // A recording device past the list is the default one, and the default source does not exist.
    DesktopClient client(desktop, "", "record_deviceid=99\n");
    pid_t pid = client.start("client", {"userid=1001&roomid=1"}, {"PULSE_SOURCE=quorin_no_such_source"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(client.wait_for_report("notice=无法打开麦克风：", 20000)) << client.report();
    EXPECT_EQ(client.report().find("notice=本地麦克风已开启"), std::string::npos) << "never said on";
    const QRect mic = client.wait_widget("main_window/status_bar/1033");
    ASSERT_FALSE(mic.isEmpty());
    desktop.move(mic.center().x(), mic.center().y());
    usleep(1500000);
    desktop.screenshot(shot_path("microphone_failed"));
    // It is off: a click on the button tries to switch it on again (and says why it cannot), not off.
    desktop.click(mic.center().x(), mic.center().y());
    EXPECT_TRUE(eventually(
        [&] {
            const std::string r = client.report();
            const size_t first = r.find("notice=无法打开麦克风：");
            return first != std::string::npos &&
                   r.find("notice=无法打开麦克风：", first + 1) != std::string::npos;
        },
        15000))
        << client.report();
    EXPECT_EQ(client.report().find("notice=本地麦克风已关闭"), std::string::npos);
    terminate_process(pid);
}
