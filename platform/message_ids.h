// The program's private window messages, by number.
#pragma once

#include <cstdint>

namespace msg {

constexpr unsigned kLinkLost = 1046; // main dialog: reconnect
// A number means one thing to each receiver; the name says which receiver it is for.
constexpr unsigned kMessageBox = 1047;        // main dialog: message box (text, caption)
constexpr unsigned kPictureReady = 1047;      // user list: a user's picture arrived (result, user id)
constexpr unsigned kVideoWindowClosed = 1047; // video registry: a window's close button (user id)
constexpr unsigned kLoginFailed = 1048;       // main dialog: login result code
constexpr unsigned kStopWatching = 1049;      // main dialog: stop receiving a user's video
constexpr unsigned kMediaEvent = 1050;        // main dialog: media start or own speak right (wParam below)
constexpr intptr_t kMediaStartParam = 1;
constexpr intptr_t kOwnSpeakRightParam = 2;
constexpr unsigned kIgnored23 = 1051;       // main dialog: packet type 23, which asks for nothing
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
// Internal: the start-up audio probe ended; wParam 1 when capture and playback could not run together.
constexpr unsigned kAudioProbeDone = 0x7F03;
// Internal: a background look at the machine's devices ended; the payload is the DeviceLists.
constexpr unsigned kDevicesScanned = 0x7F04;
// Internal: the status bar's first paint is done (its mixer opens now), and the mixer has been opened.
constexpr unsigned kFirstPaintDone = 0x7F05;
constexpr unsigned kMixerOpened = 0x7F06;

} // namespace msg
