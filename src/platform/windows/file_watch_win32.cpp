// File-watch contract (app/file_watch.h) with a change notification on the
// file's folder (FindFirstChangeNotification: a write or a file renamed or
// made there). Any change in the folder counts, and the window thread reads
// the file and compares its text, so a change to another file costs one
// read. One thread waits on the notification and an event that stop() sets.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/file_watch.h"

namespace {

struct Watch {
    HANDLE change = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;
    void (*wake)() = nullptr;
    std::atomic<bool> changed{false};
    std::thread thread;
};

Watch g_watch;

void watch_loop() {
    const HANDLE handles[2] = {g_watch.stop, g_watch.change};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        g_watch.changed.store(true);
        g_watch.wake();
        if (!FindNextChangeNotification(g_watch.change)) return;
    }
}

}  // namespace

bool file_watch_start(const std::string& path, void (*wake)()) {
    const size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    g_watch.wake = wake;
    g_watch.change = FindFirstChangeNotificationA(
        folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE);
    if (g_watch.change == INVALID_HANDLE_VALUE) return false;
    g_watch.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_watch.thread = std::thread(watch_loop);
    return true;
}

bool file_watch_take_change() { return g_watch.changed.exchange(false); }

void file_watch_stop() {
    if (!g_watch.thread.joinable()) return;
    SetEvent(g_watch.stop);
    g_watch.thread.join();
    FindCloseChangeNotification(g_watch.change);
    CloseHandle(g_watch.stop);
    g_watch.change = INVALID_HANDLE_VALUE;
}
