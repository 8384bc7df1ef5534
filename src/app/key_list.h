// The key table as users read it: every key's name, group, message, number,
// channel, value and computer key, as --list-keys prints it and the manual page and the user
// guide carry it (written into them at build time from the same table).
#pragma once
#include <string>

enum KeyListFormat {
    KEY_LIST_TEXT,      // aligned columns under a heading line
    KEY_LIST_MARKDOWN,  // a pipe table
    KEY_LIST_ROFF,      // a tbl table between .TS and .TE
};

struct PanelMap;

// One line per key in dispatch order, after the heading: the built-in table.
std::string key_list_text(KeyListFormat format);
// The table as `map` makes it, as --list-keys prints it: with the value each
// press sends (`press_value` where the map gives the key none, "127" or
// "position") in a column of the text format.
std::string key_list_text(KeyListFormat format, const PanelMap& map, const std::string& press_value);
