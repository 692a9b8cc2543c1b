// The user list: a strip of five picture tiles between a previous-page and a next-page button (in a tall
// window two or three such rows, one page), a view of the roster.
// Each tile shows a user's picture (fetched in the background by the PictureFetcher; until it is stored, a
// picture drawn from the nickname's first character) with the host, microphone, camera and hand icons over
// it. Clicking the icons is how the host grants and withdraws the right to speak and approves requests, and
// how anybody opens and closes another user's video or switches the own camera.
#pragma once

#include <QWidget>

class QMenu;

#include <array>
#include <functional>

#include "controls/CPictureEx.h"
#include "platform/messages.h"
#include "roster/PictureFetcher.h"
#include "session/call_back.h"
#include "session/panels.h"
#include "session/roster.h"
#include "skin/CSkinBitmap.h"
#include "skin/CSkinButtons.h"

class CLeftDlg : public QWidget, public IRosterView, public IPictureEvent, public platform::MessageTarget {
public:
    static constexpr int kTilesPerRow = 5;
    static constexpr int kMaxRows = 3;
    static constexpr int kMaxTiles = kTilesPerRow * kMaxRows;
    enum Control { kPreviousPage = 1091, kNextPage = 1092, kFirstTile = 100 };
    enum Icon { kTeacher, kStudent, kMicOn, kMicOff, kCameraOn, kCameraOff, kHand, kIconCount };

    // `web_host`: "http://host" of the pictures.
    CLeftDlg(call_back* cb, Roster& roster, ISessionActions* actions, const std::string& install_folder,
             const std::string& web_host, QWidget* parent);
    ~CLeftDlg() override;

    // IRosterView
    void OnUserAdded(UserRecord& record) override;
    void OnUserRemoved(uint32_t user_id, size_t index) override;
    void OnUserChanged(UserRecord& record) override;
    // Opens the user's picture and asks the room for its video, as a click on the camera icon does.
    void Watch(UserRecord& record);
    // Who is told what the list has shown (none by default).
    void set_observer(IPanelObserver* o) { observer_ = o; }
    void OnRosterCleared() override;

    // Rows of tiles (1 to kMaxRows), set by the main dialog's layout. The first user shown stays on the page.
    void SetRows(int rows);
    int tiles_per_page() const { return tiles_per_page_; }
    void ShowPage(int page);
    void PreviousPage();
    void NextPage();
    int page() const { return page_; }
    // The user a tile shows (0 for none).
    uint32_t TileUser(int slot) const;
    CPictureEx* tile(int slot) const { return tiles_[size_t(slot)]; }
    const CSkinBitmap& icon(Icon i) const { return icons_[size_t(i)]; }
    // A click at a point of a tile (tile coordinates), as OnTileClicked sees it.
    void ClickTile(int slot, const QPoint& at);
    // The picture of a user arrived (message 1047).
    void OnPictureReady(int result, uint32_t user_id);
    // Waits for the picture downloads to end (the window is going away).
    void StopDownloads() { pictures_.Stop(); }
    PictureFetcher& pictures() { return pictures_; }

    // The class actions (hands, removal, speaker levels); set by the main dialog.
    void set_class_actions(IClassActions* a) { class_actions_ = a; }
    // The menu of a tile (right button): speaker level for others, and for the host speech and removal.
    // Opens without blocking; the open menu is `tile_menu()` until it closes.
    void ShowTileMenu(int slot, const QPoint& global);
    QMenu* tile_menu() const { return tile_menu_; }
    // What a tile says about its user (name, role, microphone, camera, hand), for its tool tip and for a
    // screen reader.
    QString TileDescription(const UserRecord& record);

    // How the host is asked; a test answers for the user.
    std::function<bool(const QString& text, const QString& caption)> ask;

    // IPictureEvent: the icons over a tile.
    void OnDrawOverlay(int control_id, uint32_t user_value, QPainter& painter, const QRect& client) override;

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void FillTile(int slot, const UserRecord& record);
    void ClearTile(int slot);
    void Layout();
    void SendSpeakControl(uint32_t user_id, bool allow);
    // The parts of the tile menu: the speaker level of user `id`, and for the host speech and removal.
    void AddSpeakerVolume(uint32_t id, const QString& nick);
    void AddHostEntries(uint32_t id, const QString& nick, bool may_speak);
    void Notice(const QString& text);
    void DescribeTile(int slot);
    // Every filled tile of the page again (its names depend on who else is in the room).
    void DescribeTiles();
    bool SelfIsHost();
    int SlotOfUser(uint32_t user_id) const;

    call_back* cb_;
    Roster& roster_;
    ISessionActions* actions_;
    IClassActions* class_actions_ = nullptr;
    IPanelObserver* observer_ = nullptr;
    QMenu* tile_menu_ = nullptr;
    std::string install_folder_;
    std::array<CPictureEx*, kMaxTiles> tiles_{};
    int tiles_per_page_ = kTilesPerRow;
    std::array<CSkinBitmap, kIconCount> icons_;
    CSkinButtons skin_;
    PictureFetcher pictures_;
    int page_ = 0;
    bool initialised_ = false;
};
