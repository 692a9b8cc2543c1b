// The application object: one copy per user session, the install folder, the main dialog run modally.
#pragma once

#include <QApplication>

#include <string>

class CquorinApp : public QApplication {
    Q_OBJECT
public:
    // `launch_string` is the command-line tail, taken before Qt looks at the arguments.
    CquorinApp(int& argc, char** argv, std::string launch_string);

    // Start-up and the modal run. Always false: the process ends when it returns.
    bool InitInstance();

private:
    std::string launch_string_;
};
