// Start-up (see CquorinApp.h).
#include "app/CquorinApp.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>

#include "app/CStartDlg.h"
#include "app/CtalvexDlg.h"
#include "app/app_texts.h"
#include "app/launch_params.h"
#include "config/client_config.h"
#include "platform/font_warm_up.h"
#include "platform/interface_font.h"
#include "platform/language.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/single_instance.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"
#include "platform/ui_text.h"
#include "skin/CSkinBitmap.h"

namespace {
int g_signal_pipe[2] = {-1, -1};
QPointer<QWidget> g_signal_target;
void on_terminate_signal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &c, 1);
}

// SIGTERM and SIGINT close the window shown now (the start screen, then the main window) like its close
// button, so the link, the log and the service are shut down as usual.
void close_on_terminate_signals(QWidget* window) {
    g_signal_target = window;
    if (g_signal_pipe[0] >= 0)
        return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char c;
        [[maybe_unused]] ssize_t n = read(g_signal_pipe[0], &c, 1);
        if (g_signal_target)
            g_signal_target->close();
    });
    struct sigaction sa {};
    sa.sa_handler = on_terminate_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// The program replaces itself with a copy started with `launch`, as a click on a class link would start it;
// returns only when that fails.
void start_again_with(const std::string& launch) {
    const QByteArray program = QCoreApplication::applicationFilePath().toLocal8Bit();
    const char* argv[] = {program.constData(), launch.c_str(), nullptr};
    execv(program.constData(), const_cast<char* const*>(argv));
}
} // namespace

CquorinApp::CquorinApp(int& argc, char** argv, std::string launch_string)
    : QApplication(argc, argv), launch_string_(std::move(launch_string)) {}

bool CquorinApp::InitInstance() {
    ui_thread::claim();
    test_hooks::arm_widget_list();
    // The language comes first: every text after this line, the first box included, is in it.
    const std::string folder = program_folder();
    const std::string language =
        apply_interface_language(profile_get_string("ui", "language", "auto", settings_file_path(folder)),
                                 path_join(folder, "translations"));
    SingleInstanceGuard guard(QString::fromUtf8(kMutexName));
    if (!guard.acquire()) {
        DeferToRunningCopy(guard);
        return false;
    }
    // Every window from here on has words on it: the font list is read beside the rest of the start-up.
    FontWarmUp fonts;

    set_install_folder(program_folder());
    test_hooks::report("language", QString::fromStdString(language));

    // Started without a user (from the applications menu): the start screen says where to go.
    LaunchParams given;
    parse_launch_params(launch_string_, given);
    // The pictures of the skin are read while fontconfig reads its configuration, which the first window
    // waits for anyway.
    read_skin_pictures_ahead(path_join(install_folder(), "ui"), !ui_text::source_language());
    fonts.WaitForConfiguration();
    apply_interface_font(fonts.ChineseFamily(), language == "zh");
    if (given.user_id == 0 && !RunStartScreen(guard))
        return false;

    CtalvexDlg dlg;
    parse_launch_params(launch_string_, dlg.launch());
    guard.on_raise_request = [&dlg] {
        if (dlg.windowTitle() == QString::fromUtf8(kDefaultTitle))
            dlg.BringToFrontOnRequest();
    };
    guard.on_launch_request = [&dlg](const std::string& launch) { dlg.OnLaunchRequest(launch); };
    close_on_terminate_signals(&dlg);
    dlg.OnInitDialog();
    dlg.exec();
    // The service is stopped while this copy still holds the guard, so a new copy never finds it ending.
    dlg.OnDestroy();

    guard.on_raise_request = nullptr;
    guard.on_launch_request = nullptr;
    guard.release();

    // Another class was chosen: the program starts again with its launch string, as a click on its link
    // would have started it.
    if (const std::optional<std::string>& next = dlg.next_launch())
        start_again_with(*next);
    return false;
}

void CquorinApp::DeferToRunningCopy(SingleInstanceGuard& guard) {
    test_hooks::report("second_copy", "1");
    // A class link clicked while the client runs: the running copy takes it, and this one ends at once.
    LaunchParams wanted;
    parse_launch_params(launch_string_, wanted);
    if (wanted.user_id != 0 && guard.hand_over_launch(launch_string_)) {
        test_hooks::report("handed_over", "1");
        return;
    }
    show_message_box(nullptr, QString::fromUtf8(kAlreadyRunningText), QString::fromUtf8(kCaptionHint),
                     MessageIcon::Information);
    // The running copy comes to the front only while it has the default title.
    guard.ask_running_copy_to_raise();
}

bool CquorinApp::RunStartScreen(SingleInstanceGuard& guard) {
    CStartDlg start(settings_file_path(install_folder()));
    guard.on_launch_request = [&start](const std::string& launch) { start.JoinWithLink(launch); };
    guard.on_raise_request = [&start] {
        start.raise();
        start.activateWindow();
    };
    close_on_terminate_signals(&start);
    test_hooks::arm_main_window(&start);
    test_hooks::report("start_screen", "1");
    const bool joined = start.exec() == QDialog::Accepted;
    guard.on_launch_request = nullptr;
    guard.on_raise_request = nullptr;
    if (joined)
        launch_string_ = start.launch_string();
    return joined;
}
