// Frame arithmetic (see frame_geometry.h).
#include "app/frame_geometry.h"

#include <cstddef>

using std::size_t;

HitCode hit_test(int width, int height, int x, int y) {
    const int right = width, bottom = height;
    if (x <= 3)
        return kHitLeft;
    if (x >= right - 3)
        return kHitRight;
    if (y <= 3)
        return kHitTop;
    if (y >= bottom - 3)
        return kHitBottom;
    if (x <= 10 && y <= 10)
        return kHitTopLeft;
    if (x >= right - 10 && y <= 10)
        return kHitTopRight;
    if (x <= 10 && y >= bottom - 10)
        return kHitBottomLeft;
    if (x >= right - 10 && y >= bottom - 10)
        return kHitBottomRight;
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
    p.media = {L, T + 70, 256, 192};
    p.video = {L + 256, T + 70, D - 256, 192};
    p.user_list = {L, T + 262, E, 80};
    p.chat_input = {L, T + 342, E, H - T - B - 402};
    p.status_bar = {L, H - B - 60, E, 60};
    p.message_log = {L + E, T + 262, D - E, H - B - T - 262};
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
