// The main dialog (see CtalvexDlg.h).
#include "app/CtalvexDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <functional>

#include "app/RunReport.h"
#include "app/app_texts.h"
#include "app/control_ids.h"
#include "app/help_page.h"
#include "chat/CChatDlg.h"
#include "chat/CMsgDlg.h"
#include "components/log.h"
#include "config/logging.h"
#include "platform/controls.h"
#include "platform/message_box.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/text.h"
#include "platform/thread_rule.h"
#include "roster/CHandQueueDlg.h"
#include "roster/CLeftDlg.h"
#include "roster/CStatusDlg.h"
#include "session/requests.h"
#include "skin/ClxStatic.h"
#include "video/CMediaDlg.h"
#include "video/CVideo.h"
#include "video/CVideoItem.h"

namespace {

constexpr int kFirstWidth = 1028;
constexpr int kFirstHeight = 600;
// The first look at the sound devices and cameras, and the full-duplex probe, wait this long after start, so
// that they do not compete with the first paint for the processor.
constexpr int kFirstDeviceLookMs = 1000;
constexpr int kAudioProbeDelayMs = 500;

// Work for the UI thread that runs once the event being handled now is over (a whole paint pass), ahead of
// the events and messages queued meanwhile: a zero timer would wait behind them (a login answer that arrived
// during the paint). Dropped unrun when its window goes first.
class UrgentCall : public QEvent {
public:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 7);
    explicit UrgentCall(std::function<void()> work) : QEvent(kType), work(std::move(work)) {}
    const std::function<void()> work;
};

void post_urgent(QObject* target, std::function<void()> work) {
    QCoreApplication::postEvent(target, new UrgentCall(std::move(work)), Qt::HighEventPriority);
}

} // namespace

// One inbound packet on its way from the link thread to the UI thread.
struct InboundPacket {
    uint16_t type;
    std::vector<uint8_t> payload;
};

// Message 1047's text and caption.
struct MessageBoxText {
    std::string text;
    std::string caption;
};

CtalvexDlg::CtalvexDlg(QWidget* parent)
    : QDialog(parent), service_process_(install_folder()), session_(transport_),
      service_link_(transport_, service_process_, *this, session_),
      controller_(session_, service_link_, *this, *this, install_folder()) {
    setObjectName("main_window");
}

CtalvexDlg::~CtalvexDlg() {
    // The link thread ends here at the latest, before any panel goes away.
    OnDestroy();
    // The views of the roster go before the roster does (it is a member; child widgets outlive members).
    session_.roster().RemoveView(this);
    run_report_.reset();
    delete hand_queue_;
    hand_queue_ = nullptr;
    delete user_list_;
    user_list_ = nullptr;
}

void CtalvexDlg::OnDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    // The capture thread sends through the link: it ends before the link does.
    if (media_panel_)
        media_panel_->CloseForExit();
    // The picture downloads end first (a running one is cancelled): closing never waits for the network.
    if (user_list_)
        user_list_->StopDownloads();
    audio_probe_.Cancel();
    device_scan_.Cancel();
    service_link_.ShutDown();
}

QString CtalvexDlg::TitleFor(const std::string& app_name) {
    return app_name.empty() ? QString::fromUtf8(kDefaultTitle) : gbk_to_qstring(app_name);
}

bool CtalvexDlg::OnInitDialog() {
    SetFrameStyle();
    SetTitle();
    LoadConfiguration();
    SetUpServiceLink();
    CreatePanels();
    initialised_ = true;
    if (launch_.user_id != 0)
        ConnectAndLogIn();
    PlaceFirstTime();
    BringToFront();
    test_hooks::arm_main_window(this);
    // A service that ended by itself (idle, or failed) is collected, so it never stays a zombie.
    auto* reaper = new QTimer(this);
    connect(reaper, &QTimer::timeout, this, [this] { service_process_.reap_if_ended(); });
    reaper->start(2000);
    return true;
}

