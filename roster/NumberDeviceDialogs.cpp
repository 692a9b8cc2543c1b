// Number-only setup dialogs (see NumberDeviceDialogs.h).
#include "roster/NumberDeviceDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QSpinBox>

#include "roster/CAudioSetup.h"
#include "roster/roster_texts.h"

bool NumberDeviceDialogs::RunAudioSetup(int& record_id, int& play_id) {
    CAudioSetup dialog(list_audio_devices(true), list_audio_devices(false), parent_);
    dialog.set_ids(record_id, play_id);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    record_id = dialog.record_id();
    play_id = dialog.play_id();
    return true;
}

bool NumberDeviceDialogs::RunVideoSetup(int& camera_id) {
    bool ok = false;
    const int id = QInputDialog::getInt(parent_, QString::fromUtf8(roster_text::kVideoSetup),
                                        QString::fromUtf8(roster_text::kCamera), camera_id, -1, 64, 1, &ok);
    if (ok)
        camera_id = id;
    return ok;
}
