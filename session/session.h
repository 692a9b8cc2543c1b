// The client's session: who the user is (from the launch string), the settings, the room's users, the own
// microphone and camera flags and the one set of panels; and the call_back of the panels, whose request table
// it answers from that state. The service link only links (it asks the session for the login and tells it
// when the room is gone); the session controller works on the session. Plain C++. UI thread, except Send
// (any thread: the transport queues; the capture thread sends its frames through it).
#pragma once

#include <cstdint>
#include <string>

#include "components/link_transport.h"
#include "config/client_config.h"
#include "session/call_back.h"
#include "session/panels.h"
#include "session/roster.h"

// Who the client is in the room, from the launch string.
struct SessionIdentity {
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    int64_t timestamp = 0;
    std::string key_id; // hexadecimal text
    int app_type = 2;
};

class Session : public call_back {
public:
    explicit Session(ILinkTransport& transport) : transport_(transport) {}

    void set_identity(const SessionIdentity& id) { identity_ = id; }
    const SessionIdentity& identity() const { return identity_; }
    void set_settings(const ClientSettings& s, const std::string& settings_file);
    ClientSettings& settings() { return settings_; }
    const ClientSettings& settings() const { return settings_; }
    // The panels of the window; a null member is a panel not made yet.
    void set_panels(const Panels& p) { panels_ = p; }
    const Panels& panels() const { return panels_; }
    // Who carries out requests 7, 8 and 19 (the session controller).
    void set_actions(ISessionActions* a) { actions_ = a; }
    Roster& roster() { return roster_; }

    bool microphone_on() const { return microphone_on_; }
    void set_microphone_on(bool on) { microphone_on_ = on; }
    bool camera_on() const { return camera_on_; }
    void set_camera_on(bool on) { camera_on_ = on; }
    // The own record has these rights.
    bool SelfHasRights(uint32_t mask);

    // The link to the service is up.
    bool connected() { return transport_.connected(); }
    // Closes the connection from this side; no lost link is reported.
    void CloseLink() { transport_.close_socket(); }
    // The login packet, for the window `window`; false (nothing sent) when the key id is longer than 40
    // characters.
    bool SendLogin(bool reconnect, uint32_t window);
    // The link is gone: the room empties, the microphone is off and a camera that was on stops.
    void EmptyRoom();
    // A notice in the message log, and what the link is doing in the status bar (empty when it is up). UTF-8.
    void Notice(const char* utf8);
    void LinkState(const std::string& utf8);
    // Stores a device id and writes it to the settings file; the sound devices also reach the status bar.
    void SaveDeviceSetting(int device, int id);

    // call_back
    int request(int type, void* data, int length) override;
    bool Send(uint16_t type, const proto::Bytes& payload) override;

private:
    // Request 14: reads a device id into the request, or stores the one it carries.
    void DeviceSetting(DeviceSettingRequest* r);
    // Request 20: lends a video window to a user (operation 0) or takes it back (1).
    bool VideoWindow(const VideoWindowRequest* r);

    ILinkTransport& transport_;
    SessionIdentity identity_;
    ClientSettings settings_;
    std::string settings_file_;
    Panels panels_;
    Roster roster_;
    ISessionActions* actions_ = nullptr;
    bool microphone_on_ = false;
    bool camera_on_ = false;
};