void CtalvexDlg::SetFrameStyle() {
    // No system frame: the window draws its own and does its own hit-testing for moving and sizing.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint);
    QSize minimum(kMinWindowWidth, kMinWindowHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        minimum = minimum.boundedTo(screen->availableGeometry().size());
    setMinimumSize(minimum);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setMaximumSize(
            screen->availableGeometry().size().expandedTo(QSize(kMinWindowWidth, kMinWindowHeight)));
    setMouseTracking(true);
}

void CtalvexDlg::SetAppIcon() {
    // The icon the asset generator drew, at every size it drew. Read by name as PNG: a QIcon given the files
    // asks every image plug-in for their format.
    QIcon icon;
    for (const char* size : {"16x16", "32x32", "48x48", "64x64", "128x128", "256x256"}) {
        QImage picture;
        if (load_picture_file(QString::fromStdString(install_folder()) + "/icons/hicolor/" + QString(size) +
                                  "/apps/quorin.png",
                              picture))
            icon.addPixmap(QPixmap::fromImage(picture));
    }
    if (!icon.isNull())
        setWindowIcon(icon);
}

void CtalvexDlg::SetTitle() {
    setWindowTitle(TitleFor(launch_.app_name));
}

void CtalvexDlg::LoadConfiguration() {
    session_.set_settings(load_client_config(install_folder()), settings_file_path(install_folder()));
    SessionIdentity id;
    id.user_id = launch_.user_id;
    id.room_id = launch_.room_id;
    id.timestamp = launch_.timestamp;
    id.key_id = launch_.key_id;
    id.app_type = launch_.app_type;
    session_.set_identity(id);
}

void CtalvexDlg::SetUpServiceLink() {
    // With a user to log in, the service is found or started beside the first paint, by the first
    // connection's attempt.
    service_link_.SetUp(this, true);
}

void CtalvexDlg::CreatePanels() {
    user_list_ = new CLeftDlg(&session_, session_.roster(), &controller_, install_folder(),
                              web_host_url(settings_file_path(install_folder())), this);
    message_log_ = new CMsgDlg(&session_, &sound_, install_folder(), this);
    status_bar_ = new CStatusDlg(&session_, &controller_, install_folder(), this);
    chat_input_ = new CChatDlg(&session_, &controller_, install_folder(), this);
    video_panel_ = new CVideo(&session_, install_folder(), this);
    media_panel_ =
        new CMediaDlg(&session_, &controller_, install_folder(), session_.settings().test_camera, this);
    course_label_ = status_bar_->course_label();
    user_list_->setObjectName("user_list");
    message_log_->setObjectName("message_log");
    status_bar_->setObjectName("status_bar");
    chat_input_->setObjectName("chat_input");
    media_panel_->setObjectName("media_panel");
    video_panel_->setObjectName("video_panel");
    CreateWindowButtons();
    LoadFrame();
    ConnectPanels();
    CreateShortcuts();
    UpdateClassButtons();
    Layout();
}

void CtalvexDlg::CreateWindowButtons() {
    // The window's own buttons, registered under their control ids; the title bar layout file makes picture
    // buttons of the ones it names, and the others stay hidden.
    static const struct {
        int id;
        const char* text;
    } kButtons[] = {{ctl::kMinimise, "min"},
                    {ctl::kMaximise, "max"},
                    {ctl::kClose, "close"},
                    {ctl::kHelp, "help"},
                    {ctl::kSkin, "skin"},
                    {ctl::kSystemMenu, "SYSMENU"},
                    {ctl::kHandUp, "handup"},
                    {ctl::kSendImage, "send img"},
                    {ctl::kPlayMovie, "play movie"},
                    {ctl::kPlayMusic, "play music"},
                    {ctl::kAudioSetup, "audio set"},
                    {ctl::kVideoSetup, "video set"},
                    {ctl::kHandQueue, "hand list"}};
    for (const auto& b : kButtons) {
        auto* button = new QPushButton(QString::fromUtf8(b.text), this);
        set_control_id(button, b.id);
        button->setFocusPolicy(Qt::TabFocus);
        button->setCursor(Qt::ArrowCursor);
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, id = b.id] { OnCommand(id); });
    }
}

