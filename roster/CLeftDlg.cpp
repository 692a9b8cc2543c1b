// The user list (see CLeftDlg.h).
#include "roster/CLeftDlg.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QWidgetAction>

#include <algorithm>

#include "config/client_config.h"
#include "platform/controls.h"
#include "platform/message_box.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "roster/label_size.h"
#include "roster/roster_texts.h"
#include "session/requests.h"
#include "session/session_texts.h"
#include "wire/packet_types.h"

namespace {

// What a drawn picture shows: a nickname made from the user id ("用户201", rooms without a directory) shows
// its digits, since every such tile would otherwise show the same "用"; any other nickname its first
// character.
QString picture_label(const UserRecord& record) {
    const QString name = gbk_to_qstring(record.block.nickname);
    const QString generated = QString::fromUtf8("用户") + QString::number(record.block.user_id);
    if (name.isEmpty() || name == generated)
        return QString::number(record.block.user_id);
    return name.left(1);
}

// The picture of a user whose own picture is not stored (yet): the label on a colour that the user id
// chooses.
QImage drawn_picture(const UserRecord& record) {
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    const int hue = int((record.block.user_id * 2654435761u) >> 24) * 360 / 256;
    image.fill(QColor::fromHsv(hue, 110, 205));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QString label = picture_label(record);
    QFont f;
    f.setBold(true);
    // As large as fits: one character at 34 pixels, a number of several digits smaller (10 when even 12
    // pixels are too wide).
    const int px = largest_fitting_size(
        [&f, &label](int size) {
            f.setPixelSize(size);
            return QFontMetrics(f).horizontalAdvance(label);
        },
        58, 34, 12);
    f.setPixelSize(px);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(image.rect(), Qt::AlignCenter, label);
    return image;
}

} // namespace

CLeftDlg::CLeftDlg(call_back* cb, Roster& roster, ISessionActions* actions, const std::string& install_folder,
                   const std::string& web_host, QWidget* parent)
    : QWidget(parent), cb_(cb), roster_(roster), actions_(actions), install_folder_(install_folder),
      pictures_(this, web_host, picture_folder_path(install_folder)) {
    for (auto [id, text] : {std::pair{kPreviousPage, "<"}, std::pair{kNextPage, ">"}}) {
        auto* b = new QPushButton(text, this);
        set_control_id(b, id);
        b->setFocusPolicy(Qt::TabFocus);
        b->resize(16, 64);
        connect(b, &QPushButton::clicked, this,
                [this, id = id] { id == kPreviousPage ? PreviousPage() : NextPage(); });
    }
    const std::string skin = path_join(install_folder, "ui");
    skin_.dialog = this;
    skin_.skin_folder = skin;
    skin_.Load(path_join(skin, "ulist.txt"));
    for (int i = 0; i < kMaxTiles; ++i) {
        auto* t = new CPictureEx(this, kFirstTile + i);
        t->setGeometry(0, 0, 16, 16);
        t->set_stretch(true);
        t->set_event_sink(this);
        t->setVisible(i < tiles_per_page_);
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
    pictures_.Stop();
}

bool CLeftDlg::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void CLeftDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (id == msg::kPictureReady) {
        OnPictureReady(int(wparam), uint32_t(lparam));
    } else if (id == msg::kPictureAction && (lparam == 0 || lparam == 3)) {
        auto* tile = reinterpret_cast<CPictureEx*>(wparam);
        for (int i = 0; i < tiles_per_page_; ++i) {
            if (tiles_[size_t(i)] != tile)
                continue;
            if (lparam == 0)
                ClickTile(i, tile->mapFromGlobal(QCursor::pos()));
            else
                ShowTileMenu(i, QCursor::pos());
        }
    }
}

// ---- layout ----

void CLeftDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (initialised_)
        Layout();
}

