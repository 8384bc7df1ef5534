// The developer tools' command line: help, operands and wrong words, with the
// exit status and exactly what reaches stdout and stderr.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_args.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

TEST(ToolCommandLine, HelpOperandsAndErrors) {
    const std::vector<OptionSpec> table = {{"--help", "-h", nullptr, "print this text and exit"},
                                           {"--size", nullptr, "N", "size"}};
    struct ToolRow {
        std::vector<const char*> words;
        int status;
        std::string out_start;
        std::string err;
        size_t operands;
    };
    const ToolRow rows[] = {
        {{"x.png"}, -1, "", "", 1},
        {{"--size", "48", "x.png"}, -1, "", "", 1},
        {{"--", "-x.png"}, -1, "", "", 1},
        {{"--help"}, 0, "usage: tool [--help] [--size N] OUT\nAbout.\n\n  -h, --help", "", 0},
        {{"x", "y"}, 64, "", "tool: unexpected argument 'y' (usage: tool [--help] [--size N] OUT)\n", 0},
        {{"--help", "y", "z"}, 64, "", "tool: unexpected argument 'z' (usage: tool [--help] [--size N] OUT)\n", 0},
        {{"--bogus"}, 64, "", "tool: unknown option '--bogus' (usage: tool [--help] [--size N] OUT)\n", 0},
        {{"--size"}, 64, "", "tool: option '--size' needs a value (N) (usage: tool [--help] [--size N] OUT)\n", 0},
    };
    for (const ToolRow& row : rows) {
        std::vector<const char*> argv{"tool"};
        argv.insert(argv.end(), row.words.begin(), row.words.end());
        SCOPED_TRACE(row.words.empty() ? "" : row.words[0]);
        ParsedArgs args;
        CaptureStdout();
        CaptureStderr();
        const int status = tool_command_line("tool", "OUT", "About.\n", int(argv.size()), argv.data(), table, 1, args);
        const std::string err = GetCapturedStderr();
        const std::string out = GetCapturedStdout();
        EXPECT_EQ(status, row.status);
        if (row.out_start.empty()) {
            EXPECT_EQ(out, "");
        } else {
            EXPECT_EQ(out.substr(0, row.out_start.size()), row.out_start);
        }
        EXPECT_EQ(err, row.err);
        if (status == -1) {
            size_t operands = 0;
            for (const ParsedOption& item : args.items) operands += item.option < 0;
            EXPECT_EQ(operands, row.operands);
        }
    }
}

}  // namespace
