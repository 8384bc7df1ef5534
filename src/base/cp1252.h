// Windows-1252, the 8-bit character set of the panel's text and of device
// names as the device table keeps them. Every layer may use it.
#pragma once
#include <cstdint>
#include <string>

// The character of byte `c`. The five bytes the set leaves unassigned stand
// for the C1 controls of the same value, as on Windows.
uint32_t cp1252_to_unicode(unsigned char c);

// The byte of character `code`, or '?' for a character the set lacks (the
// C1 controls other than those five included).
char unicode_to_cp1252(uint32_t code);

// Text in Windows-1252 (zero-terminated) as UTF-8. Every byte has a
// character, so nothing is lost.
std::string cp1252_to_utf8(const char* text);
