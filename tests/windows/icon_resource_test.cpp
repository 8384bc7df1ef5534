// The icon resource "IDI_ICON1" linked into this executable, as the window
// class loads it: one 32 x 32 image, 24-bit, opaque, pixel for pixel the
// program icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/icon.h"

namespace {

HMODULE self() { return GetModuleHandleA(nullptr); }

TEST(IconResource, HoldsOne32By32TwentyFourBitImage) {
    HRSRC group = FindResourceA(self(), "IDI_ICON1", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(self(), group)));
    ASSERT_NE(dir, nullptr);
    // Group header: reserved 0, type 1, count; then 14-byte entries.
    const auto word = [&](int at) { return unsigned(dir[at] | dir[at + 1] << 8); };
    EXPECT_EQ(word(2), 1u);
    ASSERT_EQ(word(4), 1u) << "exactly one image";
    EXPECT_EQ(dir[6], 32);
    EXPECT_EQ(dir[7], 32);
    EXPECT_EQ(word(6 + 6), 24u) << "bits per pixel";

    const int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, 32, 32, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0);
    HRSRC image = FindResourceA(self(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_NE(image, nullptr);
    const auto* bih = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(self(), image)));
    ASSERT_NE(bih, nullptr);
    EXPECT_EQ(bih->biSize, 40u);
    EXPECT_EQ(bih->biWidth, 32);
    EXPECT_EQ(bih->biHeight, 64) << "colour rows and mask rows";
    EXPECT_EQ(bih->biBitCount, 24);
    EXPECT_EQ(bih->biCompression, DWORD(BI_RGB));
    EXPECT_EQ(SizeofResource(self(), image), 40u + 32 * 96 + 32 * 4);
}

// Reads an icon's colour and mask back through GDI, top row first, as
// 0x00RRGGBB and as 0 (opaque) / 1 (transparent).
void read_icon(HICON icon, std::vector<uint32_t>& color, std::vector<uint32_t>& mask) {
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    ASSERT_TRUE(info.fIcon);
    ASSERT_NE(info.hbmColor, nullptr) << "a colour icon, not monochrome";
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = 32;
    bi.bmiHeader.biHeight = -32;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    color.assign(32 * 32, 0xDEADBEEF);
    mask.assign(32 * 32, 0xDEADBEEF);
    EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, 32, color.data(), &bi, DIB_RGB_COLORS), 32);
    EXPECT_EQ(GetDIBits(dc, info.hbmMask, 0, 32, mask.data(), &bi, DIB_RGB_COLORS), 32);
    for (uint32_t& c : color) c &= 0xFFFFFF;
    for (uint32_t& m : mask) m = (m & 0xFFFFFF) ? 1 : 0;
    DeleteDC(dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

void expect_program_icon(HICON icon) {
    uint32_t want[ICON_SIZE * ICON_SIZE];
    make_program_icon(want);
    std::vector<uint32_t> color, mask;
    read_icon(icon, color, mask);
    int wrong = 0, clear = 0;
    for (int i = 0; i < 32 * 32; ++i) {
        if (color[i] != want[i] && wrong++ < 5)
            ADD_FAILURE() << "pixel (" << i % 32 << ", " << i / 32 << ") " << std::hex << color[i] << " want "
                          << want[i];
        clear += mask[i] != 0;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(clear, 0) << "every pixel opaque";
}

TEST(IconResource, LoadIconGivesTheProgramIconPixels) {
    HICON icon = LoadIconA(self(), "IDI_ICON1");
    ASSERT_NE(icon, nullptr);
    expect_program_icon(icon);
}

TEST(IconResource, SpotPixelsOfTheGrid) {
    HICON icon = static_cast<HICON>(LoadImageA(self(), "IDI_ICON1", IMAGE_ICON, 32, 32, 0));
    ASSERT_NE(icon, nullptr);
    std::vector<uint32_t> color, mask;
    read_icon(icon, color, mask);
    const auto px = [&](int x, int y) { return color[y * 32 + x]; };
    EXPECT_EQ(px(0, 0), 0xFFFF80u);
    EXPECT_EQ(px(2, 2), 0x408080u);    // first square's top-left
    EXPECT_EQ(px(7, 7), 0x408080u);    // its bottom-right
    EXPECT_EQ(px(8, 8), 0xFFFF80u);    // the gap
    EXPECT_EQ(px(9, 2), 0x408080u);    // second square, 7 px on
    EXPECT_EQ(px(28, 28), 0x408080u);  // last square's bottom-right
    EXPECT_EQ(px(29, 29), 0xFFFF80u);
    EXPECT_EQ(px(31, 31), 0xFFFF80u);
    DestroyIcon(icon);
}

}  // namespace