void CLeftDlg::SetRows(int rows) {
    rows = std::clamp(rows, 1, kMaxRows);
    if (rows * kTilesPerRow == tiles_per_page_)
        return;
    const int first = page_ * tiles_per_page_;
    tiles_per_page_ = rows * kTilesPerRow;
    for (int i = 0; i < kMaxTiles; ++i) {
        if (i >= tiles_per_page_)
            ClearTile(i);
        tiles_[size_t(i)]->setVisible(i < tiles_per_page_);
    }
    if (initialised_)
        Layout();
    ShowPage(first / tiles_per_page_);
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
    // Square tiles, as large as the page allows, centred in their places, row under row.
    const int rows = tiles_per_page_ / kTilesPerRow;
    const int step = (W - w0 - w1) / kTilesPerRow;
    const int row_h = std::max(H - 10, 0) / rows;
    const int side = std::max(std::min(step - 10, row_h - 10), 0);
    const int top = (H - rows * row_h) / 2;
    for (int i = 0; i < tiles_per_page_; ++i) {
        const int row = i / kTilesPerRow, column = i % kTilesPerRow;
        tiles_[size_t(i)]->setGeometry(w0 + column * step + (step - side) / 2,
                                       top + row * row_h + (row_h - side) / 2, side, side);
    }
    update();
}

// ---- the roster's changes ----

void CLeftDlg::OnUserAdded(UserRecord& record) {
    ASSERT_UI_THREAD();
    if (&record == roster_.Self()) {
        // The local user's record starts the pictures: earlier requests are dropped with the restart.
        pictures_.Restart();
    }
    pictures_.Request(record.block.user_id);
    const int index = roster_.IndexOf(record.block.user_id);
    if (index >= page_ * tiles_per_page_ && index < (page_ + 1) * tiles_per_page_)
        FillTile(index - page_ * tiles_per_page_, record);
    // A second user of a nickname: the tiles of the first now name it with its user id too.
    if (roster_.DisplayName(record.block.user_id) != record.block.nickname)
        DescribeTiles();
}

void CLeftDlg::DescribeTiles() {
    for (int s = 0; s < tiles_per_page_; ++s)
        if (TileUser(s))
            DescribeTile(s);
}

void CLeftDlg::OnUserRemoved(uint32_t user_id, size_t index) {
    ASSERT_UI_THREAD();
    const int first = page_ * tiles_per_page_;
    const int count = int(roster_.size());
    if (first == count && page_ > 0) {
        ShowPage(page_ - 1);
        return;
    }
    const int i = int(index);
    if (i >= first && i < first + tiles_per_page_) {
        // The users after it move one tile to the left; the freed tiles past the end are cleared.
        for (int k = i; k < first + tiles_per_page_; ++k) {
            if (k < count)
                FillTile(k - first, *roster_.users()[size_t(k)]);
            else
                ClearTile(k - first);
        }
    }
    // A tile never keeps a user who left, wherever it stood.
    for (int s = 0; s < tiles_per_page_; ++s)
        if (TileUser(s) == user_id)
            ClearTile(s);
    // One who shared a nickname with the user who left goes back to the plain name.
    DescribeTiles();
}

void CLeftDlg::Watch(UserRecord& record) {
    const uint32_t id = record.block.user_id;
    req::OpenVideoWindow(*cb_, id, record.block);
    if (actions_)
        actions_->WatchUser(id);
    roster_.SetState(id, pkt::kStateVideo, true);
}

void CLeftDlg::OnUserChanged(UserRecord& record) {
    ASSERT_UI_THREAD();
    const int slot = SlotOfUser(record.block.user_id);
    if (slot >= 0) {
        tiles_[size_t(slot)]->update();
        DescribeTile(slot);
        if (observer_)
            observer_->TileChanged(record.block);
    }
}

void CLeftDlg::OnRosterCleared() {
    ASSERT_UI_THREAD();
    page_ = 0;
    for (int s = 0; s < tiles_per_page_; ++s)
        ClearTile(s);
}

// ---- pages and tiles ----

uint32_t CLeftDlg::TileUser(int slot) const {
    return tiles_[size_t(slot)]->composer().loaded() ? tiles_[size_t(slot)]->property("user").toUInt() : 0;
}

int CLeftDlg::SlotOfUser(uint32_t user_id) const {
    for (int s = 0; s < tiles_per_page_; ++s)
        if (TileUser(s) == user_id)
            return s;
    return -1;
}

