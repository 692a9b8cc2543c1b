// Configuration loading and the device write-back (see client_config.h).
#include "config/client_config.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "components/log.h"
#include "config/cfg_store.h"
#include "config/logging.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/user_folders.h"

const std::array<ColourDefault, kColourCount> kColourDefaults = {{
    {"toolcolor", "d6d6d6"},
    {"listcolor", "6894b9"},
    {"boardcolor", "ebebeb"},
    {"chatcolor1", "ebebeb"},
    {"chatcolor2", "ebebeb"},
    {"chatinput", "ebebeb"},
    {"vtext_color", "ffffff"},
    {"vback_color", "104,148,185"},
    {"chattips_color", "61,113,137"},
    {"chatmy_color", "255,255,255"},
    {"chatchk_color", "255,255,255"},
    {"chatback_color", "71,117,166"},
    {"leftbk_color", "104,148,185"},
    {"lefttxt_color", "255,255,255"},
}};

namespace {
std::array<COLORREF, kColourCount> g_colours{};
const char* const kModuleNames[kLogModuleCount] = {"",          "main",   "client", "video",
                                                   "tcpclient", "pptdlg", "camera"};
} // namespace

COLORREF colour(ColourKey key) {
    return g_colours[key];
}
void set_colour(ColourKey key, COLORREF value) {
    g_colours[key] = value;
}

std::string colour_file_path(const std::string& install_folder) {
    return path_join(path_join(install_folder, "ui"), "cfg.txt");
}
std::string settings_file_path(const std::string& install_folder) {
    return user_folders(install_folder).settings_file;
}
std::string log_folder_path(const std::string& install_folder) {
    return user_folders(install_folder).log_folder;
}
std::string picture_folder_path(const std::string& install_folder) {
    return user_folders(install_folder).picture_folder;
}

bool setup_logging(const std::string& install_folder) {
    const UserFolders folders = prepare_user_folders(install_folder);
    // Two weeks of daily files of each kind.
    prune_old_files(folders.log_folder, "", ".log", kKeptLogDays);
    prune_old_files(folders.log_folder, "access_", ".log", kKeptLogDays);
    if (!log_init(folders.log_folder.c_str()))
        return false;
    log_setmodules(kModuleNames, kLogModuleCount);
    log_setdebugfname("%yyyy_%MM%dd.log");
    log_setaccessfname("access_%yyyy%MM%dd.log");
    log_setlevel(0, 0x7F, "%d_%t: %s");
    LOG_MAIN("log_init ok\n");
    // What a report needs first: the version, and where this client's room is.
    const std::string room = settings_get_string("room", "server", "", folders.settings_file);
    LOG_MAIN("quorin %s; settings %s; room server %s\n", QUORIN_VERSION, folders.settings_file.c_str(),
             room.empty() ? "none (the local service hosts the room)" : room.c_str());
    return true;
}

void load_colours(const std::string& colour_file) {
    CfgStore store(120);
    if (!store.load(colour_file)) {
        g_colours.fill(0);
        return;
    }
    std::string text;
    for (size_t i = 0; i < kColourDefaults.size(); ++i) {
        store.get(kColourDefaults[i].key, text, kColourDefaults[i].def);
        g_colours[i] = parse_colour(text);
    }
}

ClientSettings read_settings(const std::string& settings_file) {
    ClientSettings s;
    // -1 (any negative value) is the default device, the one the sound server serves; 0 is the first device
    // of the list, which may be a plug-in that goes around the sound server.
    s.record_deviceid = std::max(settings_get_int("media", "record_deviceid", -1, settings_file), -1);
    s.play_deviceid = std::max(settings_get_int("media", "play_deviceid", -1, settings_file), -1);
    s.test_camera = settings_get_int("media", "test_camera", 0, settings_file) == 1;
    s.camera_deviceid = settings_get_int("media", "camera_deviceid", -1, settings_file);
    if (s.camera_deviceid < -1)
        s.camera_deviceid = -1;
    s.port = service_port_setting(settings_file, kDefaultServicePort);
    return s;
}

namespace {

// True when nothing listens on 127.0.0.1:port now.
bool port_free_on_loopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return free;
}

} // namespace

int ensure_user_port(const std::string& settings_file, unsigned uid, const std::function<bool(int)>& usable) {
    if (!profile_get_string("network", "port", "", settings_file).empty())
        return read_settings(settings_file).port;
    const std::function<bool(int)> check = usable ? usable : port_free_on_loopback;
    int port = kUserPortFirst + int(uid % kUserPortCount);
    // Another program may hold the derived port: the next candidates, spread out, then the derived one
    // anyway.
    for (int i = 0; i < 64; ++i) {
        const int candidate = kUserPortFirst + int((uid + unsigned(i) * 997u) % kUserPortCount);
        if (check(candidate)) {
            port = candidate;
            break;
        }
    }
    profile_write_string("network", "port", std::to_string(port), settings_file);
    return port;
}

ClientSettings load_client_config(const std::string& install_folder) {
    setup_logging(install_folder);
    load_colours(colour_file_path(install_folder));
    const std::string settings = settings_file_path(install_folder);
    ensure_user_port(settings, unsigned(getuid()));
    return read_settings(settings);
}

bool save_device_setting(ClientSettings& settings, const std::string& settings_file, int device, int id) {
    const char* key = nullptr;
    switch (device) {
    case kRecordingDevice:
        settings.record_deviceid = id;
        key = "record_deviceid";
        break;
    case kPlaybackDevice:
        settings.play_deviceid = id;
        key = "play_deviceid";
        break;
    case kCameraDevice:
        settings.camera_deviceid = id;
        key = "camera_deviceid";
        break;
    default:
        return false;
    }
    return profile_write_string("media", key, std::to_string(id), settings_file);
}

std::string web_host_url(const std::string& settings_file) {
    std::string host = settings_get_string("web", "host", "help.lumeno.example", settings_file);
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    if (host.find("://") == std::string::npos)
        host = "http://" + host;
    return host;
}
