// The status bar (see CStatusDlg.h).
#include "roster/CStatusDlg.h"

#include <QPushButton>

#include <algorithm>

#include "config/client_config.h"
#include "platform/controls.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "roster/roster_texts.h"
#include "session/requests.h"
#include "skin/CBitmapSlider.h"
#include "skin/ClxStatic.h"

CStatusDlg::CStatusDlg(call_back* cb, ISessionActions* actions, const std::string& install_folder,
                       QWidget* parent)
    : QWidget(parent), cb_(cb), actions_(actions), skin_folder_(path_join(install_folder, "ui")) {
    auto label = [this](int id, const char* text, int y) {
        auto* l = new ClxStatic(this);
        set_control_id(l, id);
        l->setText(QString::fromUtf8(text));
        l->colours.transparent = true;
        l->colours.text = colour(kChatTipsColor);
        l->Refresh();
        l->move(8, y);
        l->resize(260, 18);
        return l;
    };
    course_ = label(kCourse, roster_text::kCourseNone, 2);
    host_ = label(kHostLabel, "", 21);
    count_ = label(kUserCountLabel, "", 40);
    link_ = label(0, "", 40);
    link_->move(110, 40);
    link_->colours.text = 0x0000C0; // red: something is wrong with the link
    link_->Refresh();

    for (auto [id, text] : {std::pair{kMicButton, "rec mute"}, std::pair{kOutputButton, "play mute"}}) {
        auto* b = new QPushButton(text, this);
        set_control_id(b, id);
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QPushButton::clicked, this,
                [this, id = id] { id == kMicButton ? ToggleMicrophone() : ToggleOutput(); });
    }
    mic_slider_ = new CBitmapSlider(this);
    set_control_id(mic_slider_, kMicSlider);
    output_slider_ = new CBitmapSlider(this);
    set_control_id(output_slider_, kOutputSlider);

    skin_.dialog = this;
    skin_.skin_folder = skin_folder_;
    skin_.Load(path_join(skin_folder_, "status.txt"));

    // The sliders and buttons act on the cards of the chosen devices; they show the system's volumes once
    // the mixer is open.
    input_index_ = req::DeviceSetting(*cb_, kRecordingDevice, -1);
    output_index_ = req::DeviceSetting(*cb_, kPlaybackDevice, -1);
    output_slider_->SetLabel(QString::fromUtf8(roster_text::kOutputVolume));
    mic_slider_->SetLabel(QString::fromUtf8(roster_text::kMicVolume));
    SetUpSlider(output_slider_, 0);
    SetUpSlider(mic_slider_, 0);
    ShowButton(0, false, roster_text::kMicMuted);
    mic_muted_ = true;
    ShowUserCount();
    initialised_ = true;
}

CStatusDlg::~CStatusDlg() {
    if (mixer_thread_.joinable())
        mixer_thread_.join();
}

CStatusDlg::OpenedMixer CStatusDlg::OpenMixer(int input_index, int output_index) {
    OpenedMixer opened;
    opened.mixer = std::make_unique<CMixer>();
    opened.mixer->SetInputIndex(input_index);
    opened.mixer->SetOutputIndex(output_index);
    opened.output_volume = opened.mixer->GetVolume(CMixer::kOutput);
    opened.output_muted = opened.mixer->GetMute(CMixer::kOutput);
    opened.recording_volume = opened.mixer->GetVolume(CMixer::kRecording);
    return opened;
}

void CStatusDlg::StartOpeningMixer() {
    mixer_started_ = true;
    if (mixer_thread_.joinable())
        return;
    opened_ready_ = false;
    mixer_thread_ = std::thread([this, open = open_mixer, in = input_index_, out = output_index_] {
        opened_ = open(in, out);
        opened_ready_ = true;
        platform::post_message(this, msg::kMixerOpened, 0, 0);
    });
}