void CtalvexDlg::LoadFrame() {
    const std::string skin = path_join(install_folder(), "ui");
    static const char* const kFrameFiles[5] = {"LeftBorder.bmp", "TopBorder.bmp", "RightBorder.bmp",
                                               "BottBorder.bmp", "MainBack.bmp"};
    for (int i = 0; i < 5; ++i)
        frame_[i].Load(path_join(skin, kFrameFiles[i]));
    title_buttons_.dialog = this;
    title_buttons_.skin_folder = skin;
    title_buttons_.Load(path_join(skin, "top.txt"));
    for (int i = 0; i < title_buttons_.count(); ++i)
        if (QWidget* w =
                title_buttons_.entry(i).button ? title_buttons_.entry(i).button->GetItemHandle() : nullptr)
            w->show();
    // Without a title bar layout the window would have no way to be minimised, maximised or closed: the
    // template buttons stay, with their own look.
    if (title_buttons_.count() == 0) {
        for (int id : {ctl::kMinimise, ctl::kMaximise, ctl::kClose, ctl::kHelp})
            if (auto* button = qobject_cast<QPushButton*>(get_dlg_item(this, id))) {
                button->show();
                template_title_buttons_.push_back(button);
            }
    }
}

void CtalvexDlg::ConnectPanels() {
    Panels panels;
    panels.message_log = message_log_;
    panels.status_bar = status_bar_;
    panels.chat_input = chat_input_;
    panels.video = video_panel_;
    panels.media = media_panel_;
    panels.sound = &sound_;
    panels.dialogs = &dialogs_;
    session_.set_panels(panels);
    session_.set_actions(&controller_);
    // The report hears of the roster's changes right after the user list, before the window's buttons.
    if (RunReport::Wanted())
        WatchRun();
    user_list_->set_class_actions(&controller_);
    session_.roster().AddView(this);
}

void CtalvexDlg::WatchRun() {
    run_report_ =
        std::make_unique<RunReport>(session_.roster(), *user_list_, test_hooks::auto_watch_cameras());
    user_list_->set_observer(run_report_.get());
    message_log_->set_observer(run_report_.get());
    status_bar_->set_observer(run_report_.get());
    chat_input_->set_observer(run_report_.get());
    for (CVideoItem* item : video_panel_->Order())
        item->set_observer(run_report_.get());
}

QWidget* CtalvexDlg::panel_widget(const char* name) const {
    return findChild<QWidget*>(name);
}

Borders CtalvexDlg::FrameBorders() const {
    return {frame_[kLeftBorder].width(), frame_[kTopBorder].height(), frame_[kRightBorder].width(),
            frame_[kBottomBorder].height()};
}

void CtalvexDlg::Layout(int width, int height) {
    if (width == 0 || height == 0) {
        width = this->width();
        height = this->height();
    }
    const Borders b = FrameBorders();
    const PanelPlaces p = layout_panels(width, height, b);
    auto place = [](QWidget* w, const Rect& r) {
        w->setGeometry(r.x, r.y, std::max(r.width, 0), std::max(r.height, 0));
    };
    place(media_panel_, p.media);
    place(video_panel_, p.video);
    place(user_list_, p.user_list);
    user_list_->SetRows(p.user_list_rows);
    place(chat_input_, p.chat_input);
    place(status_bar_, p.status_bar);
    place(message_log_, p.message_log);

    std::vector<std::pair<int, int>> sizes;
    for (int i = 0; i < title_buttons_.count(); ++i)
        sizes.emplace_back(title_buttons_.entry(i).width, title_buttons_.entry(i).height);
    if (!template_title_buttons_.empty()) {
        constexpr int kTemplateButtonWidth = 48, kTemplateButtonHeight = 22;
        sizes.assign(template_title_buttons_.size(), {kTemplateButtonWidth, kTemplateButtonHeight});
    }
    const std::vector<Rect> places = place_title_buttons(width, b, sizes);
    for (int i = 0; i < int(places.size()) && i < 5; ++i) {
        if (!template_title_buttons_.empty()) {
            if (i < int(template_title_buttons_.size()))
                place(template_title_buttons_[size_t(i)], places[size_t(i)]);
            continue;
        }
        const SkinButtonEntry& e = title_buttons_.entry(i);
        if (e.button && e.button->GetItemHandle())
            place(e.button->GetItemHandle(), places[size_t(i)]);
    }

    // The rounded shape is remade only when the size changed.
    const QSize size(width, height);
    if (size == region_size_)
        return;
    region_size_ = size;
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width, height), kRegionCorner / 2.0, kRegionCorner / 2.0);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void CtalvexDlg::OnCommand(int id) {
    switch (id) {
    case ctl::kMinimise:
        showMinimized();
        break;
    case ctl::kMaximise:
        if (isMaximized()) {
            title_buttons_.SetPictureSet(1, true, QString::fromUtf8(kMaximiseTip));
            showNormal();
        } else {
            title_buttons_.SetPictureSet(1, false, QString::fromUtf8(kRestoreTip));
            showMaximized();
        }
        break;
    case ctl::kClose:
        Leave();
        break;
    case ctl::kHandQueue:
        ShowHandQueue();
        break;
    case ctl::kHelp:
        QDesktopServices::openUrl(
            QUrl(QString::fromStdString(help_page_url(settings_file_path(install_folder())))));
        break;
    case ctl::kHandUp:
        // The same button raises the hand and, while it is up, lowers it.
        if (!controller_.LowerOwnHand())
            req::SpeakRequest(session_);
        break;
    case ctl::kAudioSetup:
        controller_.OnAudioSetup();
        break;
    case ctl::kVideoSetup:
        controller_.OnVideoSetup();
        break;
    default:
        break; // skin, system menu, pictures, movie and music: no action
    }
}

