// Single-instance contract (app/platform.h: platform_other_instance_running,
// platform_release_instance_probe) with a listening Unix socket: one copy per
// user and display. The socket is a file in $XDG_RUNTIME_DIR when that is the
// user's own private directory (nobody else can create a name there), else an
// abstract name with the user id in it, where a holder of another user id is
// told apart by its credentials. Linux only (SO_PEERCRED, abstract names).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/platform.h"
#include "app/shell.h"
#include "base/program.h"

namespace {

struct InstanceMarker {
    // First copy: the listening socket, kept until the process ends. Second
    // copy: none (the probe is closed at once).
    int fd = -1;
    sockaddr_un addr{};
    socklen_t addr_len = 0;
    bool asked = false;
    bool other = false;
    // A first copy takes its file with it on a normal exit; one left by a
    // killed copy is found stale by the next start.
    ~InstanceMarker() {
        if (fd >= 0 && addr.sun_path[0] != '\0') unlink(addr.sun_path);
    }
};

InstanceMarker g_marker;

// The user's own directory, closed to everyone else (as XDG requires).
bool private_directory(const char* dir) {
    struct stat st;
    return dir && dir[0] == '/' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0;
}

void set_address(InstanceMarker& m) {
    const std::string display =
        instance_display_name(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("SDL_VIDEODRIVER"));
    m.addr.sun_family = AF_UNIX;
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    const size_t room = sizeof m.addr.sun_path;
    if (private_directory(dir)) {
        const int n = std::snprintf(m.addr.sun_path, room, "%s/%s-%s", dir, PROGRAM_NAME, display.c_str());
        if (n > 0 && size_t(n) < room) {
            m.addr_len = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(n) + 1);
            return;
        }
    }
    // Abstract: a leading NUL, nothing on disk, gone with the process however
    // it ends. A name too long is cut, still one per user and display.
    m.addr = sockaddr_un{};
    m.addr.sun_family = AF_UNIX;
    const int n =
        std::snprintf(m.addr.sun_path + 1, room - 1, "%s-%u-%s", PROGRAM_NAME, unsigned(getuid()), display.c_str());
    m.addr_len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::min(size_t(n), room - 2));
}

enum Holder { HOLDER_OURS, HOLDER_OTHER_USER, HOLDER_NONE };

// Who holds the name: a connection reaches a listener and carries its
// credentials. No listener (a file left by a killed copy) refuses it. A
// listener whose queue is full cannot be asked and counts as ours, as does
// anything else that cannot be told.
Holder holder(const InstanceMarker& m) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return HOLDER_OURS;
    Holder h = HOLDER_OURS;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&m.addr), m.addr_len) == 0) {
        ucred peer{};
        socklen_t len = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0 && peer.uid != getuid()) h = HOLDER_OTHER_USER;
    } else if (errno == ECONNREFUSED || errno == ENOENT) {
        h = HOLDER_NONE;
    }
    close(fd);
    return h;
}

}  // namespace

// Asked once, early in main; later calls give the same answer. A marker that
// cannot be made at all (no sockets, a name another user holds) lets the
// program start: it never keeps the user's own program from running.
bool platform_other_instance_running() {
    InstanceMarker& m = g_marker;
    if (m.asked) return m.other;
    m.asked = true;
    set_address(m);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&m.addr), m.addr_len) == 0 && listen(fd, SOMAXCONN) == 0) {
            m.fd = fd;
            return false;
        }
        const int error = errno;
        close(fd);
        if (error != EADDRINUSE) return false;
        switch (holder(m)) {
            case HOLDER_OURS: m.other = true; return true;
            case HOLDER_OTHER_USER: return false;
            case HOLDER_NONE:
                if (m.addr.sun_path[0] == '\0') return false;  // an abstract name is never stale
                unlink(m.addr.sun_path);
                break;
        }
    }
    return false;
}

// The second copy holds no socket: its probe closed as soon as it answered.
void platform_release_instance_probe() {}