void CStatusDlg::OnMixerOpened() {
    // A message of an opening that was taken over already, or one that is still under way: nothing yet.
    if (!mixer_thread_.joinable() || !opened_ready_)
        return;
    TakeOpenedMixer();
    if (!mixer_current())
        StartOpeningMixer(); // the devices changed while it opened
}

void CStatusDlg::TakeOpenedMixer() {
    mixer_thread_.join();
    opened_ready_ = false;
    OpenedMixer opened = std::move(opened_);
    opened_ = {};
    if (!opened.mixer)
        return;
    const bool for_chosen =
        opened.mixer->input_index() == input_index_ && opened.mixer->output_index() == output_index_;
    if (for_chosen || !mixer_current())
        AdoptMixer(std::move(opened));
}

CMixer& CStatusDlg::mixer() {
    ASSERT_UI_THREAD();
    if (!mixer_current() && mixer_thread_.joinable())
        TakeOpenedMixer();
    if (!mixer_current()) {
        mixer_started_ = true;
        AdoptMixer(open_mixer(input_index_, output_index_));
    }
    return *mixer_;
}

void CStatusDlg::AdoptMixer(OpenedMixer opened) {
    const bool first = !mixer_;
    mixer_ = std::move(opened.mixer);
    if (first) {
        // The service's volume, once it came, stays on the output slider.
        if (!output_volume_shown_ && !output_slider_->dragging()) {
            output_slider_->SetPosition(std::clamp(opened.output_volume, 0, 100));
            output_slider_->update();
        }
        if (opened.output_muted && !sound_off_) {
            ShowButton(1, false, roster_text::kOutputMuted);
            sound_off_ = true;
        }
        if (!mic_slider_->dragging()) {
            mic_slider_->SetPosition(std::clamp(opened.recording_volume, 0, 100));
            mic_slider_->update();
        }
    }
    ShowChangedVolumes(opened.output_volume, opened.recording_volume);
}

void CStatusDlg::ShowChangedVolumes(int output_volume, int recording_volume) {
    if (recording_volume_due_ && mixer_->input_index() == input_index_) {
        recording_volume_due_ = false;
        mic_slider_->SetPosition(std::clamp(recording_volume, 0, 100));
        mic_slider_->update();
    }
    if (output_volume_due_ && mixer_->output_index() == output_index_) {
        output_volume_due_ = false;
        output_slider_->SetPosition(std::clamp(output_volume, 0, 100));
        output_slider_->update();
    }
}

void CStatusDlg::paintEvent(QPaintEvent* e) {
    QWidget::paintEvent(e);
    // The mixer starts opening once this paint is on the screen.
    if (!mixer_started_)
        platform::post_message(this, msg::kFirstPaintDone, 0, 0);
}

void CStatusDlg::SetUpSlider(CBitmapSlider* slider, int volume) {
    const QString folder = QString::fromStdString(skin_folder_);
    slider->LoadChannelBitmaps(folder + "/volume1.bmp", folder + "/volume2.bmp");
    slider->LoadThumbBitmaps(folder + "/thumb.bmp", folder + "/thumb.bmp");
    slider->DrawFocusRect(false);
    slider->SetRange(0, 100);
    slider->SetPageSize(5);
    slider->SetMargin(2, 1, 2, 1);
    slider->SetPosition(std::clamp(volume, 0, 100));
    slider->update();
}

void CStatusDlg::ShowButton(int entry, bool first_set, const char* tool_tip_utf8) {
    skin_.SetPictureSet(entry, first_set, QString::fromUtf8(tool_tip_utf8));
    if (skin_.count() == 0) {
        // Without a skin the template's buttons say it in words.
        if (auto* b = qobject_cast<QPushButton*>(get_dlg_item(this, entry == 0 ? kMicButton : kOutputButton)))
            b->setToolTip(QString::fromUtf8(tool_tip_utf8));
    }
}

