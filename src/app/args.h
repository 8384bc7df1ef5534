// A table-driven command-line parser, shared by the program (options.h) and
// the developer tools (tools/tool_args.h): one row per option, the words
// parsed against the table, the usage text and the one-line synopsis made
// from it.
#pragma once
#include <string>
#include <vector>

constexpr int EXIT_USAGE = 64;  // sysexits.h EX_USAGE: a wrong option or value

// One row of an option table: "--name", or "--name VALUE" and "--name=VALUE"
// when value_name is set.
struct OptionSpec {
    const char* name;        // "--scale"
    const char* alias;       // a short form such as "-h", or null
    const char* value_name;  // "N" as the usage shows it; null: the option takes no value
    const char* help;        // usage text; a '\n' continues it on the next line
};

struct ParsedOption {
    int option;         // row of the table; -1 for an operand (a word that is no option)
    std::string value;  // the option's value, or the operand
};

struct ParsedArgs {
    std::vector<ParsedOption> items;  // in command-line order
    std::string error;                // the first word not understood, as one line; empty when none
};

// Words from argv[1] on. "--" ends the options: every later word is an operand.
ParsedArgs parse_args(int argc, const char* const argv[], const std::vector<OptionSpec>& table);

// An option value that must be a whole number from `low` to `high` (at most
// three digits, digits only); 0 when it is anything else.
int number_in_range(const std::string& text, int low, int high);

// "  -h, --help          print this text and exit\n" for every row.
std::string option_lines(const std::vector<OptionSpec>& table);

// "[--help] [--scale N] ..." for every row, for one-line error reports.
std::string option_synopsis(const std::vector<OptionSpec>& table);
