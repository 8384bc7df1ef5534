// Renders the front panel through the real FreeType text backend into PNG
// files: the start-up frame, and one frame per face scheme with one key of
// that scheme held down. Developer tool, not part of the program; MIDI and
// window services are the test doubles. Usage: zorve-render-panel [--help] [DIR]
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "panel/events.h"
#include "panel/key_table.h"
#include "panel/panel.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "tool_args.h"

#ifndef ZORVE_RENDER_DIR
#define ZORVE_RENDER_DIR "."
#endif

namespace {

// Output devices as a Linux machine with the ALSA through port shows them;
// device 0 has no switch, devices 1..3 label the three.
const char* const DEVICE_NAMES[] = {"Midi Through Port-0", "Midi Through Port-1", "Midi Through Port-2",
                                    "Midi Through Port-3"};

const char* const SCHEME_NAMES[] = {"standard", "transport", "record", "soft", "keypad"};

const char* const ABOUT =
    "Draws the front panel through the program's own drawing code and fonts into\n"
    "PNG files in DIR (default " ZORVE_RENDER_DIR
    "): panel-startup.png, and\n"
    "panel-pressed-SCHEME.png for each key colour scheme with one such key held.\n";

const std::vector<OptionSpec> OPTIONS = {{"--help", "-h", nullptr, "print this text and exit"}};

// The frame buffer as an 8-bit RGB PNG.
bool write_png(const std::filesystem::path& file, const uint32_t* pixels) {
    std::vector<png_byte> rgb(size_t(FB_WIDTH) * FB_HEIGHT * 3);
    for (size_t i = 0; i < size_t(FB_WIDTH) * FB_HEIGHT; ++i) {
        rgb[i * 3 + 0] = png_byte(pixels[i] >> 16);
        rgb[i * 3 + 1] = png_byte(pixels[i] >> 8);
        rgb[i * 3 + 2] = png_byte(pixels[i]);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = FB_WIDTH;
    image.height = FB_HEIGHT;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, file.c_str(), 0, rgb.data(), FB_WIDTH * 3, nullptr)) {
        std::fprintf(stderr, "zorve-render-panel: %s: %s\n", file.c_str(), image.message);
        return false;
    }
    std::printf("%s\n", file.c_str());
    return true;
}

// The first key of a scheme that carries a label, so the pressed label
// colour shows too.
int labelled_key_of(FaceScheme scheme) {
    for (int k = 0; k < KEY_COUNT; ++k) {
        const PanelKey& key = KeyTable[k];
        if (key.scheme == scheme && (key.style == STYLE_LABEL || key.style == STYLE_TWO_LINE)) return k;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    ParsedArgs args;
    if (const int status = tool_command_line("zorve-render-panel", "[DIR]", ABOUT, argc, argv, OPTIONS, 1, args);
        status >= 0)
        return status;
    const std::filesystem::path dir = args.items.empty() ? ZORVE_RENDER_DIR : args.items[0].value;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "zorve-render-panel: %s: %s\n", dir.c_str(), error.message().c_str());
        return 1;
    }

    create_fonts(g_render);
    if (!create_frame_buffer(g_render, nullptr)) {
        std::fprintf(stderr, "zorve-render-panel: no frame buffer\n");
        return 1;
    }
    for (int16_t& on : g_panel.port_enable) on = 1;
    static DeviceTable devices;
    g_panel.devices = &devices;
    devices.output_count = int(sizeof DEVICE_NAMES / sizeof DEVICE_NAMES[0]);
    for (int d = 0; d < devices.output_count; ++d)
        std::snprintf(devices.output_name[d], NAME_SLOT, "%s", DEVICE_NAMES[d]);

    bool ok = true;
    dispatch(EV_REDRAW, 0);
    ok = write_png(dir / "panel-startup.png", g_render.pixels) && ok;

    for (int s = FACE_STANDARD; s <= FACE_KEYPAD; ++s) {
        const int key = labelled_key_of(FaceScheme(s));
        if (key < 0) continue;
        g_panel.pressed[key] = 1;
        dispatch(EV_REDRAW, 0);
        g_panel.pressed[key] = 0;
        ok = write_png(dir / ("panel-pressed-" + std::string(SCHEME_NAMES[s]) + ".png"), g_render.pixels) && ok;
    }

    destroy_frame_buffer(g_render);
    release_fonts(g_render);
    return ok ? 0 : 1;
}
