// The host's list of raised hands: who asked to speak, since when and for how long, in the order the hands
// went up; the host grants the selected hand (the first by default) or takes speech back from everybody.
// A view of the roster, on the UI thread.
#pragma once

#include <QDialog>

#include "session/panels.h"
#include "session/roster.h"

class QPushButton;
class QTimer;
class QTreeWidget;
class QLabel;

class CHandQueueDlg : public QDialog, public IRosterView {
public:
    CHandQueueDlg(Roster& roster, IClassActions* actions, QWidget* parent);
    ~CHandQueueDlg() override;

    // IRosterView
    void OnUserAdded(UserRecord&) override { Refresh(); }
    void OnUserRemoved(uint32_t, size_t) override { Refresh(); }
    void OnUserChanged(UserRecord&) override { Refresh(); }
    void OnRosterCleared() override { Refresh(); }

    // Grants the selected hand (the oldest when none is selected); false when no hand is up.
    bool GrantSelected();
    QTreeWidget* list() const { return list_; }
    QPushButton* grant_button() const { return grant_; }
    QPushButton* withdraw_all_button() const { return withdraw_all_; }

private:
    void Refresh();

    Roster& roster_;
    IClassActions* actions_;
    QTreeWidget* list_;
    QLabel* empty_;
    QPushButton* grant_;
    QPushButton* withdraw_all_;
    QTimer* tick_;
};
