// Simple working panels that show the room as text: a user list, the message log, a status line and a chat
// line. They are the place where the skinned panels (picture tiles, rich chat log, sliders) go; until then
// they implement the same interfaces, so the session controller drives them exactly as it will drive those.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTextEdit>
#include <QWidget>

#include <memory>
#include <vector>

#include "call_back.h"
#include "messages.h"
#include "panels.h"
#include "user_record.h"

class TextUserList : public QListWidget, public IUserList, public platform::MessageTarget {
public:
    TextUserList(call_back* cb, QWidget* parent);
    UserRecord* FindUserById(uint32_t user_id) override;
    UserRecord* FindUserByName(const std::string& nickname) override;
    UserRecord* SelfUser() override { return self_; }
    bool HostOnline() override { return host_online_; }
    void ClearUsers() override;
    void PostSelfUser(const proto::LoginResult& result, uint32_t own_user_id) override;
    void SetMicrophoneState(uint32_t user_id, bool on) override;
    void SetStreamDescription(uint32_t user_id, const proto::StreamDesc& stream) override;
    void SetSelfCamera(bool sending, bool camera_present) override;
    void StopWatching(UserRecord* record) override;
    void RefreshUser(UserRecord* record) override;
    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;

private:
    void Redraw();
    call_back* cb_;
    std::vector<std::unique_ptr<UserRecord>> users_;
    UserRecord* self_ = nullptr;
    bool host_online_ = false;
};

class TextMessageLog : public QTextEdit, public IMessageLog {
public:
    TextMessageLog(IUserList* users, QWidget* parent);
    void AddNoticeLine(const std::string& text) override;
    void AddDebugLine(const std::string& text) override;
    void AppendChatLine(const ChatLogEntry* entry) override;
    void OnChatPacket(const uint8_t* data, size_t length) override;
    void AddSystemText(const uint8_t* data, size_t length) override;
    bool DetailOn() override { return false; }

private:
    void Append(const QString& html);
    IUserList* users_;
};

class TextStatusBar : public QWidget, public IStatusBar, public platform::MessageTarget {
public:
    TextStatusBar(call_back* cb, QWidget* parent);
    QLabel* course_label() const { return course_; }
    bool IsOutputMuted() override { return false; }
    void SetRecordingDevice(int) override {}
    int UserCount() override { return count_; }
    void SetUserCount(int count) override { count_ = count; }
    void ShowUserCount() override;
    void ShowHost(const std::string& nickname) override;
    void ToggleMicrophone() override;
    void SelectMic() override {}
    void SetMute(int, bool) override {}
    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;

private:
    void Show();
    call_back* cb_;
    QLabel* course_;
    QLabel* text_;
    int count_ = 0;
    int volume_ = 0;
    QString host_;
};

class TextChatInput : public QWidget, public IChatInput {
public:
    TextChatInput(call_back* cb, IUserList* users, IMessageLog* log, QWidget* parent);
    void ResetRecipients() override;
    void AddRecipient(const std::string& nickname) override;
    void OnUserLeft(uint32_t user_id) override;

private:
    void Send();
    call_back* cb_;
    IUserList* users_;
    IMessageLog* log_;
    QComboBox* recipients_;
    QLineEdit* line_;
};

// The local camera panel until the capture engine exists: this machine has no camera for it.
class NoCameraPanel : public IMediaPanel {
public:
    bool CameraPresent() override { return false; }
    bool SwitchCamera(bool, int) override { return false; }
    void SetVideoWanted(bool) override {}
    bool ProbeEchoCancellation() override { return false; }
};

// The remote video windows until the video registry exists: frames are counted, not shown.
class NoVideoRegistry : public IVideoRegistry {
public:
    bool AssignWindow(uint32_t, uint32_t, const proto::UserBlock&) override { return false; }
    bool ReleaseWindow(uint32_t, uint32_t) override { return true; }
    void ReleaseAll() override {}
    void OnRecvVideo(const uint8_t*, size_t) override {}
};

// The audio and camera setup dialogs until the real ones (with device lists) exist: the device ids as
// numbers.
class NumberDeviceDialogs : public IDeviceDialogs {
public:
    explicit NumberDeviceDialogs(QWidget* parent) : parent_(parent) {}
    bool RunAudioSetup(int& record_id, int& play_id) override;
    bool RunVideoSetup(int& camera_id) override;

private:
    QWidget* parent_;
};
