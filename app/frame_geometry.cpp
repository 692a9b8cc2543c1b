// Frame arithmetic (see frame_geometry.h).
#include "app/frame_geometry.h"

#include <algorithm>
#include <cstddef>

using std::size_t;

HitCode hit_test(int width, int height, int x, int y) {
    const bool left = x < kResizeBand, right = x >= width - kResizeBand;
    const bool top = y < kResizeBand, bottom = y >= height - kResizeBand;
    const bool near_left = x < kResizeCorner, near_right = x >= width - kResizeCorner;
    const bool near_top = y < kResizeCorner, near_bottom = y >= height - kResizeCorner;
    // A corner takes the band of both of its edges along kResizeCorner pixels, so it is easy to hit.
    if ((left && near_top) || (top && near_left))
        return kHitTopLeft;
    if ((right && near_top) || (top && near_right))
        return kHitTopRight;
    if ((left && near_bottom) || (bottom && near_left))
        return kHitBottomLeft;
    if ((right && near_bottom) || (bottom && near_right))
        return kHitBottomRight;
    if (left)
        return kHitLeft;
    if (right)
        return kHitRight;
    if (top)
        return kHitTop;
    if (bottom)
        return kHitBottom;
    return kHitCaption;
}

CursorShape cursor_for(HitCode hit) {
    switch (hit) {
    case kHitLeft:
    case kHitRight:
        return CursorShape::SizeWE;
    case kHitTop:
    case kHitBottom:
        return CursorShape::SizeNS;
    case kHitTopLeft:
    case kHitBottomRight:
        return CursorShape::SizeNWSE;
    case kHitTopRight:
    case kHitBottomLeft:
        return CursorShape::SizeNESW;
    default:
        return CursorShape::Arrow;
    }
}

PanelPlaces layout_panels(int W, int H, const Borders& b) {
    const int L = b.left, T = b.top, R = b.right, B = b.bottom;
    const int D = W - R - L;
    const int E = (D / 10) * 4;
    PanelPlaces p;
    // Four pictures in a row share the width and keep 4:3; the lower part keeps room for its panels.
    int picture_w = std::max(D / 4, 0);
    const int room_h = H - T - B - kHeaderHeight - kLowerMinHeight;
    if (picture_w * 3 / 4 > room_h)
        picture_w = std::max(room_h, 0) * 4 / 3;
    const int picture_h = picture_w * 3 / 4;
    const int row_x = L + (D - 4 * picture_w) / 2;
    p.media = {row_x, T + kHeaderHeight, picture_w, picture_h};
    p.video = {row_x + picture_w, T + kHeaderHeight, 3 * picture_w, picture_h};
    // Below them: the user list (its square tiles grow with its width), the chat input and the status bar on
    // the left, the message log on the right.
    const int lower = T + kHeaderHeight + picture_h;
    const int chat_room = H - B - kStatusHeight - lower - kChatMinHeight;
    const int row_h = std::min((E - 32) / 5 + 4, kUserListMaxHeight);
    int list_h = std::max(std::min(row_h, chat_room), kUserListMinHeight);
    const int below = H - B - kStatusHeight - lower;
    while (p.user_list_rows < kUserListMaxRows && below - list_h - row_h >= kChatRoomyHeight) {
        ++p.user_list_rows;
        list_h += row_h;
    }
    p.user_list = {L, lower, E, list_h};
    p.chat_input = {L, lower + list_h, E, H - B - kStatusHeight - lower - list_h};
    p.status_bar = {L, H - B - kStatusHeight, E, kStatusHeight};
    p.message_log = {L + E, lower, D - E, H - B - lower};
    return p;
}

std::vector<Rect> place_title_buttons(int W, const Borders& b,
                                      const std::vector<std::pair<int, int>>& sizes) {
    std::vector<Rect> places(sizes.size());
    auto width = [&](int entry) { return entry < int(sizes.size()) ? sizes[size_t(entry)].first : 0; };
    auto place = [&](int entry, int x) {
        if (entry < int(sizes.size()))
            places[size_t(entry)] = {x, b.top + 4, sizes[size_t(entry)].first, sizes[size_t(entry)].second};
    };
    int x = W - width(2) - b.right - 1;
    place(2, x);
    int previous = 2;
    for (int entry : {1, 0, 3, 4}) {
        // The step uses the width of the button just placed.
        x = x - width(previous) - 1;
        place(entry, x);
        previous = entry;
    }
    return places;
}
