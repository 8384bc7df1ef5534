// File-watch contract (app/file_watch.h) on a web page: the page's files are
// the ones it was built with, and none of them changes, so nothing is watched.
#include "app/file_watch.h"

bool file_watch_start(const std::string&, void (*)()) { return false; }
bool file_watch_take_change() { return false; }
void file_watch_stop() {}
