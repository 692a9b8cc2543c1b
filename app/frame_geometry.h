// The main window's frame arithmetic: hit-testing for resizing and moving, the places of the six panels, and
// the title buttons placed from right to left. Plain functions, tested without a window.
#pragma once

#include <vector>

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// Hit codes, with the values the classic window manager uses.
enum HitCode {
    kHitClient = 1,
    kHitCaption = 2,
    kHitLeft = 10,
    kHitRight = 11,
    kHitTop = 12,
    kHitTopLeft = 13,
    kHitTopRight = 14,
    kHitBottom = 15,
    kHitBottomLeft = 16,
    kHitBottomRight = 17,
};

// The resize band along each edge, and how far along the edges a corner reaches.
constexpr int kResizeBand = 5;
constexpr int kResizeCorner = 20;

// The hit code of a point in window coordinates of a window `width` x `height`. Within the band of an edge
// the corners come first, reaching kResizeCorner pixels along both edges; a free point is the caption.
HitCode hit_test(int width, int height, int x, int y);

// Cursor shapes by hit code.
enum class CursorShape { Arrow, SizeWE, SizeNS, SizeNWSE, SizeNESW };
CursorShape cursor_for(HitCode hit);

// The widths of the left and right border bitmaps and the heights of the top and bottom ones.
struct Borders {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct PanelPlaces {
    Rect media, video, user_list, chat_input, status_bar, message_log;
    int user_list_rows = 1; // rows of tiles the user list shows
};

// The six panels for a client of W x H. The four pictures (the local one, then the three remote ones) grow
// with the width keeping 4:3, centred, as long as the panels below keep kLowerMinHeight; the user list, the
// chat input and the status bar share the left four tenths below them, the message log the rest. A tall
// window gives the user list more rows of tiles (up to kUserListMaxRows) once the chat input has
// kChatRoomyHeight, rather than an ever larger chat input.
PanelPlaces layout_panels(int width, int height, const Borders& borders);
constexpr int kHeaderHeight = 70; // the strip above the pictures (title buttons, speak request, ...)
constexpr int kStatusHeight = 60;
constexpr int kUserListMinHeight = 80;
constexpr int kUserListMaxHeight = 140;
constexpr int kChatMinHeight = 90;
constexpr int kChatRoomyHeight = 180;
constexpr int kUserListMaxRows = 3;
constexpr int kLowerMinHeight = kUserListMinHeight + kChatMinHeight + kStatusHeight;

// The title buttons' places: entry 2 rightmost, then 1, 0, 3 and 4 leftwards, each 1 pixel left of the one
// before, all at y = top border + 4. `sizes` holds (width, height) per entry; entries past its end count as
// absent (width 0) and get no place (an empty rectangle).
std::vector<Rect> place_title_buttons(int client_width, const Borders& borders,
                                      const std::vector<std::pair<int, int>>& sizes);

// Small enough for a 1920 x 1080 screen at 200 % with a task bar.
constexpr int kMinWindowWidth = 800;
constexpr int kMinWindowHeight = 480;
constexpr int kRegionCorner = 16;