void CtalvexDlg::paintEvent(QPaintEvent*) {
    if (!first_painted_) {
        // The panels are painted in this same pass; what the first paint does not need comes after it.
        first_painted_ = true;
        if (run_report_)
            post_urgent(this, [this] {
                if (run_report_)
                    run_report_->WindowPainted();
            });
        QTimer::singleShot(0, this, [this] {
            SetAppIcon();
            if (run_report_)
                run_report_->IconSet(int(windowIcon().availableSizes().size()));
        });
    }
    QPainter p(this);
    const int W = width(), H = height();
    if (isMinimized()) {
        windowIcon().paint(&p, rect());
        return;
    }
    const CSkinBitmap &l = frame_[kLeftBorder], &t = frame_[kTopBorder], &r = frame_[kRightBorder],
                      &b = frame_[kBottomBorder], &bg = frame_[kBackground];
    if (l.width() && l.height())
        l.DrawStretched(p, QRect(QPoint(0, 0), QPoint(l.width() - 1, H - 1)));
    if (t.width() && t.height())
        t.DrawStretched(p, QRect(QPoint(l.width(), 0), QPoint(W - r.width() - 1, t.height() - 1)));
    if (r.width() && r.height())
        r.DrawStretched(p, QRect(QPoint(W - r.width(), 0), QPoint(W - 1, H - 1)));
    if (b.width() && b.height())
        b.DrawStretched(p, QRect(QPoint(l.width(), H - b.height()), QPoint(W - r.width() - 1, H - 1)));
    if (bg.width() && bg.height())
        bg.DrawStretched(p,
                         QRect(QPoint(l.width(), t.height()), QPoint(W - r.width() - 1, H - b.height() - 1)));
}

void CtalvexDlg::closeEvent(QCloseEvent* e) {
    // The window manager's close button ends the class like our own close button, asking first while a
    // class is on; a close from the program itself (SIGTERM, the session's end) does not ask.
    if (e->spontaneous() && session_.roster().Self() && ask_leave &&
        !ask_leave(QString::fromUtf8(kAskLeave), QString::fromUtf8(kCaptionHint))) {
        e->ignore();
        return;
    }
    e->accept();
    done(0);
}

void CtalvexDlg::done(int result) {
    close_modal_windows_above(this);
    QDialog::done(result);
}

bool CtalvexDlg::Leave() {
    if (session_.roster().Self() && ask_leave &&
        !ask_leave(QString::fromUtf8(kAskLeave), QString::fromUtf8(kCaptionHint)))
        return false;
    done(0);
    return true;
}

int CtalvexDlg::SkinEntryOf(int control_id) const {
    for (int i = 0; i < title_buttons_.count(); ++i)
        if (title_buttons_.entry(i).id == control_id && title_buttons_.entry(i).button)
            return i;
    return -1;
}

