#include "midi/device_name.h"

#include <cstdint>
#include <cstring>

#include "base/cp1252.h"
#include "midi/device_table.h"

namespace {

constexpr uint32_t MALFORMED = 0xFFFFFFFF;

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes the sequence at s (zero-terminated) into `code`; returns the bytes
// it took. A malformed sequence (stray continuation byte, missing
// continuation, overlong form, surrogate, beyond U+10FFFF) takes one byte and
// gives MALFORMED, so the bytes after it are read afresh.
size_t decode(const unsigned char* s, uint32_t& code) {
    const unsigned char lead = s[0];
    size_t length;
    uint32_t min;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        code = MALFORMED;
        return 1;
    }
    for (size_t i = 1; i < length; ++i) {
        if (!continuation(s[i])) {  // also stops at the terminating zero
            code = MALFORMED;
            return 1;
        }
        code = code << 6 | (s[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        code = MALFORMED;
        return 1;
    }
    return length;
}

}  // namespace

size_t utf8_cut(const char* utf8, size_t limit) {
    const size_t n = std::strlen(utf8);
    if (n <= limit) return n;
    size_t cut = limit;
    while (cut > 0 && continuation(static_cast<unsigned char>(utf8[cut]))) --cut;
    return cut;
}

void utf8_name_to_cp1252(const char* utf8, char (&name)[MIDI_NAME_FIELD]) {
    static_assert(MIDI_NAME_COPY < int(MIDI_NAME_FIELD));
    std::memset(name, 0, sizeof name);
    // The cut comes first, so the name kept is a prefix of the platform's
    // name; a sequence the cut leaves incomplete was already dropped whole.
    char kept[MIDI_NAME_COPY + 1] = {};
    std::memcpy(kept, utf8, utf8_cut(utf8, MIDI_NAME_COPY));
    const unsigned char* s = reinterpret_cast<const unsigned char*>(kept);
    size_t out = 0;
    while (*s) {
        uint32_t code;
        s += decode(s, code);
        name[out++] = code == MALFORMED ? '?' : unicode_to_cp1252(code);
    }
}
