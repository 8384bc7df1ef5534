#include "app/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/app_state.h"
#include "app/key_list.h"
#include "app/map_file.h"
#include "app/platform.h"
#include "app/user_map.h"
#include "base/cp1252.h"
#include "base/program.h"
#include "panel/panel.h"

#include "zorve_version.h"

namespace {

std::string quoted(const std::string& word) { return "'" + word + "'"; }

// Rows of the program's table; the parser reports the row index.
enum ProgramOption {
    OPT_HELP,
    OPT_VERSION,
    OPT_LIST_DEVICES,
    OPT_LIST_KEYS,
    OPT_MIDI,
    OPT_MONITOR,
    OPT_SCALE,
    OPT_CHANNEL,
    OPT_SHOW_INPUT,
    OPT_ON_TOP,
    OPT_KEYS,
    OPT_VELOCITY,
    OPT_MAP,
    OPT_CONNECT
};

struct MidiChoice {
    const char* word;
    MidiSystem system;
    bool needs_alsa_jack;  // offered only where the platform has ALSA and JACK
};

constexpr MidiChoice MIDI_CHOICES[] = {
    {"alsa", MIDI_SYSTEM_ALSA, true},
    {"jack", MIDI_SYSTEM_JACK, true},
    {"none", MIDI_SYSTEM_NONE, false},
};

std::vector<OptionSpec> program_table(const OptionPlatform& p) {
    // The --midi value list is the one place the platforms' tables differ.
    const char* midi_values = p.alsa_jack ? "alsa|jack|none" : "none";
    const char* midi_help = p.alsa_jack ? "use this MIDI system; default: the ALSA sequencer\n"
                                          "when there is one, else a running JACK server;\n"
                                          "none: no devices"
                                        : p.none_help;
    std::vector<OptionSpec> rows = {
        {"--help", "-h", nullptr, "print this text and exit"},
        {"--version", "-V", nullptr, "print the version and exit"},
        {"--list-devices", nullptr, nullptr,
         "print the MIDI devices numbered as the panel numbers\n"
         "them and mark the ones switches 1-3 drive; opens no\n"
         "device, shows no window"},
        {"--list-keys", nullptr, nullptr,
         "print every key: its name, group, message (Note On\n"
         "or Control Change), number, channel and the computer\n"
         "key that plays it with --keys"},
        {"--midi", nullptr, midi_values, midi_help},
        {"--monitor", nullptr, nullptr,
         "print every message sent, one line each with the\n"
         "device it went to: \"dev 1  90 24 7F\"; \"dev -\" when no\n"
         "device got it (none open, or its switches off)"},
        {"--scale", nullptr, "auto|N",
         "show each panel pixel as N x N screen pixels, N from\n"
         "1 to 4; auto (default): as many as the screen's DPI\n"
         "or scale factor asks for, 1 at 96 DPI (100 %)"},
        {"--channel", nullptr, "N", "send on MIDI channel N, 1 to 16 (default 1)"},
        {"--show-input", nullptr, nullptr,
         "light a key while MIDI input for its note or\n"
         "controller (any channel) says it is on; sends nothing"},
        {"--on-top", nullptr, nullptr,
         "keep the window above other windows (X11 and\n"
         "Windows; Wayland lets no program do it)"},
        {"--keys", nullptr, nullptr,
         "play the panel from the computer keyboard, keys by\n"
         "place (the same on every layout): see --list-keys;\n"
         "Escape lets go of every key and sends All Notes Off"},
        {"--velocity", nullptr, "N|position",
         "the value of every press, 1 to 127 (default 127);\n"
         "position: from where the mouse or a finger lands,\n"
         "soft at a key's top edge, 127 at its bottom; computer\n"
         "keys then send 100, with Shift 127"},
        {"--map", nullptr, "FILE|none",
         p.windows_paths ? "what keys send and which computer keys play them,\n"
                           "read again whenever FILE changes; default:\n"
                           "%APPDATA%\\zorve-button\\map.toml when it exists;\n"
                           "none: the built-in table"
                         : "what keys send and which computer keys play them,\n"
                           "read again whenever FILE changes; default:\n"
                           "~/.config/zorve-button/map.toml when it exists;\n"
                           "none: the built-in table"},
    };
    if (p.alsa_jack)
        rows.push_back({"--connect", nullptr, "PORT",
                        "connect the panel port to PORT (a JACK or ALSA\n"
                        "port name, or a unique part of one) at start and\n"
                        "whenever it appears; may be given again"});
    return rows;
}

// Help, version and the device list: to standard output; where a Windows
// program has no console to show it, in a box.
int emit(const std::string& text) {
    if (write_output(text.c_str())) return 0;
    if (!reports_visible()) {
        platform_message_box(PROGRAM_NAME, text.c_str());
        return 0;
    }
    report_error("could not write to standard output");
    return 1;
}

}  // namespace