void CtalvexDlg::UpdateClassButtons() {
    const UserRecord* self = session_.roster().Self();
    const bool host = self && (self->block.rights & pkt::kRightHost);
    const bool raised = controller_.OwnHandRaised();
    QWidget* hand = get_dlg_item(this, ctl::kHandUp);
    QWidget* queue = get_dlg_item(this, ctl::kHandQueue);
    const int hand_entry = SkinEntryOf(ctl::kHandUp);
    const int queue_entry = SkinEntryOf(ctl::kHandQueue);
    // The host asks nobody: the speak request gives way to the list of hands.
    if (hand && hand_entry >= 0)
        hand->setVisible(!host);
    if (queue && queue_entry >= 0)
        queue->setVisible(host);
    const QString hand_text = QString::fromUtf8(raised ? kLowerHand : kRaiseHand);
    if (hand_entry >= 0 && raised != hand_button_lowers_ &&
        !title_buttons_.entry(hand_entry).pictures[3].isNull()) {
        title_buttons_.SetPictureSet(hand_entry, !raised, hand_text);
        hand_button_lowers_ = raised;
    }
    if (hand) {
        hand->setToolTip(hand_text + " (Alt+Y)");
        hand->setAccessibleName(hand_text);
        hand->setAccessibleDescription(hand_text + " (Alt+Y)");
        hand->setEnabled(!host);
    }
    if (queue) {
        const int n = int(session_.roster().hands().size());
        const QString text = n ? QString::fromUtf8(kHandQueueCount).arg(n) : QString::fromUtf8(kHandQueue);
        queue->setToolTip(text);
        queue->setAccessibleName(text);
        queue->setAccessibleDescription(text);
    }
    if (run_report_)
        run_report_->ClassButtonsShown(hand && hand->isVisible() ? (raised ? "lower" : "raise") : "hidden",
                                       queue && queue->isVisible());
}

CHandQueueDlg* CtalvexDlg::ShowHandQueue() {
    if (!hand_queue_) {
        hand_queue_ = new CHandQueueDlg(session_.roster(), &controller_, this);
        hand_queue_->setModal(false);
    }
    hand_queue_->show();
    hand_queue_->raise();
    hand_queue_->activateWindow();
    return hand_queue_;
}

void CtalvexDlg::CreateShortcuts() {
    struct Key {
        QKeySequence keys;
        const char* name;
        std::function<void()> run;
    };
    const Key keys[] = {
        {QKeySequence(Qt::ALT | Qt::Key_A), "shortcut_microphone",
         [this] { status_bar_->ToggleMicrophone(); }},
        {QKeySequence(Qt::ALT | Qt::Key_V), "shortcut_camera", [this] { req::ToggleCamera(session_); }},
        {QKeySequence(Qt::ALT | Qt::Key_Y), "shortcut_hand", [this] { OnCommand(ctl::kHandUp); }},
        {QKeySequence(Qt::Key_F11), "shortcut_full_screen", [this] { ToggleFullScreenPicture(); }},
        {QKeySequence(Qt::ALT | Qt::Key_Q), "shortcut_leave", [this] { Leave(); }},
        {QKeySequence(Qt::Key_Question), "shortcut_list", [this] { ShowShortcuts(); }},
        {QKeySequence(Qt::SHIFT | Qt::Key_Question), "shortcut_list_shifted", [this] { ShowShortcuts(); }},
        {QKeySequence(Qt::Key_F1), "shortcut_list_f1", [this] { ShowShortcuts(); }},
    };
    for (const Key& k : keys) {
        auto* shortcut = new QShortcut(k.keys, this);
        shortcut->setObjectName(k.name);
        // In every window of the class (a zoom window at the full screen has the keyboard, and the list of
        // hands may), but not while a modal dialog or box is open above the main window.
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, this, k.run);
    }
    ask_leave = [this](const QString& text, const QString& caption) {
        return ask_yes_no(this, text, caption);
    };
    // Devices plugged in or out while the class runs: looked at every two seconds, the first time once the
    // window is up (nothing on the first paint needs the lists).
    dialogs_.rescan = [this] { PollDevices(); };
    device_poll_ = new QTimer(this);
    connect(device_poll_, &QTimer::timeout, this, [this] { PollDevices(); });
    device_poll_->start(2000);
    QTimer::singleShot(kFirstDeviceLookMs, this, [this] { PollDevices(); });
}