void CLeftDlg::FillTile(int slot, const UserRecord& record) {
    if (slot < 0 || slot >= tiles_per_page_)
        return;
    CPictureEx* t = tiles_[size_t(slot)];
    bool loaded = false;
    if (record.picture_ready)
        loaded = t->LoadFile(QString::fromStdString(pictures_.PicturePath(record.picture_ready)));
    if (!loaded)
        loaded = t->LoadImage(drawn_picture(record));
    if (!loaded)
        return;
    t->setProperty("user", record.block.user_id);
    t->set_user_value(record.block.user_id);
    t->SetTipText(record.block.nickname);
    t->Play();
    DescribeTile(slot);
    if (observer_)
        observer_->TileFilled(slot, record.block.user_id, record.picture_ready != 0);
}

void CLeftDlg::ClearTile(int slot) {
    CPictureEx* t = tiles_[size_t(slot)];
    t->Clear();
    t->setProperty("user", 0u);
    t->set_user_value(0);
    t->update();
    DescribeTile(slot);
}

void CLeftDlg::ShowPage(int page) {
    page_ = page;
    const int first = page * tiles_per_page_;
    const auto& users = roster_.users();
    for (int s = 0; s < tiles_per_page_; ++s) {
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
    const int pages = count / tiles_per_page_ + (count % tiles_per_page_ ? 1 : 0);
    if (page_ + 1 < pages)
        ShowPage(page_ + 1);
}

// ---- pictures ----

void CLeftDlg::OnPictureReady(int result, uint32_t user_id) {
    ASSERT_UI_THREAD();
    if (observer_)
        observer_->PictureArrived(user_id, result);
    if (result != download::kStored)
        return;
    UserRecord* record = roster_.FindById(user_id);
    if (!record)
        return;
    record->picture_ready = user_id;
    const int index = roster_.IndexOf(user_id);
    if (index >= page_ * tiles_per_page_ && index < (page_ + 1) * tiles_per_page_)
        FillTile(index - page_ * tiles_per_page_, *record);
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
    } else {
        // No camera: the icon stays, faint, so that a click on it can say so.
        const CSkinBitmap& cam = icons_[kCameraOff];
        p.save();
        p.setOpacity(0.35);
        cam.DrawAt(p, r.right() + 1 - cam.width(), r.bottom() + 1 - cam.height());
        p.restore();
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
    const QString nick = gbk_to_qstring(roster_.DisplayName(record->block.user_id));
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
            req::ToggleCamera(*cb_);
        } else if (record->block.state & pkt::kStateVideo) {
            if (actions_)
                actions_->StopWatching(id);
        } else if (record->block.stream.fourcc != 0) {
            Watch(*record);
        } else {
            Notice(QString::fromUtf8(session_text::kNoCamera).replace("%s", nick));
        }
    }
}

void CLeftDlg::Notice(const QString& text) {
    req::NoticeLine(*cb_, qstring_to_gbk(text));
}

QString CLeftDlg::TileDescription(const UserRecord& record) {
    const auto& b = record.block;
    auto t = [](const char* utf8) { return QString::fromUtf8(utf8); };
    QStringList parts;
    parts << gbk_to_qstring(roster_.DisplayName(b.user_id));
    if (&record == roster_.Self())
        parts << t(roster_text::kTileSelf);
    parts << t(b.rights & pkt::kRightHost ? roster_text::kTileHost : roster_text::kTileStudent);
    if ((b.rights & pkt::kRightSpeak) && !(b.rights & pkt::kRightHost))
        parts << t(roster_text::kTileMaySpeak);
    parts << t(b.state & pkt::kStateMicrophone ? roster_text::kTileMicOn : roster_text::kTileMicOff);
    if (&record != roster_.Self() && b.stream.fourcc == 0)
        parts << t(roster_text::kTileNoCamera);
    else
        parts << t(b.state & pkt::kStateVideo ? roster_text::kTileCameraOn : roster_text::kTileCameraOff);
    if (b.state & pkt::kStateHand)
        parts << t(roster_text::kTileHand);
    if (class_actions_ && &record != roster_.Self() && class_actions_->SpeakerVolume(b.user_id) != 100)
        parts << t(roster_text::kTileVolume).arg(class_actions_->SpeakerVolume(b.user_id));
    return parts.join(QString::fromUtf8("，"));
}

