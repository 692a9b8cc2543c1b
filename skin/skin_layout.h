// Skin layout files: how many skin buttons a window has and, for each, the control it takes over, its place,
// its pictures in two sets, its key colours and its tool tip. Plain C++; the Qt side turns it into buttons.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A colour value of the layout (0x00BBGGRR); kNoColour means none.
constexpr uint32_t kNoColour = 0xFFFFFFFFu;

struct SkinButtonItem {
    int id = 0; // 0: the section was skipped
    int left = 0, top = 0, width = 0, height = 0;
    int groupid = 0;
    // Picture files relative to the skin folder: set 1 normal, hover, pressed; set 2 normal, hover, pressed.
    std::array<std::string, 6> pictures;
    bool use_colour_key = false;
    uint32_t normal_key = kNoColour, hover_key = kNoColour, down_key = kNoColour;
    std::string caption;
};

struct SkinLayout {
    int count = 0; // as read: skipped sections included
    std::vector<SkinButtonItem> entries;
};

// Reads a layout file; a missing file reads as no buttons. Entry i belongs to section 3000 + i.
SkinLayout read_skin_layout(const std::string& path);

// A key colour text of the layout: empty gives kNoColour, anything else goes through the six-digit parser
// (so text that is not six characters gives black).
uint32_t layout_key_colour(const std::string& text);
