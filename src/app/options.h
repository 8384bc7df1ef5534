// The program's command-line options. Without them the panel does what it
// always did; each adds something (a listing, a monitor, lit keys, the
// computer keyboard as a player), sets a value the panel sends (channel,
// velocity), shapes the window (a scale, on top) or chooses the MIDI system
// the platform would otherwise pick itself.
#pragma once
#include <string>
#include <vector>

#include "app/args.h"
#include "midi/device_table.h"
#include "midi/midi_ports.h"

// ------------------------------------------------------------ the program

enum ProgramAction {
    ACTION_RUN,
    ACTION_HELP,
    ACTION_VERSION,
    ACTION_LIST_DEVICES,
    ACTION_LIST_KEYS,
    ACTION_USAGE_ERROR
};

constexpr int SCALE_AUTO = 0;
constexpr int MAX_SCALE = 4;

// The scale --scale auto takes on a screen of `dpi` dots per inch (96 at
// 100 %): the largest whole factor the screen asks for, 1 to MAX_SCALE; 1
// where the DPI is unknown (0 or less).
int scale_for_dpi(int dpi);

struct ProgramOptions {
    ProgramAction action = ACTION_RUN;
    MidiSystem midi = MIDI_SYSTEM_AUTO;
    bool monitor = false;
    int scale = SCALE_AUTO;               // window pixels per panel pixel, each way; SCALE_AUTO: the screen's
    int channel = 1;                      // 1..16: the channel of everything the panel sends
    bool show_input = false;              // keys light up from MIDI input
    bool on_top = false;                  // the window stays above others where the window system allows it
    bool keys = false;                    // the computer keyboard plays the panel
    int velocity = 127;                   // 1..127: the on-value of every press
    bool velocity_from_position = false;  // --velocity position
    std::string map;                      // --map FILE; "none": no map; empty: the default file when there is one
    std::vector<std::string> connect;     // --connect PORT, each given
    std::string error;                    // ACTION_USAGE_ERROR: the line to report, without the program's name
};

// What a platform layer offers beyond the common options.
struct OptionPlatform {
    const char* name;       // in error lines: "not available on Windows"
    bool alsa_jack;         // --midi alsa and --midi jack, and --connect
    bool windows_paths;     // the default map in %APPDATA%, else under $XDG_CONFIG_HOME
    const char* only_midi;  // without them, the one MIDI system there is: "WinMM"
    const char* none_help;  // without them, --midi's usage text
};
constexpr OptionPlatform OPTIONS_LINUX{"Linux", true, false, nullptr, nullptr};
constexpr OptionPlatform OPTIONS_WINDOWS{"Windows", false, true, "WinMM",
                                         "open no MIDI devices (default: every WinMM device)"};
constexpr OptionPlatform OPTIONS_WEB{"a web page", false, false, "Web MIDI",
                                     "open no MIDI devices (default: every device the\n"
                                     "browser's Web MIDI lists)"};

// Later words override earlier ones of the same option; --help wins over
// --version, which wins over --list-devices, which wins over --list-keys.
// Any wrong word makes the whole line ACTION_USAGE_ERROR.
ProgramOptions parse_program_options(int argc, const char* const argv[], const OptionPlatform& platform);
std::string program_usage(const OptionPlatform& platform);
// The words of a URL's query ("channel=10&show-input=1", with or without its
// '?') as a command line would give them: each name=value as
// "--name=value", except that an option taking no value is "--name" for the
// values 1 and "" and left out for 0. %XX and '+' are decoded. Unknown names
// and wrong values pass through for the parser to refuse in its own words.
std::vector<std::string> words_from_query(const std::string& query, const OptionPlatform& platform);
std::string program_version();  // "zorve-button 1.0.0\n"

// What --list-devices prints: outputs, then inputs, each numbered as the
// panel numbers them, the outputs that switches 1-3 drive marked; the names
// as the panel keeps them, in UTF-8.
std::string device_list_text(const DeviceTable& devices, int inputs_found, int outputs_found);

constexpr int EXIT_CONFIG = 78;  // sysexits.h EX_CONFIG: the map file is wrong

// The map file `options` name: --map's, else the platform's default file
// when it exists; empty for none.
std::string map_file_for(const ProgramOptions& options, const OptionPlatform& platform);

// Does what the command line asks before anything else of the program runs:
// prints help, version, the key table or a usage error, or chooses the MIDI
// system and then lists the devices or sets the monitor; reads the map,
// and with a fault in it reports the one line and ends. Returns the exit status when the
// program ends here, or -1 to go on and show the panel with `options`.
int handle_command_line(int argc, const char* const argv[], const OptionPlatform& platform, ProgramOptions& options);
