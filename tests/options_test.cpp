// The command line: every accepted and rejected word with its exit status and
// what reaches stdout and stderr, the MIDI system chosen, the device list
// against the MIDI double, and the monitor lines of send_to_ports.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "app/key_list.h"
#include "app/options.h"
#include "test_util.h"

#include "zorve_version.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr int RUN = -1;  // handle_command_line: go on to the panel

struct Row {
    std::vector<const char*> words;  // after the program's name
    const OptionPlatform* platform;
    int status;
    // Exactly what reaches stdout, or (starts_with) what it begins with.
    std::string out = "";
    bool starts_with = false;
    // The error's own words: stderr must be "zorve-button: " + err +
    // ". Try 'zorve-button --help'.\n"; empty: stderr stays empty.
    std::string err = "";
    // For RUN: the options the panel starts with.
    MidiSystem midi = MIDI_SYSTEM_AUTO;
    bool monitor = false;
    int scale = SCALE_AUTO;
    int channel = 1;
    bool show_input = false;
    bool on_top = false;
    bool keys = false;
    int velocity = 127;
    bool velocity_from_position = false;
    std::vector<std::string> connect = {};  // the ports the panel connects to
};

const OptionPlatform* const LX = &OPTIONS_LINUX;
const OptionPlatform* const WIN = &OPTIONS_WINDOWS;
const OptionPlatform* const WEB = &OPTIONS_WEB;
const std::string VERSION_LINE = std::string("zorve-button ") + ZORVE_VERSION + "\n";
const std::string LINUX_HELP = "usage: zorve-button [--midi alsa|jack|none] [--monitor] [--scale auto|N]\n";
const std::string WINDOWS_HELP = "usage: zorve-button [--midi none] [--monitor] [--scale auto|N]\n";
const std::string WEB_HELP = WINDOWS_HELP;
const std::string KEYS_HEADING = "key          group         message         number  channel  value  computer key\n";
const std::string KEY_A = "A            pad bank      Note On             89        1    127  F7\n";

