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

// The hit code of a point in window coordinates of a window `width` x `height` (right and bottom are the
// window's edges). The 3-pixel edges come before the 10-pixel corners; a free point is the caption, so that
// any free area drags the window.
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
};

// The six panels for a client of W x H.
PanelPlaces layout_panels(int width, int height, const Borders& borders);

// The title buttons' places: entry 2 rightmost, then 1, 0, 3 and 4 leftwards, each 1 pixel left of the one
// before, all at y = top border + 4. `sizes` holds (width, height) per entry; entries past its end count as
// absent (width 0) and get no place (an empty rectangle).
std::vector<Rect> place_title_buttons(int client_width, const Borders& borders,
                                      const std::vector<std::pair<int, int>>& sizes);

constexpr int kMinWindowWidth = 960;
constexpr int kMinWindowHeight = 500;
constexpr int kRegionCorner = 16;
