// The program's private window messages, by number.
#pragma once

#include <cstdint>

namespace msg {

constexpr unsigned kLinkLost = 1046;     // main dialog: reconnect
constexpr unsigned kMessageBox = 1047;   // main dialog: message box (text, caption)
constexpr unsigned kLoginFailed = 1048;  // main dialog: login result code
constexpr unsigned kStopWatching = 1049; // main dialog: stop receiving a user's video
constexpr unsigned kAddUser =
    1050; // user list: new record; main dialog: media start (1), own speak right (2)
// wParam of 1050 when it goes to the main dialog.
constexpr intptr_t kMediaStartParam = 1;
constexpr intptr_t kOwnSpeakRightParam = 2;
constexpr unsigned kRemoveUser = 1051;      // user list: remove a record; main dialog: type 23 (ignored)
constexpr unsigned kRepaintLabel = 1057;    // status bar
constexpr unsigned kFaceChosen = 1122;      // face picker, chat input
constexpr unsigned kPictureAction = 1123;   // picture control to its parent
constexpr unsigned kOutputVolume = 2024;    // status bar
constexpr unsigned kCloseZoom = 3135;       // video window
constexpr unsigned kSliderMoving = 10449;   // bitmap slider to its parent
constexpr unsigned kSliderReleased = 10450; // bitmap slider to its parent

// Internal: one inbound packet handed from the link thread to the UI thread.
constexpr unsigned kInboundPacket = 0x7F00;
// Internal: a background reconnect attempt ended; wParam 1 when connected.
constexpr unsigned kReconnectDone = 0x7F01;
// Internal: the video registry lays its windows out again.
constexpr unsigned kRelayout = 0x7F02;

} // namespace msg