void CtalvexDlg::PollDevices() {
    if (enumerate_devices) {
        ApplyDevices(enumerate_devices());
        return;
    }
    if (device_scan_pending_ || destroyed_)
        return;
    device_scan_pending_ = true;
    const bool test_camera = session_.settings().test_camera;
    device_scan_.Start(0, [this, test_camera] {
        auto lists = std::make_shared<DeviceLists>(DeviceDialogs::CurrentDevices(test_camera));
        platform::post_message(this, msg::kDevicesScanned, 0, std::shared_ptr<void>(std::move(lists)));
    });
}

void CtalvexDlg::ApplyDevices(const DeviceLists& lists) {
    controller_.OnDevicesChanged(lists);
    dialogs_.DevicesChanged(lists);
}

QDialog* CtalvexDlg::ShowShortcuts() {
    if (!shortcuts_) {
        shortcuts_ = new QDialog(this);
        shortcuts_->setObjectName("shortcut_list");
        shortcuts_->setWindowTitle(QString::fromUtf8(kShortcutsTitle));
        shortcuts_->setAccessibleName(QString::fromUtf8(kShortcutsTitle));
        auto* grid = new QGridLayout(shortcuts_);
        const std::pair<const char*, const char*> rows[] = {
            {"Alt+A", kShortcutMicrophone}, {"Alt+V", kShortcutCamera}, {"Alt+Y", kShortcutHand},
            {"F11", kShortcutFullScreen},   {"Alt+Q", kShortcutLeave},  {"?  /  F1", kShortcutList}};
        int row = 0;
        for (const auto& [keys, what] : rows) {
            auto* key = new QLabel(QString::fromLatin1(keys), shortcuts_);
            QFont f = key->font();
            f.setBold(true);
            key->setFont(f);
            auto* text = new QLabel(QString::fromUtf8(what), shortcuts_);
            text->setAccessibleName(QString::fromLatin1(keys) + " " + QString::fromUtf8(what));
            grid->addWidget(key, row, 0);
            grid->addWidget(text, row, 1);
            ++row;
        }
    }
    shortcuts_->show();
    shortcuts_->raise();
    return shortcuts_;
}

bool CtalvexDlg::ToggleFullScreenPicture() {
    // An open zoom window, whichever picture it belongs to, goes to the full screen or back from it.
    std::vector<VideoPicture*> pictures;
    pictures.push_back(media_panel_);
    for (CVideoItem* item : video_panel_->Order())
        pictures.push_back(item);
    for (VideoPicture* p : pictures)
        if (p->zoom())
            return p->ToggleFullScreen();
    VideoPicture* chosen = VideoPicture::selected();
    if (!chosen || !chosen->showing()) {
        chosen = nullptr;
        for (size_t i = 1; i < pictures.size() && !chosen; ++i)
            if (pictures[i]->showing())
                chosen = pictures[i];
        if (!chosen && media_panel_->showing())
            chosen = media_panel_;
    }
    if (!chosen || !chosen->ToggleFullScreen()) {
        req::NoticeLine(session_, utf8_to_gbk(kNoPictureToShow));
        return false;
    }
    return true;
}

void CtalvexDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    if (initialised_) {
        Layout(e->size().width(), e->size().height());
        update();
    }
}

void CtalvexDlg::mousePressEvent(QMouseEvent* e) {
    move_armed_ = false;
    if (e->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(e);
        return;
    }
    const QPoint at = e->position().toPoint();
    const HitCode hit = isMaximized() ? kHitCaption : hit_test(width(), height(), at.x(), at.y());
    Qt::Edges edges;
    switch (hit) {
    case kHitLeft:
        edges = Qt::LeftEdge;
        break;
    case kHitRight:
        edges = Qt::RightEdge;
        break;
    case kHitTop:
        edges = Qt::TopEdge;
        break;
    case kHitBottom:
        edges = Qt::BottomEdge;
        break;
    case kHitTopLeft:
        edges = Qt::TopEdge | Qt::LeftEdge;
        break;
    case kHitTopRight:
        edges = Qt::TopEdge | Qt::RightEdge;
        break;
    case kHitBottomLeft:
        edges = Qt::BottomEdge | Qt::LeftEdge;
        break;
    case kHitBottomRight:
        edges = Qt::BottomEdge | Qt::RightEdge;
        break;
    default:
        break;
    }
    if (edges) {
        if (QWindow* w = windowHandle())
            w->startSystemResize(edges);
        return;
    }
    // A free area drags the window, but only once the pointer moves: a click or a double click must never
    // leave the window manager in a move that the release does not end.
    if (MovesWindowFrom(at)) {
        move_armed_ = true;
        press_at_ = at;
    }
}

