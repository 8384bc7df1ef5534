// Compares the fill primitives and bevel_box, called with arbitrary
// arguments, pixel by pixel against a slow reference written straight from
// the clipping rules, and checks that nothing lands outside the buffer (the
// buffer sits between guard zones, and ASan watches the rest).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "render/frame_buffer.h"
#include "render/palette.h"
#include "render/primitives.h"
#include "render/render_context.h"

namespace {

using i64 = int64_t;
constexpr int W = FB_WIDTH, H = FB_HEIGHT, GUARD = 4096;
constexpr uint32_t GUARD_VALUE = 0xDEADBEEF, BACK = 0xA5A5A5A5;

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (--n, *p++) : 0; }
    // Mostly small values near the edges, sometimes anything at all.
    int32_t arg() {
        const uint8_t kind = byte();
        if (kind < 160) return int32_t(int16_t(byte() | byte() << 8)) % 1200;
        if (kind < 200) return int32_t(int8_t(byte()));
        int32_t v = 0;
        for (int i = 0; i < 4; ++i) v = int32_t(uint32_t(v) << 8 | byte());
        return v;
    }
};

struct Ref {
    std::vector<uint32_t> px = std::vector<uint32_t>(size_t(W) * H, BACK);
    void put(i64 x0, i64 x1, i64 y0, i64 y1, uint32_t v) {  // inclusive, already inside
        for (i64 y = y0; y <= y1; ++y)
            for (i64 x = x0; x <= x1; ++x) px[size_t(y * W + x)] = v;
    }
    // Origin left of or above the buffer: dropped; beyond right/bottom: pulled in.
    static bool origin(i64& x, i64& y) {
        if (x < 0 || y < 0) return false;
        x = std::min<i64>(x, W - 1);
        y = std::min<i64>(y, H - 1);
        return true;
    }
    // Columns (or rows) covered from origin o with signed extent e in a span of
    // `limit`: forward runs to the far edge, backward stops at 1.
    static bool span(i64 o, i64 e, i64 limit, i64& lo, i64& hi) {
        if (e > 0) {
            lo = o;
            hi = std::min(o + e, limit) - 1;
        } else {
            lo = std::max<i64>(o + e + 1, 1);
            hi = o;
        }
        return e != 0 && lo <= hi;
    }
    void fill(i64 x, i64 y, i64 w, i64 h, int c) {
        i64 x0, x1, y0, y1;
        if (origin(x, y) && span(x, w, W, x0, x1) && span(y, h, H, y0, y1)) put(x0, x1, y0, y1, Palette[c & 0xFF]);
    }
    void hband(i64 x, i64 y, i64 len, i64 th, int c) {
        if (len < 0 || th < 0) return;
        fill(x, y, len, th, c);
    }
    void vband(i64 x, i64 y, i64 len, i64 th, int c) {
        if (th <= 0) return;
        fill(x, y, th, len, c);
    }
    void bevel(int pressed, i64 x, i64 y, i64 w, i64 h, int face, int light, int dark) {
        w = std::max<i64>(w, 5);
        h = std::max<i64>(h, 5);
        hband(x + 1, y, w - 2, 1, 250);
        hband(x + 1, y + h - 1, w - 2, 1, 250);
        vband(x, y + 1, h - 2, 1, 250);
        vband(x + w - 1, y + 1, h - 2, 1, 250);
        fill(x + 3, y + 3, w - 6, h - 6, face);
        const int u = pressed ? dark : light, lo = pressed ? light : dark;
        hband(x + 1, y + 1, w - 2, 2, u);
        vband(x + 1, y + 1, h - 2, 2, u);
        vband(x + w - 3, y + 2, h - 4, 2, lo);
        hband(x + 2, y + h - 3, w - 3, 2, lo);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<uint32_t> memory(size_t(W) * H + 2 * GUARD);
    std::fill(memory.begin(), memory.begin() + GUARD, GUARD_VALUE);
    std::fill(memory.end() - GUARD, memory.end(), GUARD_VALUE);
    std::fill(memory.begin() + GUARD, memory.end() - GUARD, BACK);
    RenderContext rc;
    rc.pixels = memory.data() + GUARD;
    static Ref ref;  // a fresh 2 MB reference per input cost more than the calls
    std::fill(ref.px.begin(), ref.px.end(), BACK);
    Reader in{data, size};
    for (int calls = 0; in.n && calls < 8; ++calls) {
        const int op = in.byte() % 4;
        const int32_t a = in.arg(), b = in.arg(), c = in.arg(), d = in.arg();
        const int color = in.arg();
        switch (op) {
            case 0:
                fill_rect(rc, a, b, c, d, color);
                ref.fill(a, b, c, d, color);
                break;
            case 1:
                hline_band(rc, a, b, c, d, color);
                ref.hband(a, b, c, d, color);
                break;
            case 2:
                vline_band(rc, a, b, c, d, color);
                ref.vband(a, b, c, d, color);
                break;
            case 3: {
                const int pressed = in.byte() & 1, light = in.arg(), dark = in.arg();
                bevel_box(rc, pressed, a, b, c, d, color, light, dark);
                ref.bevel(pressed, a, b, c, d, color, light, dark);
                break;
            }
        }
    }
    for (int i = 0; i < GUARD; ++i)
        if (memory[size_t(i)] != GUARD_VALUE || memory[memory.size() - 1 - size_t(i)] != GUARD_VALUE) {
            std::fprintf(stderr, "write outside the frame buffer\n");
            std::abort();
        }
    if (!std::equal(ref.px.begin(), ref.px.end(), rc.pixels)) {
        for (size_t i = 0; i < ref.px.size(); ++i)
            if (ref.px[i] != rc.pixels[i]) {
                std::fprintf(stderr, "pixel (%zu, %zu): %08X, reference %08X\n", i % W, i / W, rc.pixels[i], ref.px[i]);
                break;
            }
        std::abort();
    }
    return 0;
}
