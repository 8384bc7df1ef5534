#pragma once
#include <array>
#include <cstdint>

// 256 colours 0x00RRGGBB, indexed by ColorIndex.
extern const std::array<uint32_t, 256> Palette;