const Row ROWS[] = {
    // Accepted: the panel runs with these options.
    {{}, LX, RUN, "", false, ""},
    {{"--monitor"}, LX, RUN, "", false, "", MIDI_SYSTEM_AUTO, true},
    {{"--midi", "jack"}, LX, RUN, "", false, "", MIDI_SYSTEM_JACK},
    {{"--midi=alsa"}, LX, RUN, "", false, "", MIDI_SYSTEM_ALSA},
    {{"--midi", "none", "--monitor", "--scale", "3"}, LX, RUN, "", false, "", MIDI_SYSTEM_NONE, true, 3},
    {{"--scale=4"}, LX, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, 4},
    {{"--scale", "2", "--scale", "1"}, LX, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, 1},  // the last counts
    {{"--midi", "jack", "--midi", "none"}, LX, RUN, "", false, "", MIDI_SYSTEM_NONE},
    {{"--midi", "none"}, WIN, RUN, "", false, "", MIDI_SYSTEM_NONE},
    {{"--scale", "1", "--monitor"}, WIN, RUN, "", false, "", MIDI_SYSTEM_AUTO, true, 1},
    {{"--scale", "3"}, WIN, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, 3},
    {{"--scale=4", "--scale", "auto"}, WIN, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, SCALE_AUTO},
    {{"--scale", "auto"}, LX, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, SCALE_AUTO},
    {{"--channel", "10", "--show-input"}, LX, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, SCALE_AUTO, 10, true},
    {{"--channel=16", "--channel", "1"}, WIN, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, SCALE_AUTO, 1},
    {{"--on-top"}, LX, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, SCALE_AUTO, 1, false, true},
    {{"--scale", "2", "--on-top"}, WIN, RUN, "", false, "", MIDI_SYSTEM_AUTO, false, 2, 1, false, true},
    {.words = {"--keys"}, .platform = LX, .status = RUN, .keys = true},
    {.words = {"--velocity", "100", "--keys"}, .platform = WIN, .status = RUN, .keys = true, .velocity = 100},
    {.words = {"--velocity=1"}, .platform = LX, .status = RUN, .velocity = 1},
    {.words = {"--velocity", "position"}, .platform = LX, .status = RUN, .velocity_from_position = true},
    // The last counts.
    {.words = {"--velocity", "position", "--velocity", "64"}, .platform = WIN, .status = RUN, .velocity = 64},
    {.words = {"--connect", "fluid", "--map", "none", "--connect=Synth input"},
     .platform = LX,
     .status = RUN,
     .connect = {"fluid", "Synth input"}},
    // Text asked for, status 0.
    {{"--help"}, LX, 0, LINUX_HELP, true, ""},
    {{"-h"}, LX, 0, LINUX_HELP, true, ""},
    {{"--help"}, WIN, 0, WINDOWS_HELP, true, ""},
    {{"--version"}, LX, 0, VERSION_LINE, false, ""},
    {{"-V"}, WIN, 0, VERSION_LINE, false, ""},
    {{"-V", "--help"}, LX, 0, LINUX_HELP, true, ""},  // help wins
    {{"--list-devices", "--help"}, LX, 0, LINUX_HELP, true, ""},
    {{"--version", "--list-devices", "--scale", "2"}, LX, 0, VERSION_LINE, false, ""},
    {{"--list-keys"}, LX, 0, KEYS_HEADING + KEY_A, true, ""},
    {{"--list-keys", "--midi", "jack"},
     WIN,
     64,
     "",
     false,
     "--midi jack is not available on Windows: WinMM is its only MIDI system ('--midi none' turns it off)"},
    {{"--scale", "3", "--list-keys", "--monitor"}, LX, 0, KEYS_HEADING + KEY_A, true, ""},
    {{"--list-keys"}, WIN, 0, KEYS_HEADING + KEY_A, true, ""},
    // What would be sent: every row on the chosen channel.
    {{"--channel", "10", "--list-keys"},
     LX,
     0,
     KEYS_HEADING + "A            pad bank      Note On             89       10    127  F7\n",
     true,
     ""},
    {{"--list-keys", "--version"}, LX, 0, VERSION_LINE, false, ""},
    // Wrong words: one line naming the word, status 64, nothing on stdout.
    {{"--bogus"}, LX, 64, "", false, "unknown option '--bogus'"},
    {{"-x"}, WIN, 64, "", false, "unknown option '-x'"},
    {{"-hV"}, LX, 64, "", false, "unknown option '-hV'"},
    {{"--help=yes"}, LX, 64, "", false, "option '--help' takes no value"},
    {{"--list-keys=all"}, LX, 64, "", false, "option '--list-keys' takes no value"},
    {{"--help", "--bogus"}, LX, 64, "", false, "unknown option '--bogus'"},  // an error wins over help
    {{"--scale"}, LX, 64, "", false, "option '--scale' needs a value (auto|N)"},
    {{"--midi"}, LX, 64, "", false, "option '--midi' needs a value (alsa|jack|none)"},
    {{"--scale", "0"}, LX, 64, "", false, "--scale: '0' is not auto or a whole number from 1 to 4"},
    {{"--scale", "5"}, LX, 64, "", false, "--scale: '5' is not auto or a whole number from 1 to 4"},
    {{"--scale", "-1"}, LX, 64, "", false, "--scale: '-1' is not auto or a whole number from 1 to 4"},
    {{"--scale", "two"}, LX, 64, "", false, "--scale: 'two' is not auto or a whole number from 1 to 4"},
    {{"--scale="}, LX, 64, "", false, "--scale: '' is not auto or a whole number from 1 to 4"},
    {{"--scale", " 2"}, LX, 64, "", false, "--scale: ' 2' is not auto or a whole number from 1 to 4"},
    {{"--scale", "Auto"}, WIN, 64, "", false, "--scale: 'Auto' is not auto or a whole number from 1 to 4"},
    {{"--channel", "0"}, LX, 64, "", false, "--channel: '0' is not a whole number from 1 to 16"},
    {{"--channel", "17"}, WIN, 64, "", false, "--channel: '17' is not a whole number from 1 to 16"},
    {{"--show-input=1"}, LX, 64, "", false, "option '--show-input' takes no value"},
    {{"--on-top=yes"}, WIN, 64, "", false, "option '--on-top' takes no value"},
    {{"--keys=yes"}, LX, 64, "", false, "option '--keys' takes no value"},
    {{"--velocity"}, WIN, 64, "", false, "option '--velocity' needs a value (N|position)"},
    {{"--velocity", "0"}, LX, 64, "", false, "--velocity: '0' is not position or a whole number from 1 to 127"},
    {{"--velocity", "128"}, LX, 64, "", false, "--velocity: '128' is not position or a whole number from 1 to 127"},
    {{"--velocity", "Position"},
     WIN,
     64,
     "",
     false,
     "--velocity: 'Position' is not position or a whole number from 1 to 127"},
    {{"--map="}, LX, 64, "", false, "--map: '' is not a file name ('--map none' reads none)"},
    {{"--map"}, WIN, 64, "", false, "option '--map' needs a value (FILE|none)"},
    {{"--connect", "fluid"}, WIN, 64, "", false, "unknown option '--connect'"},  // WinMM has no ports to connect
    {{"--midi", "oss"}, LX, 64, "", false, "--midi: 'oss' is not one of alsa, jack, none"},
    {{"--midi", "ALSA"}, LX, 64, "", false, "--midi: 'ALSA' is not one of alsa, jack, none"},
    {{"play"}, LX, 64, "", false, "unexpected argument 'play'"},
    {{"--monitor", "--", "--help"}, LX, 64, "", false, "unexpected argument '--help'"},
    {{"--midi", "alsa"},
     WIN,
     64,
     "",
     false,
     "--midi alsa is not available on Windows: WinMM is its only MIDI system ('--midi none' turns it off)"},
    {{"--midi=jack"},
     WIN,
     64,
     "",
     false,
     "--midi jack is not available on Windows: WinMM is its only MIDI system ('--midi none' turns it off)"},
    // A web page: Web MIDI is its one system.
    {{"--midi", "none", "--channel", "10"}, WEB, RUN, "", false, "", MIDI_SYSTEM_NONE, false, SCALE_AUTO, 10},
    {{"--help"}, WEB, 0, WEB_HELP, true, ""},
    {{"--midi=alsa"},
     WEB,
     64,
     "",
     false,
     "--midi alsa is not available on a web page: Web MIDI is its only MIDI system ('--midi none' turns it off)"},
};

