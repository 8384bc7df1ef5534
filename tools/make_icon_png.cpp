// Writes the program icon (make_program_icon) as a square RGB PNG for the
// desktop installation, scaled nearest-neighbour to the size asked for, so
// every hicolor size shows the same grid without smoothing. Build-time host
// tool: zorve-make-icon-png [--size N] OUTPUT.png
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/icon.h"
#include "tool_args.h"

namespace {

const char* const ABOUT =
    "Writes the program icon as an N x N PNG (default 32), each pixel taken from the\n"
    "nearest pixel of the 32 x 32 icon.\n";

const std::vector<OptionSpec> OPTIONS = {
    {"--help", "-h", nullptr, "print this text and exit"},
    {"--size", nullptr, "N", "width and height in pixels, 16 to 512"},
};

}  // namespace

int main(int argc, char** argv) {
    ParsedArgs args;
    if (const int status = tool_command_line("zorve-make-icon-png", "OUTPUT.png", ABOUT, argc, argv, OPTIONS, 1, args);
        status >= 0)
        return status;
    const auto wrong = [](const std::string& what) {
        std::fprintf(stderr, "zorve-make-icon-png: %s (usage: zorve-make-icon-png %s OUTPUT.png)\n", what.c_str(),
                     option_synopsis(OPTIONS).c_str());
        return EXIT_USAGE;
    };
    int size = ICON_SIZE;
    std::string output;
    for (const ParsedOption& item : args.items) {
        if (item.option < 0) {
            output = item.value;
        } else if ((size = number_in_range(item.value, 16, 512)) == 0) {
            return wrong("--size: '" + item.value + "' is not a whole number from 16 to 512");
        }
    }
    if (output.empty()) return wrong("no OUTPUT.png given");

    uint32_t pixels[ICON_SIZE * ICON_SIZE];
    make_program_icon(pixels);
    std::vector<png_byte> rgb(size_t(size) * size * 3);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const uint32_t p = pixels[(y * ICON_SIZE / size) * ICON_SIZE + x * ICON_SIZE / size];
            png_byte* out = &rgb[(size_t(y) * size + x) * 3];
            out[0] = png_byte(p >> 16);
            out[1] = png_byte(p >> 8);
            out[2] = png_byte(p);
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(size);
    image.height = png_uint_32(size);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, output.c_str(), 0, rgb.data(), size * 3, nullptr)) {
        std::fprintf(stderr, "zorve-make-icon-png: %s: %s\n", output.c_str(), image.message);
        return 1;
    }
    return 0;
}
