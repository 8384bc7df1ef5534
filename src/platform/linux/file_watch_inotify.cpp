// File-watch contract (app/file_watch.h) with inotify on the file's folder,
// so that an editor that writes a new file and renames it over the old one
// is seen as well as one that writes in place. One thread waits on the
// inotify descriptor and a pipe that stop() writes to end it.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "app/file_watch.h"

namespace {

struct Watch {
    int inotify = -1;
    int stop_pipe[2] = {-1, -1};
    std::string name;  // the file's name in its folder
    void (*wake)() = nullptr;
    std::atomic<bool> changed{false};
    std::thread thread;
};

Watch g_watch;

void close_all() {
    for (int* fd : {&g_watch.inotify, &g_watch.stop_pipe[0], &g_watch.stop_pipe[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

// Watcher thread: a completed write or a file moved or made under the
// name counts; a write still in progress (IN_MODIFY) does not, so a
// half-written file is never read.
void watch_loop() {
    alignas(inotify_event) char buffer[4096];
    pollfd fds[2] = {{g_watch.inotify, POLLIN, 0}, {g_watch.stop_pipe[0], POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const ssize_t got = read(g_watch.inotify, buffer, sizeof buffer);
        bool hit = false;
        for (ssize_t at = 0; at < got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->len && g_watch.name == e->name) hit = true;
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
        if (hit) {
            g_watch.changed.store(true);
            g_watch.wake();
        }
    }
}

}  // namespace

bool file_watch_start(const std::string& path, void (*wake)()) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    g_watch.name = slash == std::string::npos ? path : path.substr(slash + 1);
    g_watch.wake = wake;
    g_watch.inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (g_watch.inotify < 0 || pipe2(g_watch.stop_pipe, O_CLOEXEC) != 0 ||
        inotify_add_watch(g_watch.inotify, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        close_all();
        return false;
    }
    g_watch.thread = std::thread(watch_loop);
    return true;
}

bool file_watch_take_change() { return g_watch.changed.exchange(false); }

void file_watch_stop() {
    if (!g_watch.thread.joinable()) return;
    const char byte = 0;
    if (write(g_watch.stop_pipe[1], &byte, 1) != 1) return;  // the thread would never end: leave it
    g_watch.thread.join();
    close_all();
}
