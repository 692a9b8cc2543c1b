// The help page: "help.php?ac=video" on the product's web host, which the settings file names.
#pragma once

#include <string>

// "http://HOST/help.php?ac=video" with HOST from [web] host of the settings file (a default host without it).
std::string help_page_url(const std::string& settings_file);
