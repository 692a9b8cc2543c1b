// The start screen (see CStartDlg.h).
#include "app/CStartDlg.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <cstdlib>

#include "app/app_texts.h"
#include "app/launch_params.h"
#include "platform/profile.h"
#include "platform/qtext.h"
#include "platform/text.h"

namespace {

std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

// A decimal number from 1 to 4294967295, or 0.
uint32_t positive_number(const std::string& s) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    return v > 0xFFFFFFFFull ? 0 : uint32_t(v);
}

bool valid_server(const std::string& s) {
    const size_t colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= s.size() || s.size() > 255)
        return false;
    if (s.find_first_of(" \t\"&") != std::string::npos)
        return false;
    const std::string port = s.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long p = std::strtol(port.c_str(), nullptr, 10);
    return p >= 1 && p <= 65535;
}

constexpr const char* kSection = "start";

} // namespace

StartChoice make_start_choice(const std::string& link_in, const std::string& room_in,
                              const std::string& user_in, const std::string& server_in) {
    StartChoice c;
    c.server = trimmed(server_in);
    if (!c.server.empty() && !valid_server(c.server)) {
        c.error = kStartBadServer;
        return c;
    }
    const std::string link = trimmed(link_in);
    if (!link.empty()) {
        // A class link, or the launch string a launcher would pass (UTF-8 typed, GBK in the string).
        std::string launch = launch_string_from_link(link).value_or(utf8_to_gbk(link));
        LaunchParams p;
        parse_launch_params(launch, p);
        if (p.user_id == 0) {
            c.error = kStartNoUser;
            return c;
        }
        c.launch = std::move(launch);
        return c;
    }
    const uint32_t room = positive_number(trimmed(room_in));
    const uint32_t user = positive_number(trimmed(user_in));
    if (room == 0 || user == 0) {
        c.error = kStartBadNumbers;
        return c;
    }
    c.launch = "userid=" + std::to_string(user) + "&roomid=" + std::to_string(room);
    return c;
}

CStartDlg::CStartDlg(std::string settings_file, QWidget* parent)
    : QDialog(parent), settings_file_(std::move(settings_file)) {
    setObjectName("start_screen");
    setWindowTitle(QString::fromUtf8(kStartTitle));
    auto* layout = new QVBoxLayout(this);

    auto* link_row = new QHBoxLayout;
    link_row->addWidget(new QLabel(QString::fromUtf8(kStartLinkLabel), this));
    link_ = new QLineEdit(this);
    link_->setObjectName("link");
    link_->setPlaceholderText("quorin://join?userid=...&roomid=...");
    link_->setMinimumWidth(380);
    link_->setMaxLength(2048);
    link_row->addWidget(link_, 1);
    auto* paste = new QPushButton(QString::fromUtf8(kStartPaste), this);
    paste->setObjectName("paste");
    link_row->addWidget(paste);
    layout->addLayout(link_row);

    layout->addWidget(new QLabel(QString::fromUtf8(kStartOr), this));
    auto* form = new QFormLayout;
    auto digits = new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), this);
    room_ = new QLineEdit(this);
    room_->setObjectName("room");
    room_->setValidator(digits);
    user_ = new QLineEdit(this);
    user_->setObjectName("user");
    user_->setValidator(digits);
    server_ = new QLineEdit(this);
    server_->setObjectName("server");
    server_->setPlaceholderText(QString::fromUtf8(kStartServerHint));
    server_->setMaxLength(255);
    form->addRow(QString::fromUtf8(kStartRoom), room_);
    form->addRow(QString::fromUtf8(kStartUser), user_);
    form->addRow(QString::fromUtf8(kStartServer), server_);
    layout->addLayout(form);

    error_ = new QLabel(this);
    error_->setObjectName("error");
    error_->setStyleSheet("color: #c00000;");
    error_->setWordWrap(true);
    error_->hide();
    layout->addWidget(error_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* join = buttons->addButton(QString::fromUtf8(kStartJoin), QDialogButtonBox::AcceptRole);
    join->setObjectName("join");
    join->setDefault(true);
    QPushButton* quit = buttons->addButton(QString::fromUtf8(kStartQuit), QDialogButtonBox::RejectRole);
    quit->setObjectName("quit");
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CStartDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CStartDlg::reject);
    connect(paste, &QPushButton::clicked, this, [this] { Paste(); });

    // The last entries.
    auto remembered = [this](const char* key) {
        return QString::fromStdString(gbk_to_utf8(profile_get_string(kSection, key, "", settings_file_)));
    };
    link_->setText(remembered("link"));
    room_->setText(remembered("roomid"));
    user_->setText(remembered("userid"));
    server_->setText(QString::fromStdString(profile_get_string("room", "server", "", settings_file_)));
    link_->setFocus();
}

void CStartDlg::Paste() {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        link_->setText(clipboard->text().trimmed().left(2048));
    link_->setFocus();
}

void CStartDlg::JoinWithLink(const std::string& link_or_launch) {
    // A launch string is GBK; the field holds what a person would have pasted.
    link_->setText(QString::fromStdString(
        launch_string_from_link(link_or_launch) ? link_or_launch : gbk_to_utf8(link_or_launch)));
    accept();
}

void CStartDlg::accept() {
    choice_ = make_start_choice(link_->text().toStdString(), room_->text().toStdString(),
                                user_->text().toStdString(), server_->text().toStdString());
    if (!choice_.error.empty()) {
        error_->setText(QString::fromUtf8(choice_.error.c_str()));
        error_->show();
        return;
    }
    // Remembered for the next start; the room server is the service's setting.
    profile_write_string(kSection, "link", utf8_to_gbk(link_->text().trimmed().toStdString()),
                         settings_file_);
    profile_write_string(kSection, "roomid", room_->text().trimmed().toStdString(), settings_file_);
    profile_write_string(kSection, "userid", user_->text().trimmed().toStdString(), settings_file_);
    profile_write_string("room", "server", choice_.server, settings_file_);
    QDialog::accept();
}
