// The start screen, shown when the client is started without a user (from the applications menu): a class
// link pasted or opened, or the room, the user and the room server typed in. The last entries are remembered
// in the per-user settings file. All of it runs on the UI thread.
#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;

// What the start screen's fields make: a launch string, or the text that says what is missing.
struct StartChoice {
    std::string launch; // GBK key=value pairs, with a user id
    std::string server; // HOST:PORT, or empty for the room of the own service
    std::string error;  // UTF-8, empty when the choice is good
};

// From a class link (quorin://join?...) or a launch string; else from the room, user and server fields.
StartChoice make_start_choice(const std::string& link, const std::string& room, const std::string& user,
                              const std::string& server);

class CStartDlg : public QDialog {
public:
    // `settings_file` holds the remembered entries ([start]) and receives the room server ([room] server).
    explicit CStartDlg(std::string settings_file, QWidget* parent = nullptr);

    // Joins with a link that arrived from another copy, as if it had been pasted and the join button pressed.
    void JoinWithLink(const std::string& link_or_launch);

    // The launch string chosen (after Accepted).
    const std::string& launch_string() const { return choice_.launch; }

    void accept() override;

private:
    void Paste();

    std::string settings_file_;
    QLineEdit* link_;
    QLineEdit* room_;
    QLineEdit* user_;
    QLineEdit* server_;
    QLabel* error_;
    StartChoice choice_;
};
