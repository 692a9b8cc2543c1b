// The main dialog (see CtalvexDlg.h).
#include "CtalvexDlg.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app_texts.h"
#include "log.h"
#include "logging.h"
#include "message_box.h"
#include "message_ids.h"
#include "paths.h"
#include "qtext.h"
#include "test_hooks.h"

namespace {

constexpr int kFirstWidth = 1028;
constexpr int kFirstHeight = 600;

// The program's icon, drawn rather than loaded so that the client has no binary resource of its own.
QIcon draw_app_icon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath frame;
        frame.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
        QLinearGradient g(0, 0, 0, size);
        g.setColorAt(0, QColor(86, 140, 196));
        g.setColorAt(1, QColor(52, 98, 150));
        p.fillPath(frame, g);
        // A camera: body and lens.
        const double u = size / 16.0;
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(3 * u, 5 * u, 7 * u, 6 * u), u, u);
        QPolygonF lens;
        lens << QPointF(10 * u, 7.5 * u) << QPointF(13 * u, 5.5 * u) << QPointF(13 * u, 10.5 * u)
             << QPointF(10 * u, 8.5 * u);
        p.drawPolygon(lens);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
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
    : QDialog(parent), service_(install_folder()), session_(link_, service_, *this),
      controller_(session_, *this, *this, install_folder()) {
    app_icon_ = draw_app_icon();
}

CtalvexDlg::~CtalvexDlg() {
    // The link thread ends here, before any panel goes away.
    session_.ShutDown();
}

QString CtalvexDlg::TitleFor(const std::string& app_name) {
    return app_name.empty() ? QString::fromUtf8(kDefaultTitle) : gbk_to_qstring(app_name);
}

bool CtalvexDlg::OnInitDialog() {
    SetFrameStyle();
    SetAppIcon();
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
    return true;
}

void CtalvexDlg::SetFrameStyle() {
    // A plain resizable window with the system menu; the frameless skinned frame replaces it with its own
    // hit-testing.
    setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
}

void CtalvexDlg::SetAppIcon() { setWindowIcon(app_icon_); }

void CtalvexDlg::SetTitle() { setWindowTitle(TitleFor(launch_.app_name)); }

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

void CtalvexDlg::SetUpServiceLink() { session_.SetUp(this); }

void CtalvexDlg::CreatePanels() {
    user_list_ = new TextUserList(&session_, this);
    message_log_ = new TextMessageLog(user_list_, this);
    status_bar_ = new TextStatusBar(&session_, this);
    chat_input_ = new TextChatInput(&session_, user_list_, message_log_, this);
    course_label_ = new QLabel(this);

    auto* speak = new QPushButton(QString::fromUtf8("申请发言"), this);
    auto* microphone = new QPushButton(QString::fromUtf8("麦克风"), this);
    auto* camera = new QPushButton(QString::fromUtf8("摄像头"), this);
    connect(speak, &QPushButton::clicked, this, [this] { session_.request(kReqSpeakRequest, nullptr, 0); });
    connect(microphone, &QPushButton::clicked, this, [this] { status_bar_->ToggleMicrophone(); });
    connect(camera, &QPushButton::clicked, this, [this] { session_.request(kReqToggleCamera, nullptr, 0); });

    auto* top = new QHBoxLayout;
    top->addWidget(course_label_, 1);
    top->addWidget(speak);
    top->addWidget(microphone);
    top->addWidget(camera);
    auto* middle = new QHBoxLayout;
    middle->addWidget(user_list_, 1);
    middle->addWidget(message_log_, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addWidget(chat_input_);
    layout->addWidget(status_bar_);

    Panels panels;
    panels.user_list = user_list_;
    panels.message_log = message_log_;
    panels.status_bar = status_bar_;
    panels.chat_input = chat_input_;
    panels.video = &video_;
    panels.media = &media_;
    panels.sound = &sound_;
    session_.set_panels(panels);
    session_.set_actions(&controller_);
    controller_.set_panels(panels);
}

void CtalvexDlg::ConnectAndLogIn() { session_.ConnectFirstTime(); }

void CtalvexDlg::PlaceFirstTime() {
    course_label_->setText(gbk_to_qstring(launch_.subject));
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, kFirstWidth, kFirstHeight);
    screen_width_ = area.width();
    screen_height_ = area.height();
    resize(kFirstWidth, kFirstHeight);
    move(area.x() + (area.width() - kFirstWidth) / 2, area.y() + (area.height() - kFirstHeight) / 2);
    controller_.StartupAudioHint();
}

void CtalvexDlg::BringToFront() {
    // Runs once the modal loop has shown the window.
    QTimer::singleShot(0, this, [this] {
        raise();
        activateWindow();
        test_hooks::report("shown", isVisible() ? "1" : "0");
        test_hooks::report("title", windowTitle());
    });
}

void CtalvexDlg::BringToFrontOnRequest() {
    test_hooks::report("raise_request", "1");
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

bool CtalvexDlg::event(QEvent* e) {
    if (platform::dispatch_message(e, *this))
        return true;
    return QDialog::event(e);
}

void CtalvexDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (controller_.OnMessage(id, wparam, lparam))
        return;
    switch (id) {
    case msg::kLinkLost:
        session_.Reconnect();
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

void CtalvexDlg::PostMessageBox(const std::string& text, const std::string& caption) {
    auto m = std::make_shared<MessageBoxText>(MessageBoxText{text, caption});
    platform::post_message(this, msg::kMessageBox, 0, std::shared_ptr<void>(std::move(m)));
}

uint32_t CtalvexDlg::WindowHandle() { return static_cast<uint32_t>(winId()); }

QObject* CtalvexDlg::WindowObject(Window w) {
    switch (w) {
    case Window::UserList: return user_list_;
    case Window::StatusBar: return status_bar_;
    case Window::MainDialog: return this;
    }
    return this;
}

void CtalvexDlg::Post(Window to, unsigned id, intptr_t wparam, intptr_t lparam) {
    platform::post_message(WindowObject(to), id, wparam, lparam);
}

void CtalvexDlg::PostPayload(Window to, unsigned id, std::shared_ptr<void> payload, intptr_t lparam) {
    platform::post_message(WindowObject(to), id, std::move(payload), lparam);
}
