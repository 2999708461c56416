// Whether a display server answers.  Qt ends the process when its platform
// cannot connect, so the program asks first and runs on the console when
// the display named by the environment is gone (a stale DISPLAY after a
// logout, an ssh session without forwarding).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host.h"

namespace host {

namespace {

// Connects to a Unix socket; `abstract` names one in Linux's abstract
// namespace (the X server listens on both).
bool unix_socket_answers(const std::string& path, bool abstract) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.empty() || path.size() + offset >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path + offset, path.data(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answered = connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0;
    close(fd);
    return answered;
}

// DISPLAY is [host]:number[.screen].  A local display is the X server's
// socket for that number; a display on another host (ssh forwarding, for
// instance) is taken as given, since reaching it may take the network's
// time and Qt reports its own failure there.
bool x_display_answers(const char* display) {
    const std::string d(display);
    const std::size_t colon = d.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host_part = d.substr(0, colon);
    std::size_t digits = colon + 1;
    while (digits < d.size() && d[digits] >= '0' && d[digits] <= '9') ++digits;
    const std::string number = d.substr(colon + 1, digits - colon - 1);
    if (number.empty() || (digits < d.size() && d[digits] != '.')) return false;
    if (!host_part.empty() && host_part != "unix") return true;
    const std::string path = "/tmp/.X11-unix/X" + number;
    return unix_socket_answers(path, true) || unix_socket_answers(path, false);
}

// WAYLAND_DISPLAY is a socket name under XDG_RUNTIME_DIR, or a path.
bool wayland_display_answers(const char* name) {
    if (name[0] == '/') return unix_socket_answers(name, false);
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime_dir || !*runtime_dir) return false;
    return unix_socket_answers(std::string(runtime_dir) + "/" + name, false);
}

bool set(const char* value) { return value && *value; }

}  // namespace

bool display_answers() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x = std::getenv("DISPLAY");
    return (set(wayland) && wayland_display_answers(wayland)) || (set(x) && x_display_answers(x));
}

}  // namespace host
