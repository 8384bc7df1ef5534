// The user's map: one TOML file that says what panel keys send, which
// computer keys play them and which ports the panel connects to. Reading it
// is portable; the shell applies it at start and whenever the file changes.
//
//   connect = ["fluidsynth"]
//   [keys]
//   "pad 1" = { note = 36, channel = 10, key = "Z" }
//   PLAY = { control = 64, latch = true }
//   "track select 1" = { program = 0, bank = 2 }
//
// A key is named as --list-keys prints it: group and name ("pad 1"), or the
// name alone where it is unique ("PLAY"), in any case. Keys it does not name
// keep the table's message.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/key_map.h"
#include "panel/key_messages.h"

constexpr int COMPUTER_KEY_DEFAULT = -1;  // PanelMap::computer_key: as the default map has it

struct PanelMap {
    KeyMessage sends[KEY_COUNT];
    // The computer key of each panel key: a KeyPosition (POS_NONE: none), or
    // COMPUTER_KEY_DEFAULT where the file names none for it.
    int16_t computer_key[KEY_COUNT];
    std::vector<std::string> connect;  // port names, or unique parts of them
    bool names_computer_keys = false;  // some key = "..." given: playing from the keyboard is wanted
    PanelMap();
};

struct MapLoad {
    bool ok = false;
    PanelMap map;
    // When not ok, the one line to report: "FILE:LINE:COL: what is wrong",
    // or "FILE: what" when the file cannot be read at all.
    std::string error;
};

// `file` names the text in the error line.
MapLoad parse_map(std::string_view text, const std::string& file);
MapLoad load_map_file(const std::string& path);

// The panel key (index into KeyTable) that computer key `pos` plays under
// `map`: the file's choice, else the default map's unless the file gave
// that panel key another computer key, or gave `pos` to another; -1 for none.
int map_played_key(const PanelMap& map, KeyPosition pos);
// The computer key that plays panel key `key` under `map`; POS_NONE for none.
KeyPosition map_computer_key(const PanelMap& map, int key);
// How users and the map name a computer key ("Z", "Space", "keypad +").
const char* key_position_name(KeyPosition pos);

// Where the map is read from when --map does not say: on Linux
// $XDG_CONFIG_HOME/zorve-button/map.toml, with ~/.config for an unset or
// empty XDG_CONFIG_HOME; on Windows %APPDATA%\zorve-button\map.toml. Empty
// when the variables needed are unset.
std::string default_map_path(bool windows, const char* xdg_config_home, const char* home, const char* appdata);