// ----------------------------------------------------------- the program

ProgramOptions parse_program_options(int argc, const char* const argv[], const OptionPlatform& platform) {
    ProgramOptions o;
    const std::vector<OptionSpec> table = program_table(platform);
    const ParsedArgs args = parse_args(argc, argv, table);
    const auto fail = [&](const std::string& what) {
        ProgramOptions bad;
        bad.action = ACTION_USAGE_ERROR;
        bad.error = what + ". Try '" + PROGRAM_NAME + " --help'.";
        return bad;
    };
    if (!args.error.empty()) return fail(args.error);
    bool help = false, version = false, list = false, keys = false;
    for (const ParsedOption& item : args.items) {
        switch (item.option) {
            case -1: return fail("unexpected argument " + quoted(item.value));
            case OPT_HELP: help = true; break;
            case OPT_VERSION: version = true; break;
            case OPT_LIST_DEVICES: list = true; break;
            case OPT_LIST_KEYS: keys = true; break;
            case OPT_MONITOR: o.monitor = true; break;
            case OPT_MIDI: {
                const MidiChoice* choice = nullptr;
                for (const MidiChoice& c : MIDI_CHOICES)
                    if (item.value == c.word) choice = &c;
                if (!choice) return fail("--midi: " + quoted(item.value) + " is not one of alsa, jack, none");
                if (choice->needs_alsa_jack && !platform.alsa_jack)
                    return fail("--midi " + item.value + " is not available on " + platform.name + ": " +
                                platform.only_midi + " is its only MIDI system ('--midi none' turns it off)");
                o.midi = choice->system;
                break;
            }
            case OPT_SCALE: {
                const int n = item.value == "auto" ? SCALE_AUTO : number_in_range(item.value, 1, MAX_SCALE);
                if (n == 0 && item.value != "auto")
                    return fail("--scale: " + quoted(item.value) + " is not auto or a whole number from 1 to 4");
                o.scale = n;
                break;
            }
            case OPT_CHANNEL: {
                const int n = number_in_range(item.value, 1, 16);
                if (n == 0) return fail("--channel: " + quoted(item.value) + " is not a whole number from 1 to 16");
                o.channel = n;
                break;
            }
            case OPT_SHOW_INPUT: o.show_input = true; break;
            case OPT_ON_TOP: o.on_top = true; break;
            case OPT_KEYS: o.keys = true; break;
            case OPT_VELOCITY: {
                const bool position = item.value == "position";
                const int n = position ? 127 : number_in_range(item.value, 1, 127);
                if (n == 0)
                    return fail("--velocity: " + quoted(item.value) +
                                " is not position or a whole number from 1 to 127");
                o.velocity = n;
                o.velocity_from_position = position;
                break;
            }
            case OPT_MAP:
                if (item.value.empty()) return fail("--map: '' is not a file name ('--map none' reads none)");
                o.map = item.value;
                break;
            case OPT_CONNECT: o.connect.push_back(item.value); break;
            default: break;
        }
    }
    o.action = help      ? ACTION_HELP
               : version ? ACTION_VERSION
               : list    ? ACTION_LIST_DEVICES
               : keys    ? ACTION_LIST_KEYS
                         : ACTION_RUN;
    return o;
}

