// The application object: one copy per user session, the install folder, the main dialog run modally.
#pragma once

#include <QApplication>

#include <string>

class SingleInstanceGuard;

class CquorinApp : public QApplication {
    Q_OBJECT
public:
    // `launch_string` is the command-line tail, taken before Qt looks at the arguments.
    CquorinApp(int& argc, char** argv, std::string launch_string);

    // Start-up and the modal run. Always false: the process ends when it returns.
    bool InitInstance();

private:
    // A second copy: hands its class link to the running copy, or says that one runs and brings it forward.
    void DeferToRunningCopy(SingleInstanceGuard& guard);
    // The start screen of a start without a user; true when the user joined a class (its launch string is
    // then this copy's).
    bool RunStartScreen(SingleInstanceGuard& guard);

    std::string launch_string_;
};
