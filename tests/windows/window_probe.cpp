// Test helper for the Windows end-to-end cases, run under Wine beside the program:
// finds the program's windows through USER and reports or acts on them.
//   window_probe main           the main window's outer rectangle, client size and the
//                               client origin on the screen, or exit 1
//   window_probe screen         the usable full-screen client area (SM_CX/CYFULLSCREEN)
//   window_probe count          number of top-level windows of the program's class
//   window_probe box            caption and texts of the second-start message box, or exit 1
//   window_probe dismiss-box    presses the box's OK button, or exit 1
//   window_probe close          asks the main window to close (WM_CLOSE), or exit 1
//   window_probe text W TEXT... each TEXT as a port switch draws a device name (device-default
//                               font, white, transparent, at the top-left of a W-pixel-wide
//                               strip of the panel's 0x444444): one line of RRGGBB values
//                               per row, and a line "-" after each TEXT
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND main_window() { return FindWindowA("PC_ZORVE", "ZORVE_BUTTON"); }

HWND box_window() { return FindWindowA("#32770", "PC_ZORVE"); }  // the dialog class of MessageBox

BOOL CALLBACK count_one(HWND hwnd, LPARAM counter) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (std::strcmp(cls, "PC_ZORVE") == 0) ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

// The strip is drawn by the same GDI the program uses, so a name on the panel
// must match it pixel for pixel, anti-aliasing included.
int print_text_strip(int width, const char* text) {
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, GetStockObject(DEVICE_DEFAULT_FONT));
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    const int height = tm.tmHeight;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // negative: row 0 is the top row
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || width <= 0 || height <= 0) return 1;
    SelectObject(dc, bitmap);
    auto* px = static_cast<uint32_t*>(bits);
    for (int i = 0; i < width * height; ++i) px[i] = 0x444444;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 0, 0, text, int(std::strlen(text)));
    GdiFlush();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) std::printf(x ? " %06X" : "%06X", unsigned(px[y * width + x] & 0xFFFFFF));
        std::printf("\n");
    }
    std::printf("-\n");
    DeleteDC(dc);
    DeleteObject(bitmap);
    return 0;
}

BOOL CALLBACK print_child(HWND hwnd, LPARAM) {
    char cls[64] = {}, text[256] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    std::printf("child %s \"%s\"%s\n", cls, text, IsWindowVisible(hwnd) ? "" : " hidden");
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "text") == 0) {
        for (int i = 3; i < argc; ++i)
            if (print_text_strip(std::atoi(argv[2]), argv[i]) != 0) return 1;
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_probe main|screen|count|box|dismiss-box|close|text W TEXT...\n");
        return 2;
    }
    const char* cmd = argv[1];
    if (std::strcmp(cmd, "main") == 0) {
        HWND w = main_window();
        if (!w) return 1;
        RECT outer, client;
        GetWindowRect(w, &outer);
        GetClientRect(w, &client);
        POINT origin = {0, 0};
        ClientToScreen(w, &origin);
        std::printf("outer %ld %ld %ld %ld client %ld %ld origin %ld %ld visible %d topmost %d\n", outer.left,
                    outer.top, outer.right - outer.left, outer.bottom - outer.top, client.right, client.bottom,
                    origin.x, origin.y, IsWindowVisible(w) ? 1 : 0,
                    (GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
        return 0;
    }
    if (std::strcmp(cmd, "screen") == 0) {
        std::printf("%d %d\n", GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
        return 0;
    }
    if (std::strcmp(cmd, "count") == 0) {
        int n = 0;
        EnumWindows(count_one, reinterpret_cast<LPARAM>(&n));
        std::printf("%d\n", n);
        return 0;
    }
    if (std::strcmp(cmd, "box") == 0) {
        HWND b = box_window();
        if (!b) return 1;
        char title[256] = {};
        GetWindowTextA(b, title, sizeof title);
        std::printf("title \"%s\" visible %d\n", title, IsWindowVisible(b) ? 1 : 0);
        EnumChildWindows(b, print_child, 0);
        return 0;
    }
    if (std::strcmp(cmd, "dismiss-box") == 0) {
        HWND b = box_window();
        if (!b) return 1;
        return PostMessageA(b, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) ? 0 : 1;
    }
    if (std::strcmp(cmd, "close") == 0) {
        HWND w = main_window();
        if (!w) return 1;
        return PostMessageA(w, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    std::fprintf(stderr, "window_probe: unknown command %s\n", cmd);
    return 2;
}