std::string program_usage(const OptionPlatform& platform) {
    const std::string midi = platform.alsa_jack ? "[--midi alsa|jack|none]" : "[--midi none]";
    const std::string name = PROGRAM_NAME;
    const std::string indent(7, ' ');  // under the name after "usage: "
    const std::string under_options(indent.size() + name.size() + 1, ' ');
    return "usage: " + name + " " + midi + " [--monitor] [--scale auto|N]\n" + under_options +
           "[--channel N] [--show-input] [--on-top] [--keys]\n" + under_options + "[--velocity N|position]\n" + indent +
           name + " --list-devices " + midi + "\n" + indent + name + " --list-keys | --help | --version\n" +
           "An on-screen MIDI control surface: 90 keys that send MIDI notes and\n"
           "controllers to output devices 1-3, on channel 1 unless --channel says.\n\n" +
           option_lines(program_table(platform)) +
           "\nExit status: 0 window closed, or text printed; 1 another copy is running;\n"
           "2 the window could not be made; 3 no display; 64 a wrong option.\n";
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A query's encoding undone: '+' is a space, %XX a byte; a '%' without two
// hex digits after it stays as it is.
std::string url_decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? hex_digit(text[i + 1]) : -1;
        const int low = high >= 0 ? hex_digit(text[i + 2]) : -1;
        if (low >= 0) {
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> words_from_query(const std::string& query, const OptionPlatform& platform) {
    const std::vector<OptionSpec> table = program_table(platform);
    std::vector<std::string> words;
    size_t start = !query.empty() && query[0] == '?' ? 1 : 0;
    while (start < query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        const std::string name = "--" + url_decoded(pair.substr(0, eq));
        const std::string value = eq == std::string::npos ? "" : url_decoded(pair.substr(eq + 1));
        const auto row = std::find_if(table.begin(), table.end(), [&](const OptionSpec& o) { return name == o.name; });
        if (row != table.end() && !row->value_name && (value.empty() || value == "1" || value == "0")) {
            if (value != "0") words.push_back(name);
        } else {
            words.push_back(eq == std::string::npos ? name : name + "=" + value);
        }
    }
    return words;
}

int scale_for_dpi(int dpi) { return dpi < 96 ? 1 : std::min(dpi / 96, MAX_SCALE); }

std::string program_version() { return std::string(PROGRAM_NAME) + " " + ZORVE_VERSION + "\n"; }

std::string device_list_text(const DeviceTable& devices, int inputs_found, int outputs_found) {
    std::string out;
    const auto heading = [&](const char* what, int count, int found) {
        char line[96];
        if (found > count)
            std::snprintf(line, sizeof line, "%s: %d of %d (the panel uses the first %d)\n", what, count, found, count);
        else
            std::snprintf(line, sizeof line, "%s: %d\n", what, count);
        out += line;
    };
    // Names as the panel draws them (Windows-1252), written as UTF-8.
    const auto device = [&](const char* kind, int d, const char* name, const char* mark) {
        out += std::string(kind) + " " + std::to_string(d) + (*name ? "  " + cp1252_to_utf8(name) : "") + mark + "\n";
    };
    heading("outputs", devices.output_count, outputs_found);
    for (int d = 0; d < devices.output_count; ++d) {
        char mark[24] = "";
        if (d >= 1 && d <= PORT_COUNT) std::snprintf(mark, sizeof mark, "  (switch %d)", d);
        device("out", d, devices.output_name[d], mark);
    }
    heading("inputs", devices.input_count, inputs_found);
    for (int d = 0; d < devices.input_count; ++d) device("in", d, devices.input_name[d], "");
    return out;
}

std::string map_file_for(const ProgramOptions& options, const OptionPlatform& platform) {
    if (options.map == "none") return "";
    if (!options.map.empty()) return options.map;
    const std::string path = default_map_path(platform.windows_paths, std::getenv("XDG_CONFIG_HOME"),
                                              std::getenv("HOME"), std::getenv("APPDATA"));
    return !path.empty() && std::ifstream(path) ? path : "";
}

int handle_command_line(int argc, const char* const argv[], const OptionPlatform& platform, ProgramOptions& options) {
    options = parse_program_options(argc, argv, platform);
    const auto fault = [](const std::string& line, int status) {
        report_error("%s", line.c_str());
        // Started without a console, the line would reach no one.
        if (!reports_visible()) platform_message_box(PROGRAM_NAME, line.c_str());
        return status;
    };
    // The map is read before anything opens: a fault in it ends the program
    // with its one line, and --list-keys prints the table it makes.
    PanelMap map;
    const std::string map_path =
        options.action == ACTION_RUN || options.action == ACTION_LIST_KEYS ? map_file_for(options, platform) : "";
    if (!map_path.empty()) {
        MapLoad load = load_map_file(map_path);
        if (!load.ok) return fault(load.error, EXIT_CONFIG);
        map = std::move(load.map);
    }
    switch (options.action) {
        case ACTION_USAGE_ERROR: return fault(options.error, EXIT_USAGE);
        case ACTION_HELP: return emit(program_usage(platform));
        case ACTION_VERSION: return emit(program_version());
        case ACTION_LIST_KEYS:
            return emit(key_list_text(KEY_LIST_TEXT, map,
                                      options.velocity_from_position ? "position" : std::to_string(options.velocity),
                                      options.channel));
        case ACTION_LIST_DEVICES: {
            midi_choose_system(options.midi, MIDI_USE_LISTING);
            DeviceTable devices;
            int inputs_found = 0, outputs_found = 0;
            name_devices(devices, &inputs_found, &outputs_found);
            return emit(device_list_text(devices, inputs_found, outputs_found));
        }
        case ACTION_RUN: break;
    }
    midi_choose_system(options.midi, MIDI_USE_PANEL);
    g_app.devices.monitor = options.monitor;
    g_panel.channel = uint8_t(options.channel - 1);
    g_panel.velocity = uint8_t(options.velocity);
    g_panel.velocity_from_position = options.velocity_from_position;
    g_app.play_keys = options.keys;
    use_map(map, map_path, options.connect);
    return -1;
}
