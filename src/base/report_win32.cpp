// Reports for a Win32 GUI program, which has no console of its own: to the
// console it was started from when there is one, else to the debugger output
// (DebugView, a debugger, Wine's +debugstr channel).
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/program.h"

namespace {

// Standard error when the process has one (a console build, redirection);
// otherwise the parent's console, attached once.
HANDLE error_stream() {
    static HANDLE stream = [] {
        HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
        if (h && h != INVALID_HANDLE_VALUE) return h;
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return HANDLE(nullptr);
        h = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                        nullptr);
        return h == INVALID_HANDLE_VALUE ? HANDLE(nullptr) : h;
    }();
    return stream;
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
