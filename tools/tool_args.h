// The developer tools' command line, over the program's table-driven parser
// (app/args.h): help, operands and wrong words handled alike in every tool.
#pragma once
#include <vector>

#include "app/args.h"

// Parses against `table`, allowing `max_operands` operands. With --help (a row
// named so) the usage goes to stdout, status 0; a wrong word gives one line on
// stderr naming it and the synopsis, status EXIT_USAGE. Returns -1 when the
// tool should go on with `args`.
int tool_command_line(const char* tool, const char* operands, const char* about, int argc, const char* const argv[],
                      const std::vector<OptionSpec>& table, int max_operands, ParsedArgs& args);