bool CStatusDlg::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void CStatusDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    switch (id) {
    case msg::kFirstPaintDone:
        if (!mixer_started_)
            StartOpeningMixer();
        break;
    case msg::kMixerOpened:
        OnMixerOpened();
        break;
    case msg::kSliderMoving:
    case msg::kSliderReleased:
        if (wparam == kMicSlider)
            mixer().SetVolume(CMixer::kRecording, int(lparam));
        else if (wparam == kOutputSlider)
            SetOutputVolume(int(lparam));
        break;
    case msg::kOutputVolume:
        ShowOutputVolume(int(wparam));
        break;
    case msg::kRepaintLabel:
        // The label's area is drawn again over the main window's background; the volumes are read anew, so
        // that a change made outside the client shows too.
        if (auto* w = reinterpret_cast<QWidget*>(wparam))
            w->update();
        RefreshVolumes();
        break;
    default:
        break;
    }
}

void CStatusDlg::RefreshVolumes() {
    // Before the chosen devices' mixer is open there is nothing to read anew: opening it reads the volumes.
    if (!mixer_current())
        return;
    if (!mic_slider_->dragging())
        mic_slider_->SetPosition(std::clamp(mixer().GetVolume(CMixer::kRecording), 0, 100));
    const bool connected = req::Connected(*cb_);
    // While connected the output slider is the service's volume, not the system's.
    if (!connected && !output_slider_->dragging())
        output_slider_->SetPosition(std::clamp(mixer().GetVolume(CMixer::kOutput), 0, 100));
    mic_slider_->update();
    output_slider_->update();
}

void CStatusDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (!initialised_)
        return;
    const QSize channel = mic_slider_->size(); // the channel picture's size
    const int x = width() - channel.width() - 3;
    mic_slider_->setGeometry(x, 14, channel.width(), channel.height());
    output_slider_->setGeometry(x, 36, channel.width(), channel.height());
    QWidget* mic = get_dlg_item(this, kMicButton);
    QWidget* out = get_dlg_item(this, kOutputButton);
    const int bw0 = skin_.count() > 0 ? skin_.entry(0).width : 60,
              bh0 = skin_.count() > 0 ? skin_.entry(0).height : 20;
    const int bw1 = skin_.count() > 1 ? skin_.entry(1).width : 60,
              bh1 = skin_.count() > 1 ? skin_.entry(1).height : 20;
    mic->setGeometry(x - bw0 - 4, 10, bw0, bh0);
    out->setGeometry(x - bw1 - 4, 32, bw1, bh1);
    PlaceLinkState();
    update();
}

void CStatusDlg::ShowMicrophoneState(bool on) {
    ShowButton(0, on, on ? roster_text::kMute : roster_text::kMicMuted);
}

void CStatusDlg::PlaceLinkState() {
    const int x = count_->geometry().right() + 16;
    int limit = width();
    for (QWidget* w : {get_dlg_item(this, kMicButton), get_dlg_item(this, kOutputButton),
                       static_cast<QWidget*>(mic_slider_), static_cast<QWidget*>(output_slider_)})
        if (w && w->isVisible() && w->geometry().bottom() >= count_->y())
            limit = std::min(limit, w->x());
    if (skin_.count() > 1)
        for (int i = 0; i < 2; ++i)
            if (skin_.entry(i).button && skin_.entry(i).button->GetItemHandle())
                limit = std::min(limit, skin_.entry(i).button->GetItemHandle()->x());
    const int room = std::max(0, limit - 6 - x);
    link_->setText(link_->fontMetrics().elidedText(link_text_, Qt::ElideRight, room));
    link_->setToolTip(link_->text() == link_text_ ? QString() : link_text_);
    link_->adjustSize();
    link_->resize(std::min(link_->width(), room), link_->height());
    link_->move(x, count_->y());
}

void CStatusDlg::Notice(const char* utf8) {
    std::string text = utf8_to_gbk(utf8);
    req::NoticeLine(*cb_, text);
}