bool CtalvexDlg::MovesWindowFrom(const QPoint& at) const {
    const QWidget* child = childAt(at);
    for (const QWidget* w = child; w && w != this; w = w->parentWidget())
        if (w == media_panel_ || w == video_panel_ || w == user_list_)
            return false;
    return true;
}

void CtalvexDlg::mouseReleaseEvent(QMouseEvent* e) {
    move_armed_ = false;
    QDialog::mouseReleaseEvent(e);
}

void CtalvexDlg::mouseDoubleClickEvent(QMouseEvent* e) {
    move_armed_ = false;
    // A double click on the top strip (above the pictures, not on a button) maximises or restores.
    const QPoint at = e->position().toPoint();
    if (e->button() == Qt::LeftButton && !childAt(at) &&
        at.y() < layout_panels(width(), height(), FrameBorders()).media.y) {
        OnCommand(ctl::kMaximise);
        return;
    }
    QDialog::mouseDoubleClickEvent(e);
}

void CtalvexDlg::mouseMoveEvent(QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    if (move_armed_ && (e->buttons() & Qt::LeftButton) &&
        (at - press_at_).manhattanLength() >= QApplication::startDragDistance()) {
        move_armed_ = false;
        if (QWindow* w = windowHandle())
            w->startSystemMove();
        return;
    }
    switch (cursor_for(isMaximized() ? kHitCaption : hit_test(width(), height(), at.x(), at.y()))) {
    case CursorShape::SizeWE:
        setCursor(Qt::SizeHorCursor);
        break;
    case CursorShape::SizeNS:
        setCursor(Qt::SizeVerCursor);
        break;
    case CursorShape::SizeNWSE:
        setCursor(Qt::SizeFDiagCursor);
        break;
    case CursorShape::SizeNESW:
        setCursor(Qt::SizeBDiagCursor);
        break;
    case CursorShape::Arrow:
        setCursor(Qt::ArrowCursor);
        break;
    }
    QDialog::mouseMoveEvent(e);
}

void CtalvexDlg::ConnectAndLogIn() {
    service_link_.ConnectFirstTime();
}

void CtalvexDlg::PlaceFirstTime() {
    course_label_->setText(gbk_to_qstring(launch_.subject));
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, kFirstWidth, kFirstHeight);
    screen_width_ = area.width();
    screen_height_ = area.height();
    // The first size, or the screen's work area when that is smaller (a large scale factor).
    const int w = std::max(std::min(kFirstWidth, area.width()), minimumWidth());
    const int h = std::max(std::min(kFirstHeight, area.height()), minimumHeight());
    resize(w, h);
    move(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2);
    Layout(w, h);
    // Answered through the message queue; the window shows meanwhile.
    audio_probe_.Start(kAudioProbeDelayMs,
                       [this] { PostToSelf(msg::kAudioProbeDone, CMediaDlg::ProbeFullDuplex() ? 1 : 0); });
}

void CtalvexDlg::BringToFront() {
    // Runs once the modal loop has shown the window.
    QTimer::singleShot(0, this, [this] {
        raise();
        activateWindow();
        // The keyboard starts in the chat input.
        if (chat_input_)
            if (QWidget* input = chat_input_->findChild<QTextEdit*>())
                input->setFocus(Qt::OtherFocusReason);
        if (run_report_)
            run_report_->WindowShown(isVisible(), windowTitle());
    });
}

