// Writable folders (see user_folders.h).
#include "platform/user_folders.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/paths.h"
#include "platform/profile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProduct = "quorin";

// $NAME, or $HOME/fallback when it is unset or not absolute (as the XDG base directory rules say).
std::string xdg(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    if (v && v[0] == '/')
        return v;
    const char* home = std::getenv("HOME");
    return path_join(home && home[0] ? home : "/tmp", fallback);
}

std::string per_user_settings_file() {
    return path_join(path_join(xdg("XDG_CONFIG_HOME", ".config"), kProduct), "user.txt");
}

// The site's file when `settings_file` is the per-user file; empty otherwise.
std::string site_layer_for(const std::string& settings_file) {
    return settings_file == per_user_settings_file() ? site_settings_file() : std::string();
}

} // namespace

std::string site_settings_file() {
    const char* v = std::getenv("QUORIN_SITE_SETTINGS");
    return v && v[0] ? v : "/etc/quorin/user.txt";
}

std::string settings_get_string(const std::string& section, const std::string& key, const std::string& def,
                                const std::string& settings_file) {
    const std::string site = site_layer_for(settings_file);
    return profile_get_string(section, key, site.empty() ? def : profile_get_string(section, key, def, site),
                              settings_file);
}

int settings_get_int(const std::string& section, const std::string& key, int def,
                     const std::string& settings_file) {
    const std::string site = site_layer_for(settings_file);
    return profile_get_int(section, key, site.empty() ? def : profile_get_int(section, key, def, site),
                           settings_file);
}

int service_port_setting(const std::string& settings_file, int def) {
    if (settings_get_string("network", "port", "", settings_file) == kAnyPortSetting)
        return kAnyServicePort;
    const int port = settings_get_int("network", "port", def, settings_file);
    return port < 1 || port > 65500 ? def : port;
}

UserFolders user_folders(const std::string& install_folder) {
    UserFolders f;
    // An installed copy says so with a file of its own (root could write anywhere, but an installed copy
    // still is not the place for one user's files).
    const bool installed = access(path_join(install_folder, "installed").c_str(), F_OK) == 0;
    if (!installed && access(install_folder.c_str(), W_OK) == 0) {
        f.settings_file = path_join(install_folder, "user.txt");
        f.log_folder = path_join(install_folder, "log");
        f.picture_folder = path_join(install_folder, "timage");
        return f;
    }
    f.per_user = true;
    f.settings_file = per_user_settings_file();
    f.log_folder = path_join(path_join(xdg("XDG_STATE_HOME", ".local/state"), kProduct), "log");
    f.picture_folder = path_join(path_join(xdg("XDG_CACHE_HOME", ".cache"), kProduct), "timage");
    return f;
}

UserFolders prepare_user_folders(const std::string& install_folder) {
    UserFolders f = user_folders(install_folder);
    std::error_code ec;
    fs::create_directories(f.log_folder, ec);
    fs::create_directories(f.picture_folder, ec);
    if (f.per_user) {
        fs::create_directories(fs::path(f.settings_file).parent_path(), ec);
        const std::string seed = path_join(install_folder, "user.txt");
        if (!fs::exists(f.settings_file, ec) && fs::exists(seed, ec))
            fs::copy_file(seed, f.settings_file, ec);
    }
    return f;
}

void prune_old_files(const std::string& folder, const std::string& prefix, const std::string& suffix,
                     size_t keep) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            std::isdigit(static_cast<unsigned char>(name[prefix.size()])) &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 && e.is_regular_file(ec))
            files.push_back(e.path());
    }
    if (files.size() <= keep)
        return;
    std::sort(files.begin(), files.end());
    for (size_t i = 0; i + keep < files.size(); ++i)
        fs::remove(files[i], ec);
}
