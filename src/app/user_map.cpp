// The map in force and its reading again while the panel runs.
#include "app/user_map.h"

#include <fstream>
#include <sstream>

#include "app/app_state.h"
#include "app/file_watch.h"
#include "app/shell.h"
#include "base/program.h"
#include "midi/midi_ports.h"
#include "panel/panel.h"

namespace {

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void put_in_force(const PanelMap& map) {
    UserMap& user = g_app.user_map;
    user.map = map;
    set_key_messages(map.sends);
    user.connect = user.connect_given;
    user.connect.insert(user.connect.end(), map.connect.begin(), map.connect.end());
    if (map.names_computer_keys) g_app.play_keys = true;
}

}  // namespace

void use_map(const PanelMap& map, const std::string& path, const std::vector<std::string>& connect) {
    UserMap& user = g_app.user_map;
    user.path = path;
    user.text = path.empty() ? "" : file_text(path);
    user.source = user.text;
    user.connect_given = connect;
    put_in_force(map);
}

void connect_panel_port(const DeviceTable& devices) {
    const UserMap& user = g_app.user_map;
    if (!user.connect.empty()) {
        midi_connect_panel(user.connect);
    } else if (devices.output_count == 1) {
        report_error(
            "the one output device, 0 (%s), never receives: start synths before the panel, connect its "
            "panel port, or name one with --connect PORT",
            devices.output_name[0]);
    }
}

int played_key(KeyPosition pos) { return map_played_key(g_app.user_map.map, pos); }

void map_watch_begin(void (*wake)()) {
    if (!g_app.user_map.path.empty() && !file_watch_start(g_app.user_map.path, wake))
        report_error("%s: changes to it will not be seen while the panel runs", g_app.user_map.path.c_str());
}

void map_watch_end() {
    if (!g_app.user_map.path.empty()) file_watch_stop();
}

void map_poll() {
    if (!g_app.user_map.path.empty() && file_watch_take_change()) reload_map();
}

bool reload_map() {
    UserMap& user = g_app.user_map;
    const std::string text = file_text(user.path);
    if (text == user.text) return false;
    user.text = text;
    const MapLoad load = parse_map(text, user.path);
    if (!load.ok) {
        report_error("%s (the map in force stays)", load.error.c_str());
        return false;
    }
    user.source = text;
    // Released with the messages that pressed them, before any changes.
    shell_release_all();
    const std::vector<std::string> connect = user.connect;
    put_in_force(load.map);
    if (user.connect != connect) midi_connect_panel(user.connect);
    mark_dirty(REDRAW_FULL);
    report_error("%s: read again", user.path.c_str());
    return true;
}