using CommandLine = CoreTest;

TEST_F(CommandLine, EveryRowOfTheTable) {
    for (const Row& row : ROWS) {
        fake::reset();
        std::vector<const char*> argv{"zorve-button"};
        argv.insert(argv.end(), row.words.begin(), row.words.end());
        std::string line;
        for (const char* w : row.words) line += std::string(" [") + w + "]";
        SCOPED_TRACE(std::string(row.platform->name) + ":" + line);

        ProgramOptions options;
        CaptureStdout();
        CaptureStderr();
        const int status = handle_command_line(int(argv.size()), argv.data(), *row.platform, options);
        const std::string err = GetCapturedStderr();
        const std::string out = GetCapturedStdout();

        EXPECT_EQ(status, row.status);
        if (row.starts_with) {
            EXPECT_EQ(out.substr(0, row.out.size()), row.out) << out;
        } else {
            EXPECT_EQ(out, row.out);
        }
        EXPECT_EQ(err, row.err.empty() ? "" : "zorve-button: " + row.err + ". Try 'zorve-button --help'.\n");

        // The MIDI system is chosen only for a run, and exactly once; no
        // box appears where the reports reach a console.
        std::vector<std::string> want_log;
        if (status == RUN) want_log.push_back("midi_choose_system " + std::to_string(int(row.midi)));
        EXPECT_EQ(fake::log(), want_log);
        if (status == RUN) {
            EXPECT_EQ(options.action, ACTION_RUN);
            EXPECT_EQ(options.midi, row.midi);
            EXPECT_EQ(options.show_input, row.show_input);
            EXPECT_EQ(options.on_top, row.on_top);
            EXPECT_EQ(g_panel.channel, row.channel - 1) << "the panel sends on the chosen channel";
            EXPECT_EQ(options.monitor, row.monitor);
            EXPECT_EQ(options.scale, row.scale);
            // What the panel and the shell start with.
            EXPECT_EQ(g_app.play_keys, row.keys);
            EXPECT_EQ(g_panel.velocity, row.velocity);
            EXPECT_EQ(g_panel.velocity_from_position, row.velocity_from_position);
            EXPECT_EQ(g_app.user_map.connect, row.connect);
        }
    }
}

