// Device names as the panel draws them: the platform's UTF-8 name cut to the
// bytes the device table keeps, in the 8-bit character set of the text layer
// (Windows-1252). Portable; used by the Linux MIDI backends.
#pragma once
#include <cstddef>

#include "midi/midi_ports.h"

// Length of the longest prefix of `utf8` (zero-terminated) of at most `limit`
// bytes that does not end inside a UTF-8 sequence.
size_t utf8_cut(const char* utf8, size_t limit);

// Writes the first MIDI_NAME_COPY bytes of `utf8`, cut at a character
// boundary, converted to Windows-1252: each character the set has becomes its
// byte, any other character and each byte of a malformed sequence becomes
// '?'. The rest of `name` is zero-filled.
void utf8_name_to_cp1252(const char* utf8, char (&name)[MIDI_NAME_FIELD]);
