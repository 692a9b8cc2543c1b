// Help page address (see help_page.h).
#include "app/help_page.h"

#include "config/client_config.h"

std::string help_page_url(const std::string& settings_file) {
    return web_host_url(settings_file) + "/help.php?ac=video";
}
