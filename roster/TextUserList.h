// The room's users as a text list, a view of the roster model: one line per user with the host, microphone,
// camera and hand marks. It is the place where the picture tiles go.
#pragma once

#include <QListWidget>

#include "session/roster.h"

class TextUserList : public QListWidget, public IRosterView {
public:
    TextUserList(Roster& roster, QWidget* parent);
    ~TextUserList() override;

    void OnUserAdded(UserRecord& record) override;
    void OnUserRemoved(uint32_t user_id) override;
    void OnUserChanged(UserRecord& record) override;
    void OnRosterCleared() override;

private:
    void Redraw();
    Roster& roster_;
};
