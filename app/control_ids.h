// Control ids of the main window's buttons, as the skin layout file names them.
#pragma once

namespace ctl {
constexpr int kMinimise = 1067;
constexpr int kMaximise = 1068;
constexpr int kClose = 1069;
constexpr int kHelp = 1076;
constexpr int kSkin = 1077;
constexpr int kSystemMenu = 1078;
constexpr int kHandUp = 1079;
constexpr int kSendImage = 1080;
constexpr int kPlayMovie = 1081;
constexpr int kPlayMusic = 1082;
constexpr int kAudioSetup = 1083;
constexpr int kVideoSetup = 1084;
// The host's list of raised hands (in the place of the speak request, which the host does not have).
constexpr int kHandQueue = 1085;
} // namespace ctl
