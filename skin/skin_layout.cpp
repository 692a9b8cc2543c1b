// Skin layout file reader (see skin_layout.h).
#include "skin/skin_layout.h"

#include "config/colour.h"
#include "platform/profile.h"

namespace {
// Texts longer than the fields they were read into are cut the same way.
std::string cut(std::string s, size_t max) {
    if (s.size() > max)
        s.resize(max);
    return s;
}
} // namespace

uint32_t layout_key_colour(const std::string& text) {
    return text.empty() ? kNoColour : parse_hex_colour(text);
}

SkinLayout read_skin_layout(const std::string& path) {
    SkinLayout layout;
    const int n = profile_get_int("ui", "buttons", 0, path);
    if (n <= 0)
        return layout;
    // A layout naming more buttons than any window has is not a layout; cap it rather than allocate for it.
    constexpr int kMaxButtons = 256;
    layout.count = n > kMaxButtons ? kMaxButtons : n;
    layout.entries.resize(size_t(layout.count));
    static const char* const kPictureKeys[6] = {"Normal_fn",  "Over_fn",  "Down_fn",
                                                "Normal_fn1", "Over_fn1", "Down_fn1"};
    for (int i = 0; i < layout.count; ++i) {
        const std::string section = std::to_string(3000 + i);
        SkinButtonItem& e = layout.entries[size_t(i)];
        const int id = profile_get_int(section, "ID", 0, path);
        if (id == 0)
            continue;
        e.id = id;
        e.left = profile_get_int(section, "LEFT", 0, path);
        e.top = profile_get_int(section, "TOP", 0, path);
        e.width = profile_get_int(section, "WIDTH", 0, path);
        e.height = profile_get_int(section, "HEIGHT", 0, path);
        e.groupid = profile_get_int(section, "groupid", 0, path);
        for (int k = 0; k < 6; ++k)
            e.pictures[size_t(k)] = cut(profile_get_string(section, kPictureKeys[k], "", path), 260);
        e.use_colour_key = profile_get_int(section, "UseClrKey", 0, path) != 0;
        if (e.use_colour_key) {
            e.normal_key = layout_key_colour(cut(profile_get_string(section, "normal_clrkey", "", path), 12));
            e.hover_key = layout_key_colour(cut(profile_get_string(section, "hover_clrkey", "", path), 12));
            e.down_key = layout_key_colour(cut(profile_get_string(section, "down_clrkey", "", path), 12));
        }
        e.caption = cut(profile_get_string(section, "CAPTION", "", path), 260);
    }
    return layout;
}
