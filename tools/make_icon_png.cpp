// Writes the program icon (make_program_icon) as a 32 x 32 RGB PNG for the
// desktop installation. Build-time host tool: make_icon_png OUTPUT.PNG
#include <png.h>

#include <cstdio>

#include "app/icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    uint32_t pixels[ICON_SIZE * ICON_SIZE];
    make_program_icon(pixels);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = ICON_SIZE;
    image.height = ICON_SIZE;
    image.format = PNG_FORMAT_RGB;
    png_byte rgb[ICON_SIZE * ICON_SIZE * 3];
    for (int i = 0; i < ICON_SIZE * ICON_SIZE; ++i) {
        rgb[i * 3 + 0] = png_byte(pixels[i] >> 16);
        rgb[i * 3 + 1] = png_byte(pixels[i] >> 8);
        rgb[i * 3 + 2] = png_byte(pixels[i]);
    }
    if (!png_image_write_to_file(&image, argv[1], 0, rgb, ICON_SIZE * 3, nullptr)) {
        std::fprintf(stderr, "make_icon_png: %s: %s\n", argv[1], image.message);
        return 1;
    }
    return 0;
}
