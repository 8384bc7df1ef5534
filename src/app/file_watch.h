// File-watch contract: the map file is read again while the panel runs.
// Implementations: inotify (platform/linux/file_watch_inotify.cpp), a change
// notification on the file's folder (platform/windows/file_watch_win32.cpp),
// none on a web page (platform/web/file_watch_web.cpp), and a double that
// the tests trigger (tests/fakes).
#pragma once
#include <string>

// Starts watching `path`: whenever the file is written and closed, or
// replaced (renamed over, created anew), the watcher notes it and calls
// `wake` on its own thread. One file at a time. False when the file's
// folder cannot be watched: the map read at start then stays.
bool file_watch_start(const std::string& path, void (*wake)());
// Window thread: true once after any number of changes noted since the last call.
bool file_watch_take_change();
// After it returns, `wake` is not called again.
void file_watch_stop();