void CLeftDlg::DescribeTile(int slot) {
    CPictureEx* t = tiles_[size_t(slot)];
    const UserRecord* record = TileUser(slot) ? roster_.FindById(TileUser(slot)) : nullptr;
    if (!record) {
        t->setAccessibleName(QString::fromUtf8(roster_text::kEmptyTile));
        t->setAccessibleDescription(QString());
        t->setToolTip(QString());
        return;
    }
    const QString description = TileDescription(*record);
    t->setAccessibleName(gbk_to_qstring(roster_.DisplayName(record->block.user_id)));
    t->setAccessibleDescription(description + QString::fromUtf8("。") +
                                QString::fromUtf8(roster_text::kTileHelp));
    t->setToolTip(description);
}

void CLeftDlg::ShowTileMenu(int slot, const QPoint& global) {
    UserRecord* record = roster_.FindById(TileUser(slot));
    if (!record || record == roster_.Self())
        return;
    const uint32_t id = record->block.user_id;
    const QString nick = gbk_to_qstring(roster_.DisplayName(record->block.user_id));
    delete tile_menu_;
    tile_menu_ = new QMenu(this);
    tile_menu_->setObjectName("tile_menu");
    tile_menu_->setAccessibleName(nick);
    tile_menu_->setAttribute(Qt::WA_DeleteOnClose);
    connect(tile_menu_, &QObject::destroyed, this, [this] { tile_menu_ = nullptr; });
    if (class_actions_)
        AddSpeakerVolume(id, nick);
    if (SelfIsHost() && class_actions_)
        AddHostEntries(id, nick, record->block.rights & pkt::kRightSpeak);
    tile_menu_->popup(global);
}

void CLeftDlg::AddSpeakerVolume(uint32_t id, const QString& nick) {
    // The speaker's level, 0 to 200 %, applied by the service's mixer as the slider moves.
    auto* box = new QWidget(tile_menu_);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 4, 8, 4);
    auto* label = new QLabel(box);
    auto* slider = new QSlider(Qt::Horizontal, box);
    slider->setObjectName("speaker_volume");
    slider->setRange(0, proto::SpeakerVolume::kMaxPercent);
    slider->setSingleStep(5);
    slider->setPageStep(25);
    slider->setMinimumWidth(140);
    auto show = [label, slider, nick](int v) {
        const QString text = QString::fromUtf8(roster_text::kMenuVolume).arg(v);
        label->setText(text);
        slider->setToolTip(text);
        slider->setAccessibleName(nick + " " + text);
        slider->setAccessibleDescription(text);
    };
    slider->setValue(class_actions_->SpeakerVolume(id));
    show(slider->value());
    connect(slider, &QSlider::valueChanged, this, [this, id, show](int v) {
        show(v);
        if (class_actions_)
            class_actions_->SetSpeakerVolume(id, v);
        if (UserRecord* r = roster_.FindById(id))
            OnUserChanged(*r);
    });
    row->addWidget(label);
    row->addWidget(slider);
    auto* action = new QWidgetAction(tile_menu_);
    action->setDefaultWidget(box);
    tile_menu_->addAction(action);
}

void CLeftDlg::AddHostEntries(uint32_t id, const QString& nick, bool may_speak) {
    tile_menu_->addSeparator();
    QAction* speech = tile_menu_->addAction(
        QString::fromUtf8(may_speak ? roster_text::kMenuWithdraw : roster_text::kMenuGrant));
    speech->setObjectName(may_speak ? "menu_withdraw" : "menu_grant");
    connect(speech, &QAction::triggered, this, [this, id, may_speak] {
        if (may_speak) {
            SendSpeakControl(id, false);
            roster_.SetMicrophone(id, false);
        } else if (class_actions_) {
            class_actions_->GrantSpeech(id);
        }
    });
    QAction* remove = tile_menu_->addAction(QString::fromUtf8(roster_text::kMenuRemove));
    remove->setObjectName("menu_remove");
    connect(remove, &QAction::triggered, this, [this, id, nick] {
        if (ask &&
            ask(QString::fromUtf8(roster_text::kAskRemove).arg(nick),
                QString::fromUtf8(roster_text::kCaption)) &&
            class_actions_)
            class_actions_->RemoveFromClass(id);
    });
}
