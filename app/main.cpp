// quorin: the classroom client.
#include <cstdio>
#include <cstring>

#include "app/CquorinApp.h"
#include "app/launch_params.h"
#include "components/alsa_messages.h"
#include "config/logging.h"
#include "platform/process.h"

namespace {

// --help and --version answer on standard output before any window or service exists. A launch string never
// starts with "--", so these cannot be taken for one.
bool answer_option(int argc, char** argv) {
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorin %s\n", QUORIN_VERSION);
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::printf(
            "usage: quorin [LAUNCH-STRING | quorin://join?LAUNCH-STRING]\n"
            "       quorin --help | --version\n"
            "\n"
            "The desktop client of a live video classroom. The launch string is key=value pairs joined\n"
            "by '&': userid, roomid, timestamp, keyid, subject, viewpage, appname, apptype. Without a\n"
            "userid the window opens without logging in.\n"
            "\n"
            "Settings: user.txt of the install folder, or for an installed copy\n"
            "~/.config/quorin/user.txt over the site's /etc/quorin/user.txt. See quorin(1).\n");
        return true;
    }
    return false;
}

// ALSA's complaints about missing sound devices, as one line.
void alsa_line(const char* text) {
    std::fprintf(stderr, "quorin: %s\n", text);
    LOG_MAIN("%s\n", text);
}

} // namespace

int main(int argc, char** argv) {
    if (answer_option(argc, argv))
        return 0;
    route_alsa_messages(&alsa_line);
    std::string launch = launch_string_from_args(
        argc, argv, started_in_utf8_terminal() ? LaunchOrigin::Utf8Terminal : LaunchOrigin::Launcher);
    CquorinApp app(argc, argv, std::move(launch));
    app.InitInstance();
    return 0;
}
