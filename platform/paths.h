// The install folder (the folder of the running program) and path building.
#pragma once

#include <string>

// Folder of the running program without a trailing separator ("/" for a program in the root folder).
std::string program_folder();

// The process-wide install folder: set once at start-up, read everywhere else.
const std::string& install_folder();
void set_install_folder(const std::string& folder);

// "%s/%s": a path inside a folder.
std::string path_join(const std::string& folder, const std::string& name);
