// The audio setup dialog (see CAudioSetup.h).
#include "devices/CAudioSetup.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include <iterator>
#include <tuple>

#include "devices/SetupWindow.h"
#include "devices/devices_texts.h"
#include "platform/controls.h"
#include "platform/message_box.h"

namespace {

void fill(QComboBox* list, const std::vector<AudioDevice>& devices, int id) {
    list->addItem(QString::fromUtf8(devices_text::kDefaultDevice));
    for (const AudioDevice& d : devices)
        list->addItem(QString::fromStdString(d.description), QString::fromStdString(d.name));
    // An id past the list selects nothing; OK then keeps it.
    list->setCurrentIndex(id < 0 ? 0 : id + 1 < list->count() ? id + 1 : -1);
}

} // namespace

CAudioSetup::CAudioSetup(const std::vector<AudioDevice>& capture, const std::vector<AudioDevice>& playback,
                         QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(devices_text::kAudioSetup));
    setObjectName("CAudioSetup");
    auto* group = new QGroupBox(QString::fromUtf8(devices_text::kAudioDevices), this);
    auto* grid = new QGridLayout(group);
    recording_ = new QComboBox(group);
    playback_ = new QComboBox(group);
    set_control_id(recording_, kRecordingList);
    set_control_id(playback_, kPlaybackList);
    recording_->setMinimumContentsLength(28);
    playback_->setMinimumContentsLength(28);
    auto* adjust_in = new QPushButton(QString::fromUtf8(devices_text::kAdjustInput), group);
    auto* adjust_out = new QPushButton(QString::fromUtf8(devices_text::kAdjustOutput), group);
    set_control_id(adjust_in, kAdjustInput);
    set_control_id(adjust_out, kAdjustOutput);
    grid->addWidget(new QLabel(QString::fromUtf8(devices_text::kRecordingDevice), group), 0, 0);
    grid->addWidget(recording_, 0, 1);
    grid->addWidget(adjust_in, 0, 2);
    grid->addWidget(new QLabel(QString::fromUtf8(devices_text::kPlaybackDevice), group), 1, 0);
    grid->addWidget(playback_, 1, 1);
    grid->addWidget(adjust_out, 1, 2);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromUtf8(devices_text::kOk), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8(devices_text::kCancel), QDialogButtonBox::RejectRole);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(group);
    outer->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(adjust_in, &QPushButton::clicked, this, [this] { OpenVolumeControl(true); });
    connect(adjust_out, &QPushButton::clicked, this, [this] { OpenVolumeControl(false); });
    fill(recording_, capture, -1);
    fill(playback_, playback, -1);
    // Tab goes row by row, as the dialog reads: each list, then its volume button; then OK and Cancel.
    QWidget* order[] = {recording_, adjust_in, playback_, adjust_out, buttons};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    make_setup_window(this);
}

void CAudioSetup::set_ids(int record_id, int play_id) {
    record_id_ = record_id;
    play_id_ = play_id;
    const int r = record_id < 0 ? 0 : record_id + 1, p = play_id < 0 ? 0 : play_id + 1;
    recording_->setCurrentIndex(r < recording_->count() ? r : -1);
    playback_->setCurrentIndex(p < playback_->count() ? p : -1);
}

void CAudioSetup::SetDevices(const std::vector<AudioDevice>& capture,
                             const std::vector<AudioDevice>& playback) {
    for (auto [list, devices, id] :
         {std::tuple{recording_, &capture, record_id_}, std::tuple{playback_, &playback, play_id_}}) {
        // A list that shows no selection (its device was not listed yet, as before the first scan) takes
        // the given device once it is listed.
        const bool none = list->currentIndex() < 0;
        const QString chosen = list->currentData().toString(); // empty: the default device
        list->clear();
        fill(list, *devices, -1);
        if (none) {
            list->setCurrentIndex(id < 0 ? 0 : id < list->count() - 1 ? id + 1 : -1);
            continue;
        }
        const int at = chosen.isEmpty() ? 0 : list->findData(chosen);
        list->setCurrentIndex(at < 0 ? 0 : at);
    }
}

void CAudioSetup::accept() {
    if (recording_->currentIndex() >= 0)
        record_id_ = recording_->currentIndex() - 1;
    if (playback_->currentIndex() >= 0)
        play_id_ = playback_->currentIndex() - 1;
    QDialog::accept();
}

bool CAudioSetup::OpenVolumeControl(bool recording) {
    // The desktop's own volume control where PulseAudio runs; the terminal mixer otherwise.
    if (!QStandardPaths::findExecutable("pavucontrol").isEmpty())
        return QProcess::startDetached("pavucontrol", {recording ? "--tab=4" : "--tab=3"});
    const QString terminal = QStandardPaths::findExecutable("x-terminal-emulator");
    if (!QStandardPaths::findExecutable("alsamixer").isEmpty() && !terminal.isEmpty())
        return QProcess::startDetached(terminal,
                                       {"-e", "alsamixer", "-V", recording ? "capture" : "playback"});
    show_message_box(this, QString::fromUtf8(devices_text::kNoVolumeControl),
                     QString::fromUtf8(devices_text::kCaption), MessageIcon::Information);
    return false;
}
