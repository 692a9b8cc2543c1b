// The run report (see RunReport.h).
#include "app/RunReport.h"

#include <QString>

#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"
#include "roster/CLeftDlg.h"
#include "wire/packet_types.h"

bool RunReport::Wanted() {
    return test_hooks::reporting() || test_hooks::auto_watch_cameras() > 0;
}

RunReport::RunReport(Roster& roster, CLeftDlg& user_list, int watch_limit)
    : roster_(roster), user_list_(user_list), watch_limit_(watch_limit) {
    roster_.AddView(this);
}

RunReport::~RunReport() {
    roster_.RemoveView(this);
}

void RunReport::OnUserAdded(UserRecord& record) {
    ASSERT_UI_THREAD();
    test_hooks::report("user_added", QString::number(record.block.user_id));
    AutoWatch(record);
}

void RunReport::OnUserRemoved(uint32_t user_id, size_t) {
    ASSERT_UI_THREAD();
    test_hooks::report("user_removed", QString::number(user_id));
}

void RunReport::OnUserChanged(UserRecord& record) {
    ASSERT_UI_THREAD();
    AutoWatch(record);
}

void RunReport::AutoWatch(UserRecord& record) {
    if (record.block.stream.fourcc != 0 && !(record.block.state & pkt::kStateVideo) &&
        &record != roster_.Self() && auto_watched_ < watch_limit_) {
        ++auto_watched_;
        user_list_.Watch(record);
    }
}

void RunReport::NoticeShown(const std::string& text) {
    test_hooks::report("notice", gbk_to_qstring(text));
}

void RunReport::FileNoticeShown(const std::string& text, const std::string& utf8_path) {
    test_hooks::report("notice", gbk_to_qstring(text) + " " + QString::fromStdString(utf8_path));
}

void RunReport::ChatShown(uint32_t sender, uint16_t private_flag, const std::string& plain) {
    test_hooks::report("chat", QString("%1>%2:%3").arg(sender).arg(private_flag).arg(gbk_to_qstring(plain)));
}

void RunReport::ChatFacesShown(int faces, bool animating) {
    test_hooks::report("chat_faces", QString("%1 animating=%2").arg(faces).arg(animating ? 1 : 0));
}

void RunReport::ChatSent(uint32_t target) {
    test_hooks::report("chat_sent", QString::number(target));
}

void RunReport::UserCountShown(int count) {
    test_hooks::report("user_count", QString::number(count));
}

void RunReport::LinkStateShown(const std::string& text) {
    test_hooks::report("link_state", gbk_to_qstring(text));
}

void RunReport::TileFilled(int slot, uint32_t user_id, bool picture) {
    test_hooks::report("tile_filled",
                       QString("%1 %2 %3").arg(slot).arg(user_id).arg(picture ? "picture" : "drawn"));
}

void RunReport::TileChanged(const proto::UserBlock& b) {
    test_hooks::report("tile", QString("%1 mic=%2 video=%3 hand=%4 host=%5")
                                   .arg(b.user_id)
                                   .arg(b.state & pkt::kStateMicrophone ? 1 : 0)
                                   .arg(b.state & pkt::kStateVideo ? 1 : 0)
                                   .arg(b.state & pkt::kStateHand ? 1 : 0)
                                   .arg(b.rights & pkt::kRightHost ? 1 : 0));
}

void RunReport::PictureArrived(uint32_t user_id, int result) {
    test_hooks::report("picture", QString("%1 %2").arg(user_id).arg(result));
}

void RunReport::VideoPictureShown(uint32_t user_id, uint64_t decoded) {
    // On the link thread: each line is one append of its own to the file.
    test_hooks::report("video_picture", QString("%1 %2").arg(user_id).arg(decoded));
}

void RunReport::WindowShown(bool visible, const QString& title) {
    test_hooks::report("shown", visible ? "1" : "0");
    test_hooks::report("title", title);
}

void RunReport::WindowPainted() {
    test_hooks::report("painted", "1");
}

void RunReport::IconSet(int sizes) {
    test_hooks::report("icon_sizes", QString::number(sizes));
}

void RunReport::ClassButtonsShown(const char* hand, bool queue_visible) {
    test_hooks::report("hand_button", QString("%1 %2").arg(hand).arg(queue_visible ? "queue" : "-"));
}

void RunReport::RaiseRequested() {
    test_hooks::report("raise_request", "1");
}

void RunReport::LaunchRequested(uint32_t user_id, uint32_t room_id) {
    test_hooks::report("launch_request", QString::number(user_id) + " " + QString::number(room_id));
}

void RunReport::ClassSwitched() {
    test_hooks::report("switch_class", "1");
}
