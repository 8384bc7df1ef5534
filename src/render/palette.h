#pragma once
#include <array>
#include <cstdint>

// A Palette entry's number. Drawing calls take it as a signed int and use
// only its low 8 bits, so -9 is 247.
using ColorIndex = int;

// 256 colours 0x00RRGGBB, indexed by ColorIndex.
extern const std::array<uint32_t, 256> Palette;
