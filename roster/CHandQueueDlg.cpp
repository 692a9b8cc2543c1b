// The host's list of raised hands (see CHandQueueDlg.h).
#include "roster/CHandQueueDlg.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>

#include "platform/qtext.h"
#include "roster/roster_texts.h"

namespace {

QString t(const char* utf8) {
    return QString::fromUtf8(utf8);
}

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

CHandQueueDlg::CHandQueueDlg(Roster& roster, IClassActions* actions, QWidget* parent)
    : QDialog(parent), roster_(roster), actions_(actions), list_(new QTreeWidget(this)),
      empty_(new QLabel(t(roster_text::kHandQueueEmpty), this)),
      grant_(new QPushButton(t(roster_text::kHandQueueGrant), this)),
      withdraw_all_(new QPushButton(t(roster_text::kHandQueueWithdrawAll), this)), tick_(new QTimer(this)) {
    setObjectName("hand_queue");
    setWindowTitle(t(roster_text::kHandQueueTitle));
    setAccessibleName(t(roster_text::kHandQueueTitle));
    list_->setObjectName("hand_list");
    list_->setColumnCount(3);
    list_->setHeaderLabels(
        {t(roster_text::kHandQueueWho), t(roster_text::kHandQueueSince), t(roster_text::kHandQueueWaited)});
    list_->setRootIsDecorated(false);
    list_->setAccessibleName(t(roster_text::kHandQueueTitle));
    list_->header()->setStretchLastSection(true);
    list_->setMinimumSize(320, 160);
    grant_->setObjectName("hand_grant");
    grant_->setToolTip(t(roster_text::kHandQueueGrant));
    grant_->setAccessibleName(t(roster_text::kHandQueueGrant));
    grant_->setDefault(true);
    withdraw_all_->setObjectName("hand_withdraw_all");
    withdraw_all_->setToolTip(t(roster_text::kHandQueueWithdrawAll));
    withdraw_all_->setAccessibleName(t(roster_text::kHandQueueWithdrawAll));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(grant_);
    buttons->addStretch(1);
    buttons->addWidget(withdraw_all_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(empty_);
    layout->addLayout(buttons);
    connect(grant_, &QPushButton::clicked, this, [this] { GrantSelected(); });
    connect(list_, &QTreeWidget::itemActivated, this, [this] { GrantSelected(); });
    connect(withdraw_all_, &QPushButton::clicked, this, [this] {
        if (actions_)
            actions_->WithdrawAllSpeech();
    });
    // The waiting times move on while the list is open.
    connect(tick_, &QTimer::timeout, this, [this] { Refresh(); });
    tick_->start(1000);
    roster_.AddView(this);
    Refresh();
}

CHandQueueDlg::~CHandQueueDlg() {
    roster_.RemoveView(this);
}

void CHandQueueDlg::Refresh() {
    const uint32_t selected = list_->currentItem() ? list_->currentItem()->data(0, Qt::UserRole).toUInt() : 0;
    list_->clear();
    const int64_t now = now_ms();
    QTreeWidgetItem* keep = nullptr;
    for (const RaisedHand& h : roster_.hands()) {
        const UserRecord* r = roster_.FindById(h.user_id);
        if (!r)
            continue;
        const int64_t waited_s = std::max<int64_t>(0, (now - h.since_ms) / 1000);
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, gbk_to_qstring(roster_.DisplayName(h.user_id)));
        item->setText(1, QDateTime::fromMSecsSinceEpoch(h.since_ms).toString("HH:mm:ss"));
        item->setText(2, t(roster_text::kMinutesSeconds).arg(waited_s / 60).arg(waited_s % 60));
        item->setData(0, Qt::UserRole, h.user_id);
        if (h.user_id == selected)
            keep = item;
    }
    if (keep)
        list_->setCurrentItem(keep);
    const bool any = list_->topLevelItemCount() > 0;
    empty_->setVisible(!any);
    grant_->setEnabled(any);
    setWindowTitle(any ? t(roster_text::kHandQueueTitle) + QString(" (%1)").arg(list_->topLevelItemCount())
                       : t(roster_text::kHandQueueTitle));
}

bool CHandQueueDlg::GrantSelected() {
    QTreeWidgetItem* item = list_->currentItem() ? list_->currentItem() : list_->topLevelItem(0);
    if (!item || !actions_)
        return false;
    return actions_->GrantSpeech(item->data(0, Qt::UserRole).toUInt());
}
