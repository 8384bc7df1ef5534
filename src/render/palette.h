#pragma once
#include <cstdint>

// 256 colours 0x00RRGGBB, indexed by ColorIndex.
extern const uint32_t Palette[256];
