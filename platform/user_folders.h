// Where the writable files of an install folder live: inside the folder itself when it is writable (a build's
// output, a portable copy), otherwise, or when the folder holds the file "installed" (what `make install` and
// the package put there), in the user's XDG folders:
// the settings in the config folder, the logs in the state folder, the downloaded pictures in the cache
// folder. The client and its service find the same places from the same install folder.
#pragma once

#include <string>

struct UserFolders {
    std::string settings_file;
    std::string log_folder;
    std::string picture_folder;
    bool per_user = false;
};

UserFolders user_folders(const std::string& install_folder);

// The same, with the folders made and a per-user settings file seeded from the install folder's default the
// first time.
UserFolders prepare_user_folders(const std::string& install_folder);

// The site's settings file of installed copies, where an administrator sets the room server and the web host
// once for every user of the machine: /etc/quorin/user.txt ($QUORIN_SITE_SETTINGS when set).
std::string site_settings_file();

// [section] key of a settings file, as profile_get_string and profile_get_int read it. For the per-user file
// of an installed copy a key that the file lacks is read from the site's settings file, so the user's own
// value wins over the administrator's, which wins over `def`. Any other settings file is read alone.
std::string settings_get_string(const std::string& section, const std::string& key, const std::string& def,
                                const std::string& settings_file);
int settings_get_int(const std::string& section, const std::string& key, int def,
                     const std::string& settings_file);

// [network] port of a settings file, the local service's port on 127.0.0.1: a number from 1 to 65500, or
// "any" (kAnyServicePort), a port the system picks each time the service starts, which the service then
// reports to the client that started it. Anything else (missing, 0, out of range, not a number) is `def`.
constexpr const char* kAnyPortSetting = "any";
constexpr int kAnyServicePort = 0;
int service_port_setting(const std::string& settings_file, int def);

// Of the dated files of a folder whose names are `prefix`, a date that starts with a digit, and `suffix`,
// keeps the newest `keep` (dated names sort by date) and deletes the rest.
void prune_old_files(const std::string& folder, const std::string& prefix, const std::string& suffix,
                     size_t keep);
