// Install folder discovery through /proc/self/exe.
#include "platform/paths.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace {
std::string& install_folder_storage() {
    static std::string folder;
    return folder;
}
} // namespace

std::string program_folder() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string path(buf.data(), size_t(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

const std::string& install_folder() {
    std::string& f = install_folder_storage();
    if (f.empty())
        f = program_folder();
    return f;
}

void set_install_folder(const std::string& folder) {
    install_folder_storage() = folder;
}

std::string path_join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}
