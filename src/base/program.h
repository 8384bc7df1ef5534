// The program's name and the one way the program tells its user about a
// problem. Below every other layer: anything may include it.
#pragma once

constexpr const char* PROGRAM_NAME = "zorve-button";

// One line, prefixed with the program's name. Where it goes is the platform's
// choice (report_stdio.cpp: stderr; report_win32.cpp: the console the program
// was started from, else the debugger output, as a GUI program has none).
// The message box of a second start is not a report and does not come here.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void report_error(const char* format, ...);
