// The program's name and the ways the program talks to its user outside the
// window. Below every other layer: anything may include it.
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

// False when report_error's lines reach no person: a Windows program started
// without a console (from Explorer) writes them to the debugger output only.
bool reports_visible();

// What the user asked the program to print (help, version, device list,
// monitor lines), written as is and flushed at once: standard output, or on
// Windows the console the program was started from. False when it went
// nowhere (no such output, or the write failed).
bool write_output(const char* text);
