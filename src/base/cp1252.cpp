#include "base/cp1252.h"

namespace {

// Code points of bytes 0x80..0x9F.
// clang-format off
constexpr uint16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
// clang-format on

}  // namespace

uint32_t cp1252_to_unicode(unsigned char c) { return (c >= 0x80 && c < 0xA0) ? CP1252_HIGH[c - 0x80] : c; }

char unicode_to_cp1252(uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return char(code);
    for (int i = 0; i < 32; ++i)
        if (CP1252_HIGH[i] == code) return char(0x80 + i);
    return '?';
}

std::string cp1252_to_utf8(const char* text) {
    std::string out;
    for (const unsigned char* s = reinterpret_cast<const unsigned char*>(text); *s; ++s) {
        const uint32_t code = cp1252_to_unicode(*s);
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
