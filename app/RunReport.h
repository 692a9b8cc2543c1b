// The run report of tests and headless runs: with QUORIN_REPORT set (platform/test_hooks.h), what the window
// showed is appended to that file as "key=value" lines, told by the panels (IPanelObserver), the roster
// (IRosterView) and the main window; the panels themselves know nothing of the report. With
// QUORIN_WATCH_CAMERAS, the first remote cameras are opened without anybody to click, through the user list's
// own watch, as a click on a tile's camera does. UI thread, except VideoPictureShown (the link thread).
#pragma once

#include <QString>

#include "session/panels.h"
#include "session/roster.h"

class CLeftDlg;

class RunReport : public IPanelObserver, public IRosterView {
public:
    // Whether a run asked for the report or for cameras opened by themselves.
    static bool Wanted();

    // Watches the roster from now on until destroyed; opens up to `watch_limit` remote cameras by itself.
    RunReport(Roster& roster, CLeftDlg& user_list, int watch_limit);
    ~RunReport() override;
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // IRosterView
    void OnUserAdded(UserRecord& record) override;
    void OnUserRemoved(uint32_t user_id, size_t index) override;
    void OnUserChanged(UserRecord& record) override;
    void OnRosterCleared() override {}

    // IPanelObserver
    void NoticeShown(const std::string& text) override;
    void FileNoticeShown(const std::string& text, const std::string& utf8_path) override;
    void ChatShown(uint32_t sender, uint16_t private_flag, const std::string& plain) override;
    void ChatFacesShown(int faces, bool animating) override;
    void ChatSent(uint32_t target) override;
    void UserCountShown(int count) override;
    void LinkStateShown(const std::string& text) override;
    void TileFilled(int slot, uint32_t user_id, bool picture) override;
    void TileChanged(const proto::UserBlock& block) override;
    void PictureArrived(uint32_t user_id, int result) override;
    void VideoPictureShown(uint32_t user_id, uint64_t decoded) override;

    // The main window: shown (with its title) once the modal loop runs; the speak request button ("raise",
    // "lower" or "hidden") and the host's list button; a second copy asked it to come to the front, or handed
    // it a launch string; another class was chosen.
    void WindowShown(bool visible, const QString& title);
    // The window and its panels have been painted for the first time.
    void WindowPainted();
    // The window's icon was set, drawn at this many sizes.
    void IconSet(int sizes);
    void ClassButtonsShown(const char* hand, bool queue_visible);
    void RaiseRequested();
    void LaunchRequested(uint32_t user_id, uint32_t room_id);
    void ClassSwitched();

private:
    // Opens a remote camera that is on and not watched yet, while fewer than asked were opened.
    void AutoWatch(UserRecord& record);

    Roster& roster_;
    CLeftDlg& user_list_;
    const int watch_limit_;
    int auto_watched_ = 0;
};
