#include "tool_args.h"

#include <cstdio>
#include <string>

int tool_command_line(const char* tool, const char* operands, const char* about, int argc, const char* const argv[],
                      const std::vector<OptionSpec>& table, int max_operands, ParsedArgs& args) {
    const std::string synopsis =
        std::string(tool) + " " + option_synopsis(table) + (operands && *operands ? std::string(" ") + operands : "");
    args = parse_args(argc, argv, table);
    int seen = 0;
    bool help = false;
    for (const ParsedOption& item : args.items) {
        if (item.option >= 0) {
            help = help || std::string(table[size_t(item.option)].name) == "--help";
        } else if (++seen > max_operands && args.error.empty()) {
            args.error = "unexpected argument '" + item.value + "'";
        }
    }
    if (!args.error.empty()) {
        std::fprintf(stderr, "%s: %s (usage: %s)\n", tool, args.error.c_str(), synopsis.c_str());
        return EXIT_USAGE;
    }
    if (help) {
        std::printf("usage: %s\n%s\n%s", synopsis.c_str(), about, option_lines(table).c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return -1;
}
