// Reports and asked-for output for a Win32 GUI program, which has no console
// of its own: to its standard handles when it was given them (redirection, a
// console build), else to the console it was started from, attached once;
// reports without either go to the debugger output (DebugView, a debugger,
// Wine's +debugstr channel).
#include <windows.h>
// After windows.h, which they need.
#include <io.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/program.h"

namespace {

// The parent's console, attached at the first need; null when there is none
// (started from Explorer or a shortcut).
HANDLE parent_console() {
    static HANDLE console = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return HANDLE(nullptr);
        HANDLE h = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        return h == INVALID_HANDLE_VALUE ? HANDLE(nullptr) : h;
    }();
    return console;
}

// Asked each time: a redirection made after start (a test capturing stderr)
// replaces the handle.
HANDLE error_stream() {
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    return h && h != INVALID_HANDLE_VALUE ? h : parent_console();
}

// The C runtime's stdout is used when it has a handle behind it, so that its
// buffering and any redirection of it (tests capture it) are respected.
bool crt_stdout_usable() {
    const intptr_t h = _get_osfhandle(_fileno(stdout));
    return h != -1 && h != -2;
}

}  // namespace

void report_error(const char* format, ...) {
    char line[1024];
    int n = std::snprintf(line, sizeof line, "%s: ", PROGRAM_NAME);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + n, sizeof line - 2 - size_t(n), format, args);
    va_end(args);
    std::strcat(line, "\r\n");
    DWORD written = 0;
    if (HANDLE h = error_stream(); h && WriteFile(h, line, DWORD(std::strlen(line)), &written, nullptr)) return;
    OutputDebugStringA(line);
}

bool reports_visible() { return error_stream() != nullptr; }

bool write_output(const char* text) {
    if (crt_stdout_usable()) return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
    HANDLE console = parent_console();
    if (!console) return false;
    // A console wants CR LF; the text mode of the C runtime is not in play here.
    std::string crlf;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') crlf += '\r';
        crlf += *p;
    }
    DWORD written = 0;
    return WriteFile(console, crlf.data(), DWORD(crlf.size()), &written, nullptr) && written == crlf.size();
}
