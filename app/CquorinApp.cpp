// Start-up (see CquorinApp.h).
#include "CquorinApp.h"

#include "CtalvexDlg.h"
#include "app_texts.h"
#include "launch_params.h"
#include "message_box.h"
#include "paths.h"
#include "single_instance.h"
#include "test_hooks.h"

CquorinApp::CquorinApp(int& argc, char** argv, std::string launch_string)
    : QApplication(argc, argv), launch_string_(std::move(launch_string)) {}

bool CquorinApp::InitInstance() {
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

    CtalvexDlg dlg;
    parse_launch_params(launch_string_, dlg.launch());
    guard.on_raise_request = [&dlg] {
        if (dlg.windowTitle() == QString::fromUtf8(kDefaultTitle))
            dlg.BringToFrontOnRequest();
    };
    dlg.OnInitDialog();
    dlg.exec();

    guard.on_raise_request = nullptr;
    guard.release();
    return false;
}
