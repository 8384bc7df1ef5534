// Arbitrary bytes as a map file: the reader must take or refuse each without
// a crash or a hang, a refusal must be one line that says where ("FILE:LINE:
// COL: what"), and a map it takes must hold only what a map can hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/map_file.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    std::abort();
}

bool located(const std::string& error) {
    // "map.toml:" then a line and a column, both from 1.
    const std::string head = "map.toml:";
    if (error.rfind(head, 0) != 0) return false;
    size_t at = head.size(), line = 0, column = 0;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9') line = line * 10 + size_t(error[at++] - '0');
    if (at >= error.size() || error[at++] != ':') return false;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9') column = column * 10 + size_t(error[at++] - '0');
    return line >= 1 && column >= 1 && error.compare(at, 2, ": ") == 0 && error.size() > at + 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const MapLoad load = parse_map(std::string_view(reinterpret_cast<const char*>(data), size), "map.toml");
    if (!load.ok) {
        if (load.error.find('\n') != std::string::npos || !located(load.error)) fail("rejection", load.error);
        return 0;
    }
    for (int key = 0; key < KEY_COUNT; ++key) {
        const KeyMessage& m = load.map.sends[key];
        if (m.number > 127 || m.channel > 15 || m.value > 127 || m.bank > MAX_BANK || m.kind > SEND_PROGRAM ||
            (m.bank >= 0 && m.kind != SEND_PROGRAM))
            fail("message", std::to_string(key));
        const int pos = load.map.computer_key[key];
        if (pos != COMPUTER_KEY_DEFAULT && (pos < POS_NONE || pos >= POS_ESCAPE))
            fail("computer key", std::to_string(key));
        if (pos > POS_NONE)
            for (int other = 0; other < key; ++other)
                if (load.map.computer_key[other] == pos) fail("computer key twice", std::to_string(key));
    }
    return 0;
}
