// The client's configuration: logging set-up, the fourteen process-wide colours of the skin folder's colour
// file, and the device and port settings of the install folder's settings file.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "config/colour.h"
#include "wire/defaults.h"

enum ColourKey {
    kToolColor,
    kListColor,
    kBoardColor,
    kChatColor1,
    kChatColor2,
    kChatInput,
    kVTextColor,
    kVBackColor,
    kChatTipsColor,
    kChatMyColor,
    kChatChkColor,
    kChatBackColor,
    kLeftBkColor,
    kLeftTxtColor,
    kColourCount
};

struct ColourDefault {
    const char* key;
    const char* def;
};
// Keys and defaults, in the order they are read.
extern const std::array<ColourDefault, kColourCount> kColourDefaults;

// Process-wide colours: written once at start-up before any panel exists, only read afterwards.
COLORREF colour(ColourKey key);
void set_colour(ColourKey key, COLORREF value);

enum DeviceKind { kRecordingDevice = 0, kPlaybackDevice = 1, kCameraDevice = 2 };

struct ClientSettings {
    int record_deviceid = -1; // -1: the default device
    int play_deviceid = -1;
    int camera_deviceid = -1;
    // The service's port; kAnyServicePort (0): the one the service reports when it starts.
    int port = kDefaultServicePort;
    // [media] test_camera=1: the test-pattern camera is listed after the real ones (tests, the demo).
    bool test_camera = false;
};

// Daily log files of each kind that are kept.
constexpr size_t kKeptLogDays = 14;

// Paths of the two files, the log folder and the picture folder, from the install folder: inside it when it
// is writable, otherwise in the user's XDG folders.
std::string colour_file_path(const std::string& install_folder);
std::string settings_file_path(const std::string& install_folder);
std::string log_folder_path(const std::string& install_folder);
std::string picture_folder_path(const std::string& install_folder);

// Logging into the install folder's log folder; false (and no logging) when that fails.
bool setup_logging(const std::string& install_folder);

// Reads the colour file into the process-wide colours (all black when it is missing).
void load_colours(const std::string& colour_file);

// "http://HOST" for the [web] host of the settings file (a default host without it).
std::string web_host_url(const std::string& settings_file);

// Reads the four settings with their defaults and range rules.
ClientSettings read_settings(const std::string& settings_file);

// Each user of a machine has a service of their own, so each needs a port of their own. When the settings
// file names no port, one is derived from the user id (20000 to 31999, below the kernel's ephemeral range),
// the next candidates taken while `usable` refuses one (by default: it can be bound on loopback), and
// written to the file, where the service reads it too. Returns the port in use; a port already in the file
// is kept as it is.
int ensure_user_port(const std::string& settings_file, unsigned uid,
                     const std::function<bool(int)>& usable = {});
constexpr int kUserPortFirst = 20000;
constexpr int kUserPortCount = 12000;

// Logging, colours and settings, in that order.
ClientSettings load_client_config(const std::string& install_folder);

// Stores the id of one device in `settings` and writes it to the settings file. False for an unknown device
// or when the file cannot be written (the value in `settings` is kept all the same).
bool save_device_setting(ClientSettings& settings, const std::string& settings_file, int device, int id);
