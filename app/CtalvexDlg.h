// The main dialog: owns the room's link and panels, and brings the room up in a fixed order at start-up.
#pragma once

#include <QDialog>
#include <QIcon>

#include <string>

#include "client_config.h"
#include "launch_params.h"
#include "messages.h"

class QLabel;

class CtalvexDlg : public QDialog, public platform::MessageTarget {
    Q_OBJECT
public:
    explicit CtalvexDlg(QWidget* parent = nullptr);
    ~CtalvexDlg() override;

    // Brings the dialog up: frame, configuration and logging, service link, panels, connection, placement.
    bool OnInitDialog();

    // Launch members, filled by parse_launch_params before OnInitDialog.
    LaunchParams& launch() { return launch_; }
    const LaunchParams& launch() const { return launch_; }

    const ClientSettings& settings() const { return settings_; }
    bool initialised() const { return initialised_; }

    // A second copy asked us to come to the front: restore when minimised, otherwise raise.
    void BringToFrontOnRequest();

    // The window title for an application name (GBK), or the default title when it is empty.
    static QString TitleFor(const std::string& app_name);

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;

private:
    // The steps of OnInitDialog, in order.
    void SetFrameStyle();
    void SetAppIcon();
    void SetTitle();
    void LoadConfiguration();
    void SetUpServiceLink();
    void CreatePanels();
    void ConnectAndLogIn();
    void PlaceFirstTime();
    void BringToFront();

    QIcon app_icon_;
    LaunchParams launch_;
    uint32_t service_addr_ = 0; // network byte order
    ClientSettings settings_;
    bool initialised_ = false;
    bool microphone_on_ = false;
    bool camera_on_ = false;
    int screen_width_ = 0;
    int screen_height_ = 0;

    // Until the real panels exist, one label shows the room's state.
    QLabel* status_label_ = nullptr;
};
