#include "midi/device_name.h"

#include <cstdint>
#include <cstring>

#include "midi/device_table.h"

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F. The five bytes the set leaves
// unassigned stand for the C1 controls of the same value, as on Windows, so
// those round-trip and the other C1 controls do not.
// clang-format off
constexpr uint16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
// clang-format on

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

char to_cp1252(uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return char(code);
    for (int i = 0; i < 32; ++i)
        if (CP1252_HIGH[i] == code) return char(0x80 + i);
    return '?';
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
        name[out++] = code == MALFORMED ? '?' : to_cp1252(code);
    }
}

std::string cp1252_to_utf8(const char* name) {
    std::string out;
    for (const unsigned char* s = reinterpret_cast<const unsigned char*>(name); *s; ++s) {
        const uint32_t code = *s >= 0x80 && *s < 0xA0 ? CP1252_HIGH[*s - 0x80] : *s;
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}
