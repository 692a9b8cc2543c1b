// Number-only setup dialogs (see NumberDeviceDialogs.h).
#include "roster/NumberDeviceDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QSpinBox>

#include "roster/roster_texts.h"

bool NumberDeviceDialogs::RunAudioSetup(int& record_id, int& play_id) {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QString::fromUtf8(roster_text::kAudioSetup));
    auto* form = new QFormLayout(&dialog);
    auto* record = new QSpinBox(&dialog);
    auto* play = new QSpinBox(&dialog);
    record->setRange(0, 64);
    play->setRange(0, 64);
    record->setValue(record_id);
    play->setValue(play_id);
    form->addRow(QString::fromUtf8(roster_text::kRecordingDevice), record);
    form->addRow(QString::fromUtf8(roster_text::kPlaybackDevice), play);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    record_id = record->value();
    play_id = play->value();
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
