// The skin buttons of one window, loaded from its layout file: each button section turns the window's
// control of that id into a picture button. Entry indexes follow section numbers, skipped sections included.
#pragma once

#include <QImage>
#include <QString>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "components/CWINButton.h"

class QWidget;

struct SkinButtonEntry {
    std::unique_ptr<CWINButton> button; // null when the section was skipped
    int id = 0;
    int left = 0, top = 0, width = 0, height = 0;
    int groupid = 0;
    // Set 1 normal, hover, pressed; set 2 normal, hover, pressed. A null image is an absent picture.
    std::array<QImage, 6> pictures;
};

class CSkinButtons {
public:
    CSkinButtons() = default;
    ~CSkinButtons();
    CSkinButtons(const CSkinButtons&) = delete;
    CSkinButtons& operator=(const CSkinButtons&) = delete;

    // Set by the owner before Load.
    QWidget* dialog = nullptr;
    std::string skin_folder;

    // Loads the layout file; the number of buttons made. A missing file makes none.
    int Load(const std::string& path);

    // Switches an entry to picture set 1 (true) or 2 and sets its tool tip. False for an index not below the
    // count or a skipped entry.
    bool SetPictureSet(int index, bool first_set, const QString& tool_tip);

    int count() const { return int(entries_.size()); }
    SkinButtonEntry& entry(int index) { return entries_[size_t(index)]; }
    const SkinButtonEntry& entry(int index) const { return entries_[size_t(index)]; }

private:
    void Clear();
    std::vector<SkinButtonEntry> entries_;
};
