// Start-up (see CquorinApp.h).
#include "app/CquorinApp.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "app/CtalvexDlg.h"
#include "app/app_texts.h"
#include "app/launch_params.h"
#include "config/client_config.h"
#include "platform/language.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/single_instance.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"

namespace {
int g_signal_pipe[2] = {-1, -1};
void on_terminate_signal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &c, 1);
}

// SIGTERM and SIGINT close the main window like its close button, so the link, the log and the service are
// shut down as usual.
void close_on_terminate_signals(QWidget* window) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signal_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char c;
        [[maybe_unused]] ssize_t n = read(g_signal_pipe[0], &c, 1);
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = on_terminate_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
} // namespace

CquorinApp::CquorinApp(int& argc, char** argv, std::string launch_string)
    : QApplication(argc, argv), launch_string_(std::move(launch_string)) {}

bool CquorinApp::InitInstance() {
    ui_thread::claim();
    // The language comes first: every text after this line, the first box included, is in it.
    const std::string folder = program_folder();
    const std::string language =
        apply_interface_language(profile_get_string("ui", "language", "auto", settings_file_path(folder)),
                                 path_join(folder, "translations"));
    SingleInstanceGuard guard(QString::fromUtf8(kMutexName));
    if (!guard.acquire()) {
        test_hooks::report("second_copy", "1");
        show_message_box(nullptr, QString::fromUtf8(kAlreadyRunningText), QString::fromUtf8(kCaptionHint),
                         MessageIcon::Information);
        // The running copy comes to the front only while it has the default title.
        guard.ask_running_copy_to_raise();
        return false;
    }

    set_install_folder(program_folder());
    test_hooks::report("language", QString::fromStdString(language));

    CtalvexDlg dlg;
    parse_launch_params(launch_string_, dlg.launch());
    guard.on_raise_request = [&dlg] {
        if (dlg.windowTitle() == QString::fromUtf8(kDefaultTitle))
            dlg.BringToFrontOnRequest();
    };
    close_on_terminate_signals(&dlg);
    dlg.OnInitDialog();
    dlg.exec();
    // The service is stopped while this copy still holds the guard, so a new copy never finds it ending.
    dlg.OnDestroy();

    guard.on_raise_request = nullptr;
    guard.release();
    return false;
}