void CtalvexDlg::BringToFrontOnRequest() {
    if (run_report_)
        run_report_->RaiseRequested();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void CtalvexDlg::OnLaunchRequest(const std::string& launch) {
    LaunchParams wanted;
    parse_launch_params(launch, wanted);
    if (run_report_)
        run_report_->LaunchRequested(wanted.user_id, wanted.room_id);
    BringToFrontOnRequest();
    if (wanted.user_id == 0 || (wanted.user_id == launch_.user_id && wanted.room_id == launch_.room_id))
        return;
    // Asked once the request has been answered, so the second copy never waits for a person.
    QTimer::singleShot(0, this, [this, launch] {
        if (launch_.user_id != 0 &&
            !ask_yes_no(this, QString::fromUtf8(kSwitchClassText), QString::fromUtf8(kCaptionHint)))
            return;
        if (run_report_)
            run_report_->ClassSwitched();
        next_launch_ = launch;
        done(0);
    });
}

bool CtalvexDlg::event(QEvent* e) {
    if (platform::dispatch_message(e, *this))
        return true;
    if (e->type() == UrgentCall::kType) {
        static_cast<UrgentCall*>(e)->work();
        return true;
    }
    return QDialog::event(e);
}

void CtalvexDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (controller_.OnMessage(id, wparam, lparam))
        return;
    switch (id) {
    case msg::kLinkLost:
        service_link_.Reconnect();
        break;
    case msg::kReconnectDone:
        service_link_.OnReconnectDone(wparam);
        break;
    case msg::kAudioProbeDone:
        controller_.AudioHint(wparam != 0);
        break;
    case msg::kDevicesScanned:
        device_scan_pending_ = false;
        if (!enumerate_devices && !destroyed_)
            ApplyDevices(*reinterpret_cast<const DeviceLists*>(lparam));
        break;
    case msg::kMessageBox: {
        const auto* m = reinterpret_cast<const MessageBoxText*>(lparam);
        const bool error = m->caption.empty();
        show_message_box(this, QString::fromStdString(m->text),
                         QString::fromUtf8(error ? kDefaultTitle : m->caption.c_str()),
                         error ? MessageIcon::Error : MessageIcon::Information);
        break;
    }
    case msg::kInboundPacket: {
        const auto* p = reinterpret_cast<const InboundPacket*>(lparam);
        OnPacket(p->type, p->payload);
        break;
    }
    default:
        break;
    }
}

int CtalvexDlg::OnServerProc(uint16_t type, const void* data, uint32_t length) {
    LOG_MAIN("OnServerProc %d\n", type);
    if (type == pkt::kLinkLost) {
        platform::post_message(this, msg::kLinkLost, 0, 0);
        return 0;
    }
    if (type == pkt::kVideoFrame) {
        controller_.OnVideoPacket(static_cast<const uint8_t*>(data), length);
        return 0;
    }
    auto packet = std::make_shared<InboundPacket>();
    packet->type = type;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (bytes && length)
        packet->payload.assign(bytes, bytes + length);
    platform::post_message(this, msg::kInboundPacket, 0, std::shared_ptr<void>(std::move(packet)));
    return 0;
}

void CtalvexDlg::OnPacket(uint16_t type, const std::vector<uint8_t>& payload) {
    controller_.Dispatch(type, payload.data(), payload.size());
}

void CtalvexDlg::ShowMessageBox(const std::string& text, const std::string& caption, bool error) {
    show_message_box(nullptr, QString::fromStdString(text), QString::fromStdString(caption),
                     error ? MessageIcon::Error : MessageIcon::Information);
}

void CtalvexDlg::PostToSelf(unsigned id, intptr_t wparam) {
    platform::post_message(this, id, wparam, 0);
}

void CtalvexDlg::PostMessageBox(const std::string& text, const std::string& caption) {
    auto m = std::make_shared<MessageBoxText>(MessageBoxText{text, caption});
    platform::post_message(this, msg::kMessageBox, 0, std::shared_ptr<void>(std::move(m)));
}

uint32_t CtalvexDlg::WindowHandle() {
    return static_cast<uint32_t>(winId());
}

QObject* CtalvexDlg::WindowObject(Window w) {
    switch (w) {
    case Window::UserList:
        return user_list_;
    case Window::StatusBar:
        return status_bar_;
    case Window::MainDialog:
        return this;
    }
    return this;
}

void CtalvexDlg::Post(Window to, unsigned id, intptr_t wparam, intptr_t lparam) {
    ASSERT_UI_THREAD();
    platform::post_message(WindowObject(to), id, wparam, lparam);
}

void CtalvexDlg::PostPayload(Window to, unsigned id, std::shared_ptr<void> payload, intptr_t lparam) {
    ASSERT_UI_THREAD();
    platform::post_message(WindowObject(to), id, std::move(payload), lparam);
}