// A map that cannot be used ends the program before anything opens: one
// line, status 78; --list-keys checks a file and prints the table it makes.
TEST_F(CommandLine, TheMapFileFromTheCommandLine) {
    const std::string path = temp_path("zorve_options_map");
    const auto run = [&](std::vector<const char*> words, std::string* out, std::string* err) {
        words.insert(words.begin(), "zorve-button");
        ProgramOptions options;
        fake::log().clear();
        CaptureStdout();
        CaptureStderr();
        const int status = handle_command_line(int(words.size()), words.data(), OPTIONS_LINUX, options);
        *err = GetCapturedStderr();
        *out = GetCapturedStdout();
        return status;
    };
    std::string out, err;
    std::ofstream(path) << "[keys]\n\"pad 1\" = { note = 36, channel = 10 }\n\"pad 3\" = { note = 200 }\n";
    EXPECT_EQ(run({"--map", path.c_str()}, &out, &err), EXIT_CONFIG);
    EXPECT_EQ(err, "zorve-button: " + path + ":3:20: pad 3: note must be a whole number from 0 to 127\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(fake::log(), std::vector<std::string>{}) << "no MIDI system chosen";
    EXPECT_EQ(run({"--list-keys", "--map", path.c_str()}, &out, &err), EXIT_CONFIG);
    EXPECT_EQ(out, "");
    std::ofstream(path) << "[keys]\n\"pad 1\" = { note = 36, channel = 10 }\n";
    EXPECT_EQ(run({"--list-keys", "--map", path.c_str()}, &out, &err), 0);
    EXPECT_NE(out.find("\n1            pad           Note On             36       10    127  Z\n"), std::string::npos)
        << out;
    EXPECT_EQ(run({"--map", path.c_str(), "--keys"}, &out, &err), RUN);
    EXPECT_EQ(key_message(74).channel, 9);
    EXPECT_EQ(g_app.user_map.path, path);
    const std::string missing = temp_path("zorve_no_such_map");
    EXPECT_EQ(run({"--map", missing.c_str()}, &out, &err), EXIT_CONFIG);
    EXPECT_EQ(err, "zorve-button: " + missing + ": cannot be read (No such file or directory)\n");
    std::remove(path.c_str());
}

// A URL's query as the page passes it on: the words a command line would
// have, for the parser to accept or refuse as it does those.
TEST(QueryWords, NamesBecomeOptionsAndFlagsTakeOneOrNothing) {
    const struct {
        const char* query;
        std::vector<std::string> words;
    } rows[] = {
        {"", {}},
        {"?", {}},
        {"?channel=10&show-input=1", {"--channel=10", "--show-input"}},
        {"channel=10&show-input", {"--channel=10", "--show-input"}},  // no '?', a bare flag
        {"?show-input=0&on-top=", {"--on-top"}},                      // 0 leaves a flag out
        {"?show-input=yes", {"--show-input=yes"}},                    // for the parser to refuse
        {"?scale=auto&&midi=none", {"--scale=auto", "--midi=none"}},  // an empty pair is skipped
        {"?channel", {"--channel"}},                                  // a value it needs, missing
        {"?bogus=1&list-keys=1", {"--bogus=1", "--list-keys"}},
        {"?channel=1%30&x%2Dy=a+b%", {"--channel=10", "--x-y=a b%"}},  // %XX and '+' decoded
        {"?scale=%zz&help=%31", {"--scale=%zz", "--help"}},
    };
    for (const auto& row : rows) EXPECT_EQ(words_from_query(row.query, OPTIONS_WEB), row.words) << row.query;
}

TEST_F(CommandLine, QueryIsRefusedInTheCommandLinesWords) {
    const struct {
        const char* query;
        const char* error;  // empty: accepted
    } rows[] = {
        {"?channel=17", "--channel: '17' is not a whole number from 1 to 16"},
        {"?show-input=2", "option '--show-input' takes no value"},
        {"?scale=5", "--scale: '5' is not auto or a whole number from 1 to 4"},
        {"?channel", "option '--channel' needs a value (N)"},
        {"?speed=2", "unknown option '--speed=2'"},
        {"?channel=16&show-input=1&scale=2", ""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> words{"zorve-button"};
        for (const std::string& w : words_from_query(row.query, OPTIONS_WEB)) words.push_back(w);
        std::vector<const char*> argv;
        for (const std::string& w : words) argv.push_back(w.c_str());
        const ProgramOptions o = parse_program_options(int(argv.size()), argv.data(), OPTIONS_WEB);
        if (*row.error) {
            EXPECT_EQ(o.action, ACTION_USAGE_ERROR) << row.query;
            EXPECT_EQ(o.error, std::string(row.error) + ". Try 'zorve-button --help'.") << row.query;
        } else {
            EXPECT_EQ(o.action, ACTION_RUN) << row.query;
            EXPECT_EQ(o.channel, 16);
            EXPECT_TRUE(o.show_input);
            EXPECT_EQ(o.scale, 2);
        }
    }
}

TEST(ScaleForDpi, LargestWholeFactorFromOneToFour) {
    const std::pair<int, int> rows[] = {{0, 1},   {-1, 1},  {72, 1},  {96, 1},  {120, 1}, {144, 1}, {191, 1},
                                        {192, 2}, {240, 2}, {288, 3}, {384, 4}, {480, 4}, {9600, 4}};
    for (const auto& [dpi, scale] : rows) EXPECT_EQ(scale_for_dpi(dpi), scale) << dpi;
}

TEST_F(CommandLine, HelpNamesEveryOptionAndFitsATerminal) {
    for (const OptionPlatform* platform : {LX, WIN}) {
        const std::string usage = program_usage(*platform);
        for (const char* name : {"--help", "--version", "--list-devices", "--list-keys", "--midi", "--monitor",
                                 "--scale", "--keys", "--velocity"})
            EXPECT_NE(usage.find(name), std::string::npos) << platform->name << " " << name;
        size_t start = 0, end;
        while ((end = usage.find('\n', start)) != std::string::npos) {
            EXPECT_LE(end - start, 80u) << usage.substr(start, end - start);
            start = end + 1;
        }
        EXPECT_EQ(start, usage.size()) << "ends with a line break";
    }
    EXPECT_EQ(program_usage(OPTIONS_WINDOWS).find("jack"), std::string::npos);
}

// ------------------------------------------------------------ --list-devices

std::string list_devices() {
    const char* argv[] = {"zorve-button", "--midi", "jack", "--list-devices"};
    ProgramOptions options;
    CaptureStdout();
    const int status = handle_command_line(4, argv, OPTIONS_LINUX, options);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(status, 0);
    return out;
}

TEST_F(CommandLine, ListDevicesNumbersAsThePanelAndOpensNothing) {
    const std::string long_name(40, 'L');
    fake::world().outputs = {{"Midi Through:0"}, {long_name}, {"synth", false}, {"monitor"},
                             {"four"},           {"five"},    {"six"}};
    for (int d = 0; d < 6; ++d) fake::world().inputs.push_back({"in " + std::to_string(d)});
    EXPECT_EQ(list_devices(),
              "outputs: 5 of 7 (the panel uses the first 5)\n"
              "out 0  Midi Through:0\n"
              "out 1  " +
                  long_name.substr(0, 32) +
                  "  (switch 1)\n"
                  "out 2  synth  (switch 2)\n"  // would fail to open: still numbered, and named
                  "out 3  monitor  (switch 3)\n"
                  "out 4  four\n"
                  "inputs: 4 of 6 (the panel uses the first 4)\n"
                  "in 0  in 0\nin 1  in 1\nin 2  in 2\nin 3  in 3\n");
    // No device opened, nothing sent: the choice of system is the only call.
    EXPECT_EQ(fake::log(), std::vector<std::string>{"midi_choose_system 2"});
    EXPECT_TRUE(fake::world().sent.empty());
}

TEST_F(CommandLine, ListDevicesMarksOnlySwitchesThatExist) {
    fake::world().outputs = {{"a"}, {"b"}};
    EXPECT_EQ(list_devices(), "outputs: 2\nout 0  a\nout 1  b  (switch 1)\ninputs: 0\n");
    fake::reset();
    EXPECT_EQ(list_devices(), "outputs: 0\ninputs: 0\n");
    fake::reset();
    fake::world().outputs = {{"a"}, {""}};
    fake::world().inputs = {{""}};
    EXPECT_EQ(list_devices(), "outputs: 2\nout 0  a\nout 1  (switch 1)\ninputs: 1\nin 0\n");
    fake::reset();
    // The table keeps Windows-1252 as the panel draws it; the list is UTF-8.
    fake::world().outputs = {{"a"}, {"synth \x80\xe9\x9f"}};
    EXPECT_EQ(list_devices(), "outputs: 2\nout 0  a\nout 1  synth \u20ac\u00e9\u0178  (switch 1)\ninputs: 0\n");
}

// --------------------------------------------------------------- --list-keys

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(start, text.size()) << "ends with a line break";
    return lines;
}

TEST(KeyList, EveryKeyOnceInDispatchOrderInEachFormat) {
    const std::vector<std::string> text = lines_of(key_list_text(KEY_LIST_TEXT));
    const std::vector<std::string> md = lines_of(key_list_text(KEY_LIST_MARKDOWN));
    const std::vector<std::string> roff = lines_of(key_list_text(KEY_LIST_ROFF));
    ASSERT_EQ(text.size(), size_t(1 + KEY_COUNT));
    ASSERT_EQ(md.size(), size_t(2 + KEY_COUNT));
    ASSERT_EQ(roff.size(), size_t(5 + KEY_COUNT + 1));
    EXPECT_EQ(text[0] + "\n", KEYS_HEADING);
    EXPECT_EQ(md[0], "| Key | Group | Message | Number | Channel | Computer key |");
    EXPECT_EQ(roff[3], "Key@Group@Message@No.@Ch.@Computer key");
    EXPECT_EQ(roff.back(), ".TE");
    // Rows of each style and message, exactly, with and without a computer key.
    const std::map<int, std::vector<std::string>> rows = {
        {0,
         {"A            pad bank      Note On             89        1    127  F7",
          "| `A` | pad bank | Note On | 89 | 1 | `F7` |", "A@pad bank@Note On@89@1@F7"}},
        {8,
         {"left arrow   cursor        Note On             13        1    127  Left",
          "| left arrow | cursor | Note On | 13 | 1 | `Left` |", "left arrow@cursor@Note On@13@1@Left"}},
        {29,
         {"SEQ EDIT     mode          Note On             25        1    127",
          "| `SEQ EDIT` | mode | Note On | 25 | 1 |  |", "SEQ EDIT@mode@Note On@25@1@"}},
        {56,
         {"minus        keypad        Note On            112        1    127  keypad -",
          "| minus | keypad | Note On | 112 | 1 | `keypad -` |", "minus@keypad@Note On@112@1@keypad \\-"}},
        {74,
         {"1            pad           Control Change      16        1    127  Z",
          "| `1` | pad | Control Change | 16 | 1 | `Z` |", "1@pad@Control Change@16@1@Z"}},
    };
    for (const auto& [k, want] : rows) {
        EXPECT_EQ(text[size_t(1 + k)], want[0]) << k;
        EXPECT_EQ(md[size_t(2 + k)], want[1]) << k;
        EXPECT_EQ(roff[size_t(5 + k)], want[2]) << k;
    }
    // All 90 rows against the tool's table: the key_table_docs test.
}

TEST(KeyList, GroupsCoverTheTableInOrder) {
    int next = 0;
    for (const KeyGroup& g : KEY_GROUPS) {
        EXPECT_EQ(g.first, next) << g.name;
        EXPECT_GT(g.count, 0) << g.name;
        next = g.first + g.count;
    }
    EXPECT_EQ(next, KEY_COUNT);
    EXPECT_STREQ(key_group(12), "transport");  // REC
    EXPECT_STREQ(key_group(57), "keypad");     // ENTER
    EXPECT_STREQ(key_group(89), "pad");
    EXPECT_STREQ(key_group(KEY_COUNT), "");
}

// ----------------------------------------------------------------- --monitor

std::string monitored(int status, int data1, int data2) {
    g_app.devices.monitor = true;
    CaptureStdout();
    send_to_ports(*g_panel.devices, g_panel.port_enable, status, data1, data2);
    return GetCapturedStdout();
}

TEST_F(CommandLine, MonitorPrintsEachDeviceThatGotTheMessage) {
    open_outputs(5);
    EXPECT_EQ(monitored(0x90, 36, 127), "dev 1  90 24 7F\ndev 2  90 24 7F\ndev 3  90 24 7F\n");
    EXPECT_EQ(fake::sent_to(1), std::vector<uint32_t>{note(36, 127)});  // still sent
    g_panel.port_enable[1] = 0;
    EXPECT_EQ(monitored(0xB0, 16, 0), "dev 1  B0 10 00\ndev 3  B0 10 00\n");
    EXPECT_EQ(monitored(0x190, 0x13C, 127), "dev 1  90 3C 7F\ndev 3  90 3C 7F\n");  // bytes as sent
    for (int16_t& e : g_panel.port_enable) e = 0;
    EXPECT_EQ(monitored(0x90, 2, 127), "dev -  90 02 7F\n");  // every switch off
    g_app.devices.monitor = false;
    CaptureStdout();
    for (int16_t& e : g_panel.port_enable) e = 1;
    send_to_ports(*g_panel.devices, g_panel.port_enable, 0x90, 2, 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(fake::sent_to(2).size(), 2u);
}

TEST_F(CommandLine, MonitorWithoutDevicesSaysNoneGotIt) {
    open_outputs(0);
    EXPECT_EQ(monitored(0x90, 114, 127), "dev -  90 72 7F\n");
    fake::reset();
    // Device 2 counted but not open: only 1 and 3 got the message.
    fake::world().outputs = {{"0"}, {"1"}, {"2", false}, {"3"}};
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
    EXPECT_EQ(monitored(0x90, 89, 0), "dev 1  90 59 00\ndev 3  90 59 00\n");
    fake::reset();
    fake::world().outputs = {{"0"}, {"1"}};  // only switch 1 exists; ports 2 and 3 are on but empty
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
    EXPECT_EQ(monitored(0x90, 89, 127), "dev 1  90 59 7F\n");
}

TEST_F(CommandLine, MonitorFollowsAClickOnAKey) {
    open_outputs(4);
    g_app.devices.monitor = true;
    CaptureStdout();
    at(570, 25, EV_LEFT_DOWN);  // key "A": note 89
    at(570, 25, EV_LEFT_UP);
    EXPECT_EQ(GetCapturedStdout(),
              "dev 1  90 59 7F\ndev 2  90 59 7F\ndev 3  90 59 7F\n"
              "dev 1  90 59 00\ndev 2  90 59 00\ndev 3  90 59 00\n");
    // On another channel, keys and controllers alike, the panel port too.
    g_panel.channel = 9;
    CaptureStdout();
    at(570, 25, EV_LEFT_DOWN);
    at(160, 485, EV_LEFT_DOWN);  // "A" goes off (table order), then pad 1: controller 16
    EXPECT_EQ(GetCapturedStdout(),
              "dev 1  99 59 7F\ndev 2  99 59 7F\ndev 3  99 59 7F\n"
              "dev 1  99 59 00\ndev 2  99 59 00\ndev 3  99 59 00\n"
              "dev 1  B9 10 7F\ndev 2  B9 10 7F\ndev 3  B9 10 7F\n");
    EXPECT_EQ(fake::world().panel.back(), msg(0xB9, 16, 127));
}

}  // namespace
