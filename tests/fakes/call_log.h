// A call log's one step: a printf-formatted line appended. Shared by the
// recording double and the Windows layer's import hooks.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

inline void append_call(std::vector<std::string>& log, const char* format, va_list args) {
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    log.emplace_back(line);
}