void CStatusDlg::ShowUserCount() {
    ASSERT_UI_THREAD();
    count_->setText(QString::fromUtf8(roster_text::kUserCount).arg(user_count_));
    count_->adjustSize();
    if (observer_)
        observer_->UserCountShown(user_count_);
    platform::post_message(this, msg::kRepaintLabel, reinterpret_cast<intptr_t>(count_), 0);
}

void CStatusDlg::ShowHost(const std::string& nickname) {
    ASSERT_UI_THREAD();
    host_->setText(QString::fromUtf8(roster_text::kHost).arg(gbk_to_qstring(nickname.substr(0, 128))));
    host_->adjustSize();
    platform::post_message(this, msg::kRepaintLabel, reinterpret_cast<intptr_t>(host_), 0);
}

void CStatusDlg::ShowLinkState(const std::string& text) {
    ASSERT_UI_THREAD();
    link_text_ = gbk_to_qstring(text);
    PlaceLinkState();
    if (observer_)
        observer_->LinkStateShown(text);
}

void CStatusDlg::SetRecordingDevice(int device_id) {
    ASSERT_UI_THREAD();
    input_index_ = device_id;
    recording_volume_due_ = true;
    ChosenDevicesChanged();
}

void CStatusDlg::SetPlaybackDevice(int device_id) {
    ASSERT_UI_THREAD();
    output_index_ = device_id;
    output_volume_due_ = true;
    ChosenDevicesChanged();
}

void CStatusDlg::ChosenDevicesChanged() {
    if (mixer_current()) {
        // The same devices as before: only the volume is read anew.
        ShowChangedVolumes(output_volume_due_ ? mixer_->GetVolume(CMixer::kOutput) : 0,
                           recording_volume_due_ ? mixer_->GetVolume(CMixer::kRecording) : 0);
        return;
    }
    // Listing the devices and opening their mixer may wait for the sound server: not on this thread. Before
    // the first opening began, that opening takes the new devices.
    if (mixer_started_)
        StartOpeningMixer();
}

void CStatusDlg::ToggleMicrophone() {
    if (req::Connected(*cb_)) {
        if (!req::MicrophoneOn(*cb_))
            mixer().SetMute(CMixer::kRecording, false);
        req::ToggleMicrophone(*cb_);
        const bool on = req::MicrophoneOn(*cb_);
        ShowButton(0, on, on ? roster_text::kMute : roster_text::kMicMuted);
        return;
    }
    mic_muted_ = !mic_muted_;
    mixer().SetMute(CMixer::kRecording, mic_muted_);
    ShowButton(0, !mic_muted_, mic_muted_ ? roster_text::kMicMuted : roster_text::kMute);
}

void CStatusDlg::ToggleOutput() {
    sound_off_ = !sound_off_;
    ShowButton(1, !sound_off_, sound_off_ ? roster_text::kOutputMuted : roster_text::kMute);
    if (req::Connected(*cb_)) {
        if (actions_)
            actions_->SetOutputVolume(uint32_t(sound_off_ ? 0 : output_slider_->GetPosition()));
        if (sound_off_) {
            Notice(roster_text::kOutputOff);
        } else {
            Notice(roster_text::kOutputOn);
            if (mixer().GetMute(CMixer::kOutput))
                Notice(roster_text::kCardSilent);
        }
        return;
    }
    mixer().SetMute(CMixer::kOutput, sound_off_);
}

void CStatusDlg::SetOutputVolume(int volume) {
    if (sound_off_)
        return;
    if (req::Connected(*cb_)) {
        if (actions_)
            actions_->SetOutputVolume(uint32_t(volume));
    } else {
        mixer().SetVolume(CMixer::kOutput, volume);
    }
}

void CStatusDlg::ShowOutputVolume(int volume) {
    output_volume_shown_ = true;
    output_slider_->SetPosition(std::clamp(volume, 0, 100));
    output_slider_->update();
}
