// The display check of the SDL layer: whether an X server or a Wayland
// compositor can be reached, asked before SDL or the MIDI system start so
// that no display is one line. Sockets only; SDL judges the rest.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/shell.h"
#include "platform/linux/sdl/window_sdl.h"

namespace {

bool socket_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// An X server listening on local display `number`: its socket file, or its
// abstract socket where the file is out of sight (a sandbox's own /tmp).
bool local_x_server(const std::string& number) {
    const std::string path = "/tmp/.X11-unix/X" + number;
    if (socket_file(path)) return true;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // cannot tell: SDL finds out
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, path.c_str(), path.size());
    const bool up = connect(fd, reinterpret_cast<const sockaddr*>(&addr),
                            socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size())) == 0;
    close(fd);
    return up;
}

}  // namespace

// Why no display can be reached, or "" when one may be: a local X display
// whose server listens, a remote one (SDL finds out), a Wayland socket that is
// there (WAYLAND_DISPLAY's, else the default wayland-0), or a video driver
// chosen by hand, which SDL is left to judge.
std::string display_missing() {
    const auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    if (!env("SDL_VIDEODRIVER").empty()) return "";
    const std::string x = env("DISPLAY"), wayland = env("WAYLAND_DISPLAY"), runtime = env("XDG_RUNTIME_DIR");
    const std::string socket = wayland.empty() ? "wayland-0" : wayland;
    if (socket[0] == '/' ? socket_file(socket) : !runtime.empty() && socket_file(runtime + "/" + socket)) return "";
    std::string why;
    if (!x.empty()) {
        const std::string name = instance_display_name(x.c_str(), nullptr, nullptr);  // ":N" or "host:N"
        if (name[0] != ':' || local_x_server(name.substr(1))) return "";
        why = "no X server at DISPLAY " + x;
    }
    if (!wayland.empty()) why += (why.empty() ? "" : " and ") + std::string("no Wayland compositor at ") + wayland;
    return why.empty() ? "DISPLAY and WAYLAND_DISPLAY are not set" : why;
}
