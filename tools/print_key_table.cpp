// Prints the program's key table as text, one line per key in dispatch order,
// so scripts that click every key (bench/soak.py) read the table the program
// was built with instead of its source. Developer tool, not part of the
// program; needs only the core. Usage: zorve-print-key-table
#include <cstdio>

#include "panel/key_table.h"
#include "tool_args.h"

namespace {

const char* const ABOUT =
    "Prints one line per panel key, in dispatch order:\n"
    "  INDEX X Y W H STATUS NUMBER LABEL\n"
    "X Y W H: the hit rectangle in panel pixels; STATUS in hex (0x90 note, 0xB0 controller);\n"
    "LABEL: the rest of the line, both lines of a two-line key joined by a space; a key\n"
    "drawn with a glyph shows it in brackets ([left arrow], [minus bar]).\n";

const std::vector<OptionSpec> OPTIONS = {{"--help", "-h", nullptr, "print this text and exit"}};

const char* arrow_name(ArrowDir dir) {
    switch (dir) {
        case ARROW_LEFT: return "[left arrow]";
        case ARROW_RIGHT: return "[right arrow]";
        case ARROW_UP: return "[up arrow]";
        case ARROW_DOWN: return "[down arrow]";
        case ARROW_NONE: break;
    }
    return "[arrow]";
}

void print_label(const PanelKey& key) {
    switch (key.style) {
        case STYLE_LABEL: std::fputs(key.label[0], stdout); break;
        case STYLE_TWO_LINE: std::printf("%s %s", key.label[0], key.label[1]); break;
        case STYLE_ARROW: std::fputs(arrow_name(key.arrow), stdout); break;
        case STYLE_BAR: std::fputs("[minus bar]", stdout); break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    ParsedArgs args;
    if (const int status = tool_command_line("zorve-print-key-table", "", ABOUT, argc, argv, OPTIONS, 0, args);
        status >= 0)
        return status;
    for (int k = 0; k < KEY_COUNT; ++k) {
        const PanelKey& key = KeyTable[k];
        std::printf("%d %d %d %d %d 0x%02X %d ", k, key.rect.x, key.rect.y, key.rect.w, key.rect.h, key.status,
                    key.number);
        print_label(key);
        std::putchar('\n');
    }
    // A closed pipe or a full disk must not pass for a complete table.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("zorve-print-key-table: writing the table");
        return 1;
    }
    return 0;
}
