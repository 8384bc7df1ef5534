// Build-time tool, compiled for the build machine: writes the program icon
// (from make_program_icon) as a .ico file holding one 32 x 32, 24-bit image
// with an all-clear mask, for the resource compiler.
// Usage: make_icon OUTPUT.ico
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/icon.h"

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

constexpr uint32_t COLOR_ROW = ICON_SIZE * 3;             // 96: already a multiple of 4
constexpr uint32_t MASK_ROW = (ICON_SIZE / 8 + 3) & ~3u;  // 1 bit per pixel, rows padded to 4 bytes
constexpr uint32_t HEADER = 40;
constexpr uint32_t IMAGE = HEADER + COLOR_ROW * ICON_SIZE + MASK_ROW * ICON_SIZE;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
        return 2;
    }
    uint32_t pixels[ICON_SIZE * ICON_SIZE];
    make_program_icon(pixels);

    std::vector<uint8_t> out;
    // Icon directory: reserved, type 1 (icon), one image.
    put16(out, 0);
    put16(out, 1);
    put16(out, 1);
    // Its entry: width, height, no palette, reserved, planes, bits, size, offset.
    out.push_back(ICON_SIZE);
    out.push_back(ICON_SIZE);
    out.push_back(0);
    out.push_back(0);
    put16(out, 1);
    put16(out, 24);
    put32(out, IMAGE);
    put32(out, 6 + 16);
    // The image: a bitmap header whose height counts the colour rows and the
    // mask rows together, then both, each bottom row first.
    put32(out, HEADER);
    put32(out, ICON_SIZE);
    put32(out, ICON_SIZE * 2);
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // BI_RGB
    put32(out, COLOR_ROW * ICON_SIZE + MASK_ROW * ICON_SIZE);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = ICON_SIZE - 1; y >= 0; --y) {
        for (int x = 0; x < ICON_SIZE; ++x) {
            const uint32_t p = pixels[y * ICON_SIZE + x];
            out.push_back(uint8_t(p));        // blue
            out.push_back(uint8_t(p >> 8));   // green
            out.push_back(uint8_t(p >> 16));  // red
        }
    }
    // Mask bits 0: every pixel opaque.
    out.insert(out.end(), MASK_ROW * ICON_SIZE, 0);

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0 || !ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
