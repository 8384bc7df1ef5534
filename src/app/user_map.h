// The user's map in force while the panel runs: what each key sends (in the
// Panel), which computer keys play them, where the panel connects; read
// again when its file changes. Window thread only.
#pragma once
#include <string>
#include <vector>

#include "app/map_file.h"
#include "midi/device_table.h"

struct UserMap {
    PanelMap map;                            // the last good one
    std::string path;                        // its file; empty: no map
    std::string text;                        // the file's text as last read
    std::string source;                      // the text of the map in force
    std::vector<std::string> connect;        // --connect's ports, then the map's
    std::vector<std::string> connect_given;  // --connect's alone
};

// Start-up, before the window: `map`, read from `path` (empty: none), goes
// in force, with --connect's ports in `connect`. A map that gives computer
// keys turns playing from the keyboard on.
void use_map(const PanelMap& map, const std::string& path, const std::vector<std::string>& connect);

// Window creation, once the devices are open: the panel port is connected
// to the ports --connect and the map name. Without any, a run whose only
// output is device 0, which never receives, says so on one line.
void connect_panel_port(const DeviceTable& devices);

// The panel key that computer key `pos` plays now, or -1.
int played_key(KeyPosition pos);

// Watches the map's file, if there is one; `wake` as for file_watch_start.
void map_watch_begin(void (*wake)());
void map_watch_end();

// Window thread, after any wake-up: when the watcher saw the file change,
// reads it again (reload_map).
void map_poll();
// Reads the map's file again. Unchanged text changes nothing. A good map
// goes in force at once: every held key (mouse, computer keys, fingers) and
// every latch is let go with the message it pressed with, then the new
// messages apply; one line says so. A fault keeps the map in force and
// reports its one line. True when the new map is in force.
bool reload_map();
