// Writes a copy of a document with the program's key table put between its
// "key table: begin" and "key table: end" lines: a tbl table where those lines
// are roff comments (the manual page), a Markdown table where they are HTML
// comments (the user guide), the aligned text of --list-keys otherwise (the
// Windows README). Build-time host tool: zorve-write-key-docs IN OUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/key_list.h"
#include "tool_args.h"

namespace {

const char* const ABOUT =
    "Copies IN to OUT with the lines between the one holding \"key table: begin\" and\n"
    "the one holding \"key table: end\" replaced by the key table, as --list-keys\n"
    "prints it: a tbl table when the begin line is a roff comment (.\\\"), a\n"
    "Markdown table when it is an HTML comment (<!--), else aligned text.\n";

const std::vector<OptionSpec> OPTIONS = {{"--help", "-h", nullptr, "print this text and exit"}};

int fail(const std::string& what) {
    std::fprintf(stderr, "zorve-write-key-docs: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ParsedArgs args;
    if (const int status = tool_command_line("zorve-write-key-docs", "IN OUT", ABOUT, argc, argv, OPTIONS, 2, args);
        status >= 0)
        return status;
    std::vector<std::string> files;
    for (const ParsedOption& item : args.items) files.push_back(item.value);
    if (files.size() != 2) return fail("needs IN and OUT (usage: zorve-write-key-docs [--help] IN OUT)");

    std::ifstream in(files[0]);
    if (!in) return fail("cannot read " + files[0]);
    std::string out, line;
    int state = 0;  // 0 before the begin line, 1 inside, 2 after the end line
    while (std::getline(in, line)) {
        if (state == 1 && line.find("key table: end") == std::string::npos) continue;
        if (state == 1) state = 2;
        out += line + "\n";
        if (state == 0 && line.find("key table: begin") != std::string::npos) {
            // A Markdown table must stand apart from the comment lines around it.
            if (line.rfind(".\\\"", 0) == 0)
                out += key_list_text(KEY_LIST_ROFF);
            else if (line.rfind("<!--", 0) == 0)
                out += "\n" + key_list_text(KEY_LIST_MARKDOWN) + "\n";
            else
                out += key_list_text(KEY_LIST_TEXT);
            state = 1;
        }
    }
    if (state != 2) return fail(files[0] + " has no \"key table: begin\" line followed by a \"key table: end\" line");
    std::ofstream file(files[1], std::ios::binary);
    file << out;
    file.close();
    if (!file) return fail("cannot write " + files[1]);
    return 0;
}
