// The main dialog: owns the room's link and panels, and brings the room up in a fixed order at start-up.
#pragma once

#include <QDialog>
#include <QIcon>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/SoundOut.h"
#include "app/frame_geometry.h"
#include "app/launch_params.h"
#include "components/tcpclient.h"
#include "config/client_config.h"
#include "devices/DeviceDialogs.h"
#include "platform/messages.h"
#include "session/reconnect.h"
#include "session/service_link.h"
#include "session/service_process.h"
#include "session/session.h"
#include "session/session_controller.h"
#include "skin/CSkinBitmap.h"
#include "skin/CSkinButtons.h"

class QLabel;
class QPushButton;
class QTimer;
class CChatDlg;
class CMsgDlg;
class CLeftDlg;
class CMediaDlg;
class CVideo;
class CStatusDlg;
class ClxStatic;

class CHandQueueDlg;
class RunReport;

class CtalvexDlg : public QDialog,
                   public IRosterView,
                   public server_event_handler,
                   public ILinkHost,
                   public IMessagePoster,
                   public platform::MessageTarget {
    Q_OBJECT
public:
    explicit CtalvexDlg(QWidget* parent = nullptr);
    ~CtalvexDlg() override;

    // Brings the dialog up: frame, configuration and logging, service link, panels, connection, placement.
    bool OnInitDialog();
    // The window's end: closes the link, frees the logging and stops a service this client started. Runs
    // once, after the modal loop and before the single-instance guard is released (the destructor runs it
    // too).
    void OnDestroy();

    // Launch members, filled by parse_launch_params before OnInitDialog.
    LaunchParams& launch() { return launch_; }
    const LaunchParams& launch() const { return launch_; }

    const ClientSettings& settings() { return session_.settings(); }
    // Who is in the room and what the window knows of it.
    Session& session() { return session_; }
    // The link to the local service: its process, the connection and the reconnects.
    ServiceLink& service_link() { return service_link_; }
    bool initialised() const { return initialised_; }

    // A second copy asked us to come to the front: restore when minimised, otherwise raise.
    void BringToFrontOnRequest();
    // A second copy handed over a launch string (a class link): the same class only comes to the front;
    // another one is joined, after asking while this one is in a class.
    void OnLaunchRequest(const std::string& launch);
    // The launch string to start again with once the window has closed, when another class was chosen.
    const std::optional<std::string>& next_launch() const { return next_launch_; }

    // The window title for an application name (GBK), or the default title when it is empty.
    static QString TitleFor(const std::string& app_name);

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

    // The buttons of the window, by control id.
    void OnCommand(int id);
    // Lays the panels and title buttons out for a client size (0, 0: the current one); remakes the rounded
    // window shape when the size changed.
    void Layout(int width = 0, int height = 0);
    Borders FrameBorders() const;
    CSkinButtons& title_buttons() { return title_buttons_; }
    QWidget* panel_widget(const char* name) const;

    // server_event_handler: runs on the link thread. Video is handled there; every other packet is copied
    // and handled on the UI thread in arrival order.
    int OnServerProc(uint16_t type, const void* data, uint32_t length) override;

    // ILinkHost
    void ShowMessageBox(const std::string& text, const std::string& caption, bool error) override;
    void PostMessageBox(const std::string& text, const std::string& caption) override;
    void PostToSelf(unsigned id, intptr_t wparam) override;
    uint32_t WindowHandle() override;

    // IMessagePoster
    void Post(Window to, unsigned id, intptr_t wparam, intptr_t lparam) override;
    void PostPayload(Window to, unsigned id, std::shared_ptr<void> payload, intptr_t lparam) override;

    // Escape does not leave the class: only the close button, the window manager's close and SIGTERM end it.
    void reject() override {}
    // Ends the window's loop; a box, menu or dialog still open above it (SIGTERM, another class chosen while
    // one is open) is closed first, as by Escape, so that its own loop does not keep the window waiting.
    void done(int result) override;

    // IRosterView: the speak request button follows the own hand, the host's list button the queue.
    void OnUserAdded(UserRecord&) override { UpdateClassButtons(); }
    void OnUserRemoved(uint32_t, size_t) override { UpdateClassButtons(); }
    void OnUserChanged(UserRecord&) override { UpdateClassButtons(); }
    void OnRosterCleared() override { UpdateClassButtons(); }

    // Leaving by the close button or the keyboard: while a class is on, only after the user confirmed.
    // True when the window closes.
    bool Leave();
    // The host's list of raised hands (made on first use).
    CHandQueueDlg* ShowHandQueue();
    CHandQueueDlg* hand_queue() const { return hand_queue_; }
    // The list of keyboard shortcuts (key `?`).
    QDialog* ShowShortcuts();
    // Full screen for the selected picture (or the first one showing anything); again, back.
    bool ToggleFullScreenPicture();
    SessionController& controller() { return controller_; }
    // A test's stand-in for the machine's devices, asked on the UI thread. When unset (as in use), the
    // machine's devices are listed on a thread of their own: asking the sound system for its device names
    // takes milliseconds, which the UI thread must not spend every two seconds, nor before the first paint.
    std::function<DeviceLists()> enumerate_devices;
    // One look at the devices (the poll timer's tick): at once with a stand-in, else in the background, the
    // result applied when it arrives (a look still under way is not started twice).
    void PollDevices();
    DeviceDialogs& device_dialogs() { return dialogs_; }
    // How the user is asked before leaving; a test answers instead.
    std::function<bool(const QString& text, const QString& caption)> ask_leave;

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    // The steps of OnInitDialog, in order.
    void SetFrameStyle();
    void SetAppIcon();
    void SetTitle();
    void LoadConfiguration();
    void SetUpServiceLink();
    void CreatePanels();
    void CreateWindowButtons();
    void LoadFrame();
    // Hands the panels to the session and the controller's actions to the panels.
    void ConnectPanels();
    // The run report of a test or a headless run: told by the panels and the roster.
    void WatchRun();
    void ConnectAndLogIn();
    void PlaceFirstTime();
    void BringToFront();
    void CreateShortcuts();
    void UpdateClassButtons();
    int SkinEntryOf(int control_id) const;

    // Handles one inbound packet on the UI thread.
    void OnPacket(uint16_t type, const std::vector<uint8_t>& payload);

    tcpclient transport_;
    LaunchParams launch_;
    ServiceProcess service_process_;
    Session session_;
    ServiceLink service_link_;
    SessionController controller_;
    // What a test or a headless run asked to be told (made with the panels, when asked for).
    std::unique_ptr<RunReport> run_report_;
    SoundOut sound_;
    DeviceDialogs dialogs_{this, &session_.settings().test_camera};
    // The start-up audio probe: opening the sound devices takes a while, so it runs beside the first paint.
    DelayedJob audio_probe_;
    // The background look at the devices, and whether one is under way (UI thread only).
    DelayedJob device_scan_;
    bool device_scan_pending_ = false;
    void ApplyDevices(const DeviceLists& lists);
    bool initialised_ = false;
    bool destroyed_ = false;
    // The window has had its first paint (its icon is read after it).
    bool first_painted_ = false;
    std::optional<std::string> next_launch_;
    int screen_width_ = 0;
    int screen_height_ = 0;

    QObject* WindowObject(Window w);

    // The panels (text panels until the skinned ones exist); children of the dialog.
    CLeftDlg* user_list_ = nullptr;
    CMsgDlg* message_log_ = nullptr;
    CStatusDlg* status_bar_ = nullptr;
    CChatDlg* chat_input_ = nullptr;
    ClxStatic* course_label_ = nullptr;
    CMediaDlg* media_panel_ = nullptr;
    CVideo* video_panel_ = nullptr;
    CHandQueueDlg* hand_queue_ = nullptr;
    QDialog* shortcuts_ = nullptr;
    bool hand_button_lowers_ = false;
    QTimer* device_poll_ = nullptr; // the speak request button shows its second picture set

    // The title buttons of the window itself (minimise, maximise, close, help) when the skin gives none.
    std::vector<QPushButton*> template_title_buttons_;

    // The frame: left, top, right and bottom borders and the background; the title buttons.
    enum { kLeftBorder, kTopBorder, kRightBorder, kBottomBorder, kBackground };
    CSkinBitmap frame_[5];
    CSkinButtons title_buttons_;
    QSize region_size_; // the size for which the window shape was last made

    // Whether a press at this point of the window may move it: free areas do, pictures and tiles do not.
    bool MovesWindowFrom(const QPoint& at) const;
    // A left press on a free area: the window moves once the pointer has gone the drag distance.
    bool move_armed_ = false;
    QPoint press_at_;
};
