// The user list (see CLeftDlg.h).
#include "roster/CLeftDlg.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPushButton>

#include <cstring>

#include "config/client_config.h"
#include "platform/controls.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"
#include "roster/roster_texts.h"
#include "session/message_ids.h"
#include "wire/packet_types.h"

namespace {

// The picture request as it travels through the work queue.
struct PictureRequest {
    uint32_t user_id;
    char url[512];
    char folder[260];
    char file[48];
};
static_assert(sizeof(PictureRequest) <= CWorkQueue::kPayloadSize);

void copy_field(char* field, size_t size, const std::string& text) {
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The largest side a stored picture keeps: tiles are small, and a picture from the web can be anything.
constexpr int kMaxPictureSide = 160;

// Decodes a downloaded body and stores it, scaled down, as the user's picture. Runs on the worker thread, so
// the UI thread only ever loads small pictures. False when the body is not a picture.
bool store_picture(const QString& body, const QString& destination) {
    QImageReader reader(body);
    const QSize size = reader.size();
    if (!reader.canRead() || size.isEmpty() || size.width() > 8192 || size.height() > 8192)
        return false;
    if (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide)
        reader.setScaledSize(size.scaled(kMaxPictureSide, kMaxPictureSide, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    const QString partial = destination + ".new";
    if (!image.save(partial, "PNG"))
        return false;
    QFile::remove(destination);
    return QFile::rename(partial, destination);
}

// The picture of a user whose own picture is not stored (yet): the nickname's first character on a colour
// that the user id chooses.
QImage drawn_picture(const UserRecord& record) {
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    const int hue = int((record.block.user_id * 2654435761u) >> 24) * 360 / 256;
    image.fill(QColor::fromHsv(hue, 110, 205));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QString name = gbk_to_qstring(record.block.nickname);
    QFont f;
    f.setPixelSize(34);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(image.rect(), Qt::AlignCenter, name.isEmpty() ? QString("?") : name.left(1));
    return image;
}

} // namespace

CLeftDlg::CLeftDlg(call_back* cb, Roster& roster, ISessionActions* actions, const std::string& install_folder,
                   const std::string& web_host, QWidget* parent)
    : QWidget(parent), cb_(cb), roster_(roster), actions_(actions), install_folder_(install_folder),
      picture_folder_(picture_folder_path(install_folder)), web_host_(web_host) {
    for (auto [id, text] : {std::pair{kPreviousPage, "<"}, std::pair{kNextPage, ">"}}) {
        auto* b = new QPushButton(text, this);
        set_control_id(b, id);
        b->setFocusPolicy(Qt::NoFocus);
        b->resize(16, 64);
        connect(b, &QPushButton::clicked, this,
                [this, id = id] { id == kPreviousPage ? PreviousPage() : NextPage(); });
    }
    const std::string skin = path_join(install_folder, "ui");
    skin_.dialog = this;
    skin_.skin_folder = skin;
    skin_.Load(path_join(skin, "ulist.txt"));
    for (int i = 0; i < kTilesPerPage; ++i) {
        auto* t = new CPictureEx(this, kFirstTile + i);
        t->setGeometry(0, 0, 16, 16);
        t->set_stretch(true);
        t->set_event_sink(this);
        t->show();
        tiles_[size_t(i)] = t;
    }
    static const char* const kIcons[kIconCount] = {"teacher.bmp",     "student.bmp",    "listmicrop.bmp",
                                                   "listmicropd.bmp", "listcamera.bmp", "listcamerad.bmp",
                                                   "hand.bmp"};
    for (int i = 0; i < kIconCount; ++i) {
        icons_[size_t(i)].Load(path_join(skin, kIcons[i]));
        icons_[size_t(i)].transparent = true;
    }
    ask = [this](const QString& text, const QString& caption) { return ask_yes_no(this, text, caption); };
    roster_.AddView(this);
    initialised_ = true;
}

CLeftDlg::~CLeftDlg() {
    roster_.RemoveView(this);
    queue_.Stop();
}

bool CLeftDlg::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void CLeftDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (id == msg::kPictureReady) {
        OnPictureReady(int(wparam), uint32_t(lparam));
    } else if (id == msg::kPictureAction && lparam == 0) {
        auto* tile = reinterpret_cast<CPictureEx*>(wparam);
        for (int i = 0; i < kTilesPerPage; ++i)
            if (tiles_[size_t(i)] == tile)
                ClickTile(i, tile->mapFromGlobal(QCursor::pos()));
    }
}

// ---- layout ----

void CLeftDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (initialised_)
        Layout();
}

void CLeftDlg::Layout() {
    const int W = width(), H = height();
    QWidget* first = get_dlg_item(this, kPreviousPage);
    QWidget* second = get_dlg_item(this, kNextPage);
    const int w0 = skin_.count() > 0 ? skin_.entry(0).width : first->width();
    const int h0 = skin_.count() > 0 ? skin_.entry(0).height : first->height();
    const int w1 = skin_.count() > 1 ? skin_.entry(1).width : second->width();
    const int h1 = skin_.count() > 1 ? skin_.entry(1).height : second->height();
    first->setGeometry(0, (H - h0) / 2, w0, h0);
    second->setGeometry(W - w1, (H - h1) / 2, w1, h1);
    const int step = (W - w0 - w1) / kTilesPerPage;
    for (int i = 0; i < kTilesPerPage; ++i)
        tiles_[size_t(i)]->setGeometry(w0 + 5 + i * step, 10, step - 10, H - 20);
    update();
}

// ---- the roster's changes ----

void CLeftDlg::OnUserAdded(UserRecord& record) {
    ASSERT_UI_THREAD();
    if (&record == roster_.Self()) {
        // The local user's record starts the pictures: earlier requests are dropped with the reset.
        queue_.Reset();
        queue_.Start(this);
    }
    RequestPicture(record);
    const int index = roster_.IndexOf(record.block.user_id);
    if (index >= page_ * kTilesPerPage && index < (page_ + 1) * kTilesPerPage)
        FillTile(index - page_ * kTilesPerPage, record);
    test_hooks::report("user_added", QString::number(record.block.user_id));
    AutoWatch(record);
}

void CLeftDlg::AutoWatch(UserRecord& record) {
    // Headless runs open remote cameras by themselves (see test_hooks.h).
    if (record.block.stream.fourcc != 0 && !(record.block.state & pkt::kStateVideo) &&
        &record != roster_.Self() && auto_watched_ < test_hooks::auto_watch_cameras()) {
        ++auto_watched_;
        Watch(record);
    }
}

void CLeftDlg::OnUserRemoved(uint32_t user_id, size_t index) {
    ASSERT_UI_THREAD();
    test_hooks::report("user_removed", QString::number(user_id));
    const int first = page_ * kTilesPerPage;
    const int count = int(roster_.size());
    if (first == count && page_ > 0) {
        ShowPage(page_ - 1);
        return;
    }
    const int i = int(index);
    if (i >= first && i < first + kTilesPerPage) {
        // The users after it move one tile to the left; the freed tiles past the end are cleared.
        for (int k = i; k < first + kTilesPerPage; ++k) {
            if (k < count)
                FillTile(k - first, *roster_.users()[size_t(k)]);
            else
                ClearTile(k - first);
        }
    }
    // A tile never keeps a user who left, wherever it stood.
    for (int s = 0; s < kTilesPerPage; ++s)
        if (TileUser(s) == user_id)
            ClearTile(s);
}

void CLeftDlg::Watch(UserRecord& record) {
    const uint32_t id = record.block.user_id;
    VideoWindowRequest open{0, id, &record.block};
    cb_->request(kReqVideoWindow, &open, sizeof open);
    if (actions_)
        actions_->WatchUser(id);
    roster_.SetState(id, pkt::kStateVideo, true);
}

void CLeftDlg::OnUserChanged(UserRecord& record) {
    ASSERT_UI_THREAD();
    AutoWatch(record);
    const int slot = SlotOfUser(record.block.user_id);
    if (slot >= 0) {
        tiles_[size_t(slot)]->update();
        const auto& b = record.block;
        test_hooks::report("tile", QString("%1 mic=%2 video=%3 hand=%4 host=%5")
                                       .arg(b.user_id)
                                       .arg(b.state & pkt::kStateMicrophone ? 1 : 0)
                                       .arg(b.state & pkt::kStateVideo ? 1 : 0)
                                       .arg(b.state & pkt::kStateHand ? 1 : 0)
                                       .arg(b.rights & pkt::kRightHost ? 1 : 0));
    }
}

void CLeftDlg::OnRosterCleared() {
    ASSERT_UI_THREAD();
    page_ = 0;
    for (int s = 0; s < kTilesPerPage; ++s)
        ClearTile(s);
}

// ---- pages and tiles ----

uint32_t CLeftDlg::TileUser(int slot) const {
    return tiles_[size_t(slot)]->composer().loaded() ? tiles_[size_t(slot)]->property("user").toUInt() : 0;
}

int CLeftDlg::SlotOfUser(uint32_t user_id) const {
    for (int s = 0; s < kTilesPerPage; ++s)
        if (TileUser(s) == user_id)
            return s;
    return -1;
}

void CLeftDlg::FillTile(int slot, const UserRecord& record) {
    if (slot < 0 || slot >= kTilesPerPage)
        return;
    CPictureEx* t = tiles_[size_t(slot)];
    bool loaded = false;
    if (record.picture_ready)
        loaded = t->LoadFile(
            QString::fromStdString(path_join(picture_folder_, std::to_string(record.picture_ready))));
    if (!loaded)
        loaded = t->LoadImage(drawn_picture(record));
    if (!loaded)
        return;
    t->setProperty("user", record.block.user_id);
    t->set_user_value(record.block.user_id);
    t->SetTipText(record.block.nickname);
    t->Play();
    test_hooks::report("tile_filled", QString("%1 %2 %3")
                                          .arg(slot)
                                          .arg(record.block.user_id)
                                          .arg(record.picture_ready ? "picture" : "drawn"));
}

void CLeftDlg::ClearTile(int slot) {
    CPictureEx* t = tiles_[size_t(slot)];
    t->Clear();
    t->setProperty("user", 0u);
    t->set_user_value(0);
    t->update();
}

void CLeftDlg::ShowPage(int page) {
    page_ = page;
    const int first = page * kTilesPerPage;
    const auto& users = roster_.users();
    for (int s = 0; s < kTilesPerPage; ++s) {
        if (first + s < int(users.size()))
            FillTile(s, *users[size_t(first + s)]);
        else
            ClearTile(s);
    }
    update();
}

void CLeftDlg::PreviousPage() {
    if (page_ > 0)
        ShowPage(page_ - 1);
}

void CLeftDlg::NextPage() {
    const int count = int(roster_.size());
    const int pages = count / kTilesPerPage + (count % kTilesPerPage ? 1 : 0);
    if (page_ + 1 < pages)
        ShowPage(page_ + 1);
}

// ---- pictures ----

void CLeftDlg::RequestPicture(const UserRecord& record) {
    std::unique_ptr<CWorkQueue::Item> item = queue_.TakeFreeItem();
    if (!item)
        return; // before the local user's record: nothing to download with yet
    PictureRequest r{};
    r.user_id = record.block.user_id;
    copy_field(r.url, sizeof r.url,
               web_host_ + "/help.php?view=pic&uid=" + std::to_string(record.block.user_id) + "&size=middle");
    copy_field(r.folder, sizeof r.folder, picture_folder_);
    // The file name comes from the numeric user id only.
    copy_field(r.file, sizeof r.file, std::to_string(record.block.user_id));
    std::memcpy(item->data(), &r, sizeof r);
    queue_.Queue(std::move(item));
}

void CLeftDlg::OnWorkItem(CWorkQueue* queue, void* payload, int size) {
    if (size_t(size) < sizeof(PictureRequest))
        return;
    PictureRequest r{};
    std::memcpy(&r, payload, sizeof r);
    r.url[sizeof r.url - 1] = r.folder[sizeof r.folder - 1] = r.file[sizeof r.file - 1] = '\0';
    const std::string path = path_join(r.folder, r.file);
    const std::string body = path + ".body";
    int result = download::DownloadToFile(r.url, body, limits_, &queue->cancelled());
    if (result == download::kStored &&
        !store_picture(QString::fromStdString(body), QString::fromStdString(path)))
        result = download::kUrlFailed; // not a picture
    QFile::remove(QString::fromStdString(body));
    platform::post_message(this, msg::kPictureReady, result, intptr_t(r.user_id));
}

void CLeftDlg::OnPictureReady(int result, uint32_t user_id) {
    ASSERT_UI_THREAD();
    test_hooks::report("picture", QString("%1 %2").arg(user_id).arg(result));
    if (result != download::kStored)
        return;
    UserRecord* record = roster_.FindById(user_id);
    if (!record)
        return;
    record->picture_ready = user_id;
    const int index = roster_.IndexOf(user_id);
    if (index >= page_ * kTilesPerPage && index < (page_ + 1) * kTilesPerPage)
        FillTile(index - page_ * kTilesPerPage, *record);
}

// ---- icons and clicks ----

void CLeftDlg::OnDrawOverlay(int, uint32_t user_value, QPainter& p, const QRect& r) {
    const UserRecord* record = user_value ? roster_.FindById(user_value) : nullptr;
    if (!record)
        return;
    const auto& b = record->block;
    const CSkinBitmap& host = icons_[b.rights & pkt::kRightHost ? kTeacher : kStudent];
    host.DrawAt(p, 0, 0);
    const CSkinBitmap& mic = icons_[b.state & pkt::kStateMicrophone ? kMicOn : kMicOff];
    mic.DrawAt(p, 0, r.bottom() + 1 - mic.height());
    if (record == roster_.Self() || b.stream.fourcc != 0) {
        const CSkinBitmap& cam = icons_[b.state & pkt::kStateVideo ? kCameraOn : kCameraOff];
        cam.DrawAt(p, r.right() + 1 - cam.width(), r.bottom() + 1 - cam.height());
    }
    if (b.state & pkt::kStateHand)
        icons_[kHand].DrawAt(p, r.right() + 1 - icons_[kHand].width(), 0);
}

bool CLeftDlg::SelfIsHost() {
    const UserRecord* self = roster_.Self();
    return self && (self->block.rights & pkt::kRightHost);
}

void CLeftDlg::SendSpeakControl(uint32_t user_id, bool allow) {
    if (actions_)
        actions_->AllowSpeech(user_id, allow);
}

void CLeftDlg::ClickTile(int slot, const QPoint& at) {
    UserRecord* record = roster_.FindById(TileUser(slot));
    if (!record)
        return;
    const QSize size = tiles_[size_t(slot)]->size();
    const int L = 0, T = 0, R = size.width(), B = size.height();
    auto inside = [&](int x0, int x1, int y0, int y1) {
        return at.x() >= x0 && at.x() < x1 && at.y() >= y0 && at.y() < y1;
    };
    const auto& icon = icons_;
    const uint32_t id = record->block.user_id;
    const bool own = record == roster_.Self();
    const QString nick = gbk_to_qstring(record->block.nickname);
    const QString caption = QString::fromUtf8(roster_text::kCaption);
    if (inside(L, L + icon[kTeacher].width(), T, T + icon[kTeacher].height()))
        return;
    if (inside(L, L + icon[kMicOn].width(), B - icon[kMicOn].height(), B)) {
        if (!SelfIsHost() || own)
            return;
        const bool on = record->block.state & pkt::kStateMicrophone;
        const QString question =
            QString::fromUtf8(on ? roster_text::kAskWithdraw : roster_text::kAskGrant).arg(nick);
        if (ask && ask(question, caption)) {
            SendSpeakControl(id, !on);
            roster_.SetMicrophone(id, !on);
        }
        return;
    }
    if (inside(R - icon[kHand].width(), R, T, T + icon[kHand].height())) {
        if (!SelfIsHost() || own || !(record->block.state & pkt::kStateHand))
            return;
        if (ask && ask(QString::fromUtf8(roster_text::kAskApprove).arg(nick),
                       QString::fromUtf8(roster_text::kApproval))) {
            SendSpeakControl(id, true);
            roster_.SetState(id, pkt::kStateHand, false);
        }
        return;
    }
    if (inside(R - icon[kCameraOn].width(), R, B - icon[kCameraOn].height(), B)) {
        if (own) {
            cb_->request(kReqToggleCamera, nullptr, 0);
        } else if (record->block.state & pkt::kStateVideo) {
            if (actions_)
                actions_->StopWatching(id);
        } else if (record->block.stream.fourcc != 0) {
            Watch(*record);
        }
    }
}
