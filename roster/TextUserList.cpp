// The text user list (see TextUserList.h).
#include "roster/TextUserList.h"

#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"
#include "roster/roster_texts.h"
#include "wire/packet_types.h"

TextUserList::TextUserList(Roster& roster, QWidget* parent) : QListWidget(parent), roster_(roster) {
    roster_.AddView(this);
}

TextUserList::~TextUserList() {
    roster_.RemoveView(this);
}

void TextUserList::OnUserAdded(UserRecord& record) {
    ASSERT_UI_THREAD();
    test_hooks::report("user_added", QString::number(record.block.user_id));
    Redraw();
}

void TextUserList::OnUserRemoved(uint32_t user_id) {
    ASSERT_UI_THREAD();
    test_hooks::report("user_removed", QString::number(user_id));
    Redraw();
}

void TextUserList::OnUserChanged(UserRecord&) {
    ASSERT_UI_THREAD();
    Redraw();
}

void TextUserList::OnRosterCleared() {
    ASSERT_UI_THREAD();
    Redraw();
}

void TextUserList::Redraw() {
    clear();
    for (const auto& u : roster_.users()) {
        const auto& b = u->block;
        QString line = gbk_to_qstring(b.nickname);
        if (u.get() == roster_.Self())
            line += QString::fromUtf8(roster_text::kSelfMark);
        if (b.rights & pkt::kRightHost)
            line += QString::fromUtf8(roster_text::kHostMark);
        if (b.state & pkt::kStateMicrophone)
            line += QString::fromUtf8(roster_text::kMicrophoneMark);
        if (b.stream.fourcc)
            line += QString::fromUtf8(roster_text::kCameraMark);
        if (b.state & pkt::kStateHand)
            line += QString::fromUtf8(roster_text::kHandMark);
        addItem(line);
    }
}
