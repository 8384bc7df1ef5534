#include "render/palette.h"

#include <array>

namespace {

// 0-214: 6x6x6 cube, brightest first; 215-254: red, green, blue and grey ramps
// of ten levels each; 255: black. Entries 6, 7 and 8 are the panel's own
// colours and replace the cube's values there.
constexpr std::array<uint32_t, 256> make_palette() {
    constexpr uint32_t CUBE[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
    constexpr uint32_t RAMP[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    std::array<uint32_t, 256> p{};
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                const int i = 36 * r + 6 * g + b;
                if (i < 215) p[i] = CUBE[r] << 16 | CUBE[g] << 8 | CUBE[b];
            }
    for (int i = 0; i < 10; ++i) {
        const uint32_t v = RAMP[i];
        p[215 + i] = v << 16;
        p[225 + i] = v << 8;
        p[235 + i] = v;
        p[245 + i] = v << 16 | v << 8 | v;
    }
    p[255] = 0x000000;
    p[6] = 0x77736A;
    p[7] = 0xEEE7D4;
    p[8] = 0xFFCCFF;
    return p;
}

}  // namespace

constexpr std::array<uint32_t, 256> Palette = make_palette();
static_assert(Palette[0] == 0xFFFFFF && Palette[35] == 0xFF0000 && Palette[42] == 0xCCCCFF);
static_assert(Palette[190] == 0x00CC33 && Palette[214] == 0x000033 && Palette[9] == 0xFFCC66);
