// Help page address (see help_page.h).
#include "app/help_page.h"

#include "platform/profile.h"

std::string help_page_url(const std::string& settings_file) {
    std::string host = profile_get_string("web", "host", "help.lumeno.example", settings_file);
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    if (host.find("://") == std::string::npos)
        host = "http://" + host;
    return host + "/help.php?ac=video";
}
