// Skin buttons (see CSkinButtons.h).
#include "skin/CSkinButtons.h"
#include "skin/CSkinBitmap.h"

#include <QAbstractButton>
#include <QWidget>

#include "platform/controls.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/text.h"
#include "platform/ui_text.h"
#include "skin/skin_layout.h"
#include "skin/skin_texts.h"

CSkinButtons::~CSkinButtons() {
    Clear();
}

void CSkinButtons::Clear() {
    for (SkinButtonEntry& e : entries_)
        if (e.button)
            e.button->Restore();
    entries_.clear();
}

int CSkinButtons::Load(const std::string& path) {
    Clear();
    const SkinLayout layout = read_skin_layout(path);
    entries_.resize(size_t(layout.count));
    int made = 0;
    for (int i = 0; i < layout.count; ++i) {
        const SkinButtonItem& item = layout.entries[size_t(i)];
        if (item.id == 0)
            continue;
        SkinButtonEntry& e = entries_[size_t(i)];
        QWidget* control = get_dlg_item(dialog, item.id);
        e.id = item.id;
        e.button = std::make_unique<CWINButton>();
        e.button->SetItemHandle(control);
        e.left = item.left;
        e.top = item.top;
        e.width = item.width;
        e.height = item.height;
        e.groupid = item.groupid;
        for (size_t k = 0; k < 6; ++k) {
            if (!item.pictures[k].empty()) {
                // Layout files are GBK text, like every text of the skin; file names on disk are Unicode.
                // A picture with words on it may have a copy in the interface's language ("en/").
                const QString name = gbk_to_qstring(item.pictures[k]);
                const QString folder = QString::fromStdString(skin_folder);
                if (ui_text::source_language() || !load_skin_picture(folder + "/en/" + name, e.pictures[k]))
                    load_skin_picture(folder + "/" + name, e.pictures[k]);
            }
        }
        if (!e.pictures[0].isNull())
            e.button->SetBackPic(e.pictures[0], 1);
        if (!e.pictures[1].isNull())
            e.button->SetHoverPic(e.pictures[1]);
        if (!e.pictures[2].isNull())
            e.button->SetPressPic(e.pictures[2]);
        if (item.use_colour_key) {
            e.button->SetColorKey(1);
            e.button->SetColorKey(item.normal_key, item.hover_key, item.down_key);
            // The second picture set (restore, unmute) is drawn by the same skin with the same key colours;
            // without them its key pixels would show after the switch.
            e.button->SetColorKey2(item.normal_key, item.hover_key, item.down_key);
        } else {
            e.button->SetColorKey(0);
        }
        const std::string caption = ui_text::translate(gbk_to_utf8(item.caption));
        e.button->SetToolTip(QString::fromStdString(caption));
        if (control)
            control->setAccessibleName(QString::fromStdString(caption));
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            button->setText(QString());
        if (control)
            control->setGeometry(item.left, item.top, item.width, item.height);
        ++made;
    }
    return made;
}

bool CSkinButtons::SetPictureSet(int index, bool first_set, const QString& tool_tip) {
    if (index < 0 || index >= count() || !entries_[size_t(index)].button)
        return false;
    SkinButtonEntry& e = entries_[size_t(index)];
    const size_t base = first_set ? 0 : 3;
    if (!e.pictures[base].isNull())
        e.button->SetBackPic(e.pictures[base], 1);
    if (!e.pictures[base + 1].isNull())
        e.button->SetHoverPic(e.pictures[base + 1]);
    if (!e.pictures[base + 2].isNull())
        e.button->SetPressPic(e.pictures[base + 2]);
    e.button->SwapColorKey();
    e.button->SetToolTip(tool_tip);
    return true;
}
