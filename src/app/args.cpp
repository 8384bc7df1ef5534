#include "app/args.h"

#include <cstring>

namespace {

bool is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

std::string quoted(const std::string& word) { return "'" + word + "'"; }

// The name column of the usage text: "  -h, --help" or "      --scale N".
std::string name_column(const OptionSpec& row) {
    std::string s = row.alias ? std::string("  ") + row.alias + ", " : std::string("      ");
    s += row.name;
    if (row.value_name) s += std::string(" ") + row.value_name;
    return s;
}

}  // namespace

ParsedArgs parse_args(int argc, const char* const argv[], const std::vector<OptionSpec>& table) {
    ParsedArgs out;
    bool operands_only = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i] ? argv[i] : "";
        if (operands_only || word.size() < 2 || word[0] != '-') {
            out.items.push_back({-1, word});
            continue;
        }
        if (word == "--") {
            operands_only = true;
            continue;
        }
        // "--name=value" for long names; short aliases take no '=' form.
        const size_t eq = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, eq);
        int row = -1;
        for (size_t r = 0; r < table.size() && row < 0; ++r)
            if (is(table[r].name, name.c_str()) || (eq == std::string::npos && is(table[r].alias, name.c_str())))
                row = int(r);
        if (row < 0) {
            out.error = "unknown option " + quoted(word);
            return out;
        }
        const OptionSpec& spec = table[size_t(row)];
        if (!spec.value_name) {
            if (eq != std::string::npos) {
                out.error = "option " + quoted(name) + " takes no value";
                return out;
            }
            out.items.push_back({row, ""});
        } else if (eq != std::string::npos) {
            out.items.push_back({row, word.substr(eq + 1)});
        } else if (i + 1 < argc && argv[i + 1]) {
            out.items.push_back({row, argv[++i]});
        } else {
            out.error = "option " + quoted(name) + " needs a value (" + spec.value_name + ")";
            return out;
        }
    }
    return out;
}

std::string option_lines(const std::vector<OptionSpec>& table) {
    constexpr size_t HELP_COLUMN = 24;
    std::string out;
    for (const OptionSpec& row : table) {
        std::string line = name_column(row);
        line += line.size() + 2 <= HELP_COLUMN ? std::string(HELP_COLUMN - line.size(), ' ')
                                               : "\n" + std::string(HELP_COLUMN, ' ');
        for (const char* p = row.help; *p; ++p) {
            line += *p;
            if (*p == '\n') line += std::string(HELP_COLUMN, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string option_synopsis(const std::vector<OptionSpec>& table) {
    std::string out;
    for (const OptionSpec& row : table) {
        if (!out.empty()) out += ' ';
        out += std::string("[") + row.name;
        if (row.value_name) out += std::string(" ") + row.value_name;
        out += "]";
    }
    return out;
}

int number_in_range(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 3) return 0;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n >= low && n <= high ? n : 0;
}
