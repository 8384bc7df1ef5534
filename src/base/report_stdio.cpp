// Reports on stderr, one line each: what a terminal or a desktop's journal
// shows; asked-for output on stdout. Standard C only.
#include <cstdarg>
#include <cstdio>

#include "base/program.h"

void report_error(const char* format, ...) {
    // One buffered line so two threads' reports never interleave mid-line.
    char line[1024];
    int n = std::snprintf(line, sizeof line, "%s: ", PROGRAM_NAME);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + n, sizeof line - size_t(n), format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n", line);
}

bool reports_visible() { return true; }

bool write_output(const char* text) {
    // Flushed per call: a monitor piped into another program shows each
    // message as it is sent, not a buffer's worth later.
    return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
}
