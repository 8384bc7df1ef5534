// The key table as users read it: every key's name, group, message, number
// and channel, as --list-keys prints it and the manual page and the user
// guide carry it (written into them at build time from the same table).
#pragma once
#include <string>

enum KeyListFormat {
    KEY_LIST_TEXT,      // aligned columns under a heading line
    KEY_LIST_MARKDOWN,  // a pipe table
    KEY_LIST_ROFF,      // a tbl table between .TS and .TE
};

// One line per key in dispatch order, after the heading; every key on
// `channel` (1-16), as the panel sends with --channel.
std::string key_list_text(KeyListFormat format, int channel = 1);
