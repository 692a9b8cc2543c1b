// The main dialog's link to the local service: finding or starting the service, the first connection and
// login, the reconnect after a lost link, the shut-down, and the call_back interface of the panels with its
// request table. Plain C++: the window reaches it through ILinkHost and the panels through their interfaces.
#pragma once

#include <cstdint>
#include <string>

#include "call_back.h"
#include "client_config.h"
#include "panels.h"
#include "service_process.h"
#include "tcpclient.h"

// Who the client is in the room, from the launch string.
struct SessionIdentity {
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    int64_t timestamp = 0;
    std::string key_id; // hexadecimal text
    int app_type = 2;
};

// What the link needs of its window.
class ILinkHost {
public:
    virtual ~ILinkHost() = default;
    // A message box now (start-up only). `error`: the error icon, otherwise the information icon.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption, bool error) = 0;
    // Message 1047 to the window itself: a message box once the window runs. An empty caption means none.
    virtual void PostMessageBox(const std::string& text, const std::string& caption) = 0;
    virtual uint32_t WindowHandle() = 0;
};

// Texts of the link (UTF-8).
namespace link_text {
constexpr const char* kServiceStartFailed = "程序加载失败，请重新执行安装程序！";
constexpr const char* kInitNetFailed = "init net failed!";
constexpr const char* kCannotConnect = "无法连接到服务程序，可能连接己被占用。";
constexpr const char* kLinkLost = "与服务端断开连接，尝试重新连接...";
constexpr const char* kCaption = "提示";
} // namespace link_text

class ServiceLink : public call_back {
public:
    ServiceLink(tcpclient& link, ServiceProcess& service, ILinkHost& host);

    void set_identity(const SessionIdentity& id) { identity_ = id; }
    const SessionIdentity& identity() const { return identity_; }
    void set_settings(const ClientSettings& s, const std::string& settings_file);
    ClientSettings& settings() { return settings_; }
    void set_panels(const Panels& p) { panels_ = p; }
    void set_actions(ISessionActions* a) { actions_ = a; }

    // Start-up: find or start the service, register the handler, initialise the link. False when the link
    // could not be initialised.
    bool SetUp(server_event_handler* handler);
    // Start-up: connect and log in when there is a user id.
    void ConnectFirstTime();
    // Message 1046: the link was lost; reconnect once and log in again with the reconnect flag.
    void Reconnect();
    // Window destruction: close the link, free the logging, stop a service we started.
    void ShutDown();

    // The login packet; false (nothing sent) when the key id is longer than 40 characters.
    bool SendLogin(bool reconnect);

    bool microphone_on() const { return microphone_on_; }
    void set_microphone_on(bool on) { microphone_on_ = on; }
    bool camera_on() const { return camera_on_; }
    void set_camera_on(bool on) { camera_on_ = on; }
    uint32_t service_address() const { return service_addr_; }
    tcpclient& link() { return link_; }
    const Panels& panels() const { return panels_; }

    // Stores a device id and writes it to the settings file; the recording device also reaches the status
    // bar.
    void SaveDeviceSetting(int device, int id);

    // call_back
    int request(int type, void* data, int length) override;
    bool send_packet(__SndBuf* buffer, uint16_t type) override { return link_.send_packet(buffer, type); }
    __SndBuf* get_send_buff(uint32_t size, void** payload) override {
        return link_.get_send_buff(size, payload);
    }
    __SndBuf* get_send_buff(uint32_t size) override { return link_.get_send_buff(size); }

private:
    bool SelfHasRights(uint32_t mask);
    void Notice(const char* utf8);

    tcpclient& link_;
    ServiceProcess& service_;
    ILinkHost& host_;
    SessionIdentity identity_;
    ClientSettings settings_;
    std::string settings_file_;
    Panels panels_;
    ISessionActions* actions_ = nullptr;
    uint32_t service_addr_ = 0; // network byte order
    bool microphone_on_ = false;
    bool camera_on_ = false;
};
