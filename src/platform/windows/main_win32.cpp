// Window-system contract (app/platform.h) and the program entry on Win32: USER
// for the window, its timer, capture and cursor, WinMM for the 1 ms clock, a
// named mutex as the single-instance marker. One main window per process,
// per-monitor DPI-aware (the manifest): with a scale, or resized, the panel
// is stretched nearest-neighbour to its view (app/view.h) and the pointer
// mapped back.
// Steps only Windows has (the window class, the arrow cursor, accepting drops,
// the timer resolution) stay inside this layer's own functions, at the points
// of start-up and tear-down where they have always run.
//
// Contents: entry services, window procedure, window services, clock.
#include <windows.h>
// After windows.h, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include <cstdlib>

#include "app/app_state.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/shell.h"
#include "app/view.h"
#include "base/program.h"
#include "midi/input_queue.h"
#include "platform/windows/input_win32.h"
#include "platform/windows/ports_winmm.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"

namespace {

// One name for three things, as other programs may look each up by it: the
// main window's class, the menu resource name it asks for, and the
// running-copy marker.
constexpr const char* WINDOW_CLASS = "PC_ZORVE";
constexpr const char* MENU_NAME = "PC_ZORVE";
constexpr const char* INSTANCE_MUTEX_NAME = "PC_ZORVE";

// The Win32 layer's own state, window thread only (the clock's event id is
// written before the clock starts and after it stops). The scale is the
// shell's (g_app.scale).
struct Win32Layer {
    HINSTANCE instance = nullptr;
    int show_command = 0;
    // First copy: the marker, owned until the process ends and never closed.
    // Second copy: the probe handle, closed after the message box.
    HANDLE instance_mutex = nullptr;
    HWND window = nullptr;  // the main window, from its WM_CREATE on
    HCURSOR arrow = nullptr;
    UINT clock_event = 0;                  // 0 while no multimedia timer runs
    bool timer_resolution_raised = false;  // timeEndPeriod must pair with timeBeginPeriod
    int outer_w = 0, outer_h = 0;          // the outer window size at scale 1, in panel pixels
    bool on_top = false;                   // --on-top: WS_EX_TOPMOST
};
Win32Layer g_win32;
constexpr UINT_PTR WINDOW_TIMER_ID = 2;  // the main window's one timer

// WinMM notifications: MIDI input data (dropped unless it lights keys), wave
// output (swallowed).
constexpr UINT MSG_MIDI_IN_DATA = MM_MIM_DATA;    // 963
constexpr UINT MSG_WAVE_OUT_FIRST = MM_WOM_OPEN;  // 955
constexpr UINT MSG_WAVE_OUT_LAST = MM_WOM_DONE;   // 957

HWND as_hwnd(void* window) { return static_cast<HWND>(window); }

// The panel's place in the client area as it is now sized. Never below the
// scale: the outer window is the scaled panel's size, frame included, so
// the client area starts a little smaller and shows the panel's top-left
// part at the whole factor, as it always has; enlarged, the panel grows.
View client_view(HWND hwnd) {
    RECT client = {};
    GetClientRect(hwnd, &client);
    return view_for_window(client.right, client.bottom, g_app.scale);
}

// Copies the whole frame buffer whatever region is invalid, at its place in
// the client area, the rest black; the platform clips it to the client area.
// COLORONCOLOR stretches by repeating pixels: no smoothing.
void paint_frame(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HDC frame = static_cast<HDC>(g_render.surface);
    const View v = client_view(hwnd);
    if (frame && v.w == FB_WIDTH && v.h == FB_HEIGHT) {
        BitBlt(dc, v.x, v.y, FB_WIDTH, FB_HEIGHT, frame, 0, 0, SRCCOPY);
    } else if (frame) {
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, v.x, v.y, v.w, v.h, frame, 0, 0, FB_WIDTH, FB_HEIGHT, SRCCOPY);
    }
    ExcludeClipRect(dc, v.x, v.y, v.x + v.w, v.y + v.h);
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EndPaint(hwnd, &ps);
}

// The factor --scale asks for on the monitor of `dpi` (auto: the largest
// that fits the usable area).
StartScale scale_for_screen(int dpi) {
    return start_scale(g_app.scale_auto ? SCALE_AUTO : g_app.scale, dpi, GetSystemMetrics(SM_CXFULLSCREEN),
                       GetSystemMetrics(SM_CYFULLSCREEN));
}

// The DPI of the monitor `hwnd` is on (GetDpiForWindow, Windows 10 1607 on);
// without a window or that function, the system's.
int window_dpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (hwnd && get_dpi) return int(get_dpi(hwnd));
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// --scale auto: the window takes the scale of `dpi`, its outer size that many
// times the unscaled one, at `left`, `top`.
void follow_dpi(HWND hwnd, int dpi, int left, int top) {
    const int scale = scale_for_screen(dpi).scale;
    if (!g_app.scale_auto || scale == g_app.scale) return;
    g_app.scale = scale;
    SetWindowPos(hwnd, nullptr, left, top, g_win32.outer_w * scale, g_win32.outer_h * scale,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd, nullptr, FALSE);
}

// The whole parameter as a signed 32-bit value: its sign is the wheel delta's.
int32_t wheel_word(WPARAM wparam) { return static_cast<int32_t>(static_cast<uint32_t>(wparam)); }

// Client pixels to panel pixels through the view; a position left of or
// above the panel stays outside it.
uint32_t pointer_word(HWND hwnd, LPARAM lparam) {
    const Point p =
        view_to_panel(client_view(hwnd), static_cast<int16_t>(LOWORD(lparam)), static_cast<int16_t>(HIWORD(lparam)));
    return pack_pointer(p.x, p.y);
}

// KeyCode shares the virtual-key numbering; codes beyond a byte are no key.
KeyCode key_code(WPARAM vk) { return vk <= 0xFF ? static_cast<KeyCode>(vk) : KEY_NONE; }

// A touch or pen as a WM_POINTER message: the fingers of the panel. Not a
// touch: false, and the default procedure has the message.
bool touch_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    const TouchInput in = read_pointer_message(msg, wparam, lparam, system_pointer_api());
    if (in.step == TOUCH_NONE) return false;
    POINT at{in.x, in.y};
    ScreenToClient(hwnd, &at);
    const uint32_t position = pointer_word(hwnd, MAKELPARAM(at.x, at.y));
    switch (in.step) {
        case TOUCH_NONE: break;
        case TOUCH_DOWN: shell_touch_down(in.id, position, in.pressure); break;
        case TOUCH_MOVE: shell_touch_move(in.id, position); break;
        case TOUCH_UP: shell_touch_up(in.id); break;
        case TOUCH_CANCEL: shell_release_all(); break;
    }
    return true;
}

// F10 comes as a system key (it opens the menu); with --keys it plays, unless
// Alt is held (bit 29), whose combinations stay the system's.
bool plays_system_key(LPARAM lparam) {
    return g_app.play_keys && !(lparam & (LPARAM(1) << 29)) && mapped_key(key_position_of(lparam)) >= 0;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    // Where the pointer messages bring touches, the mouse messages Windows
    // makes from the same touches would press keys a second time.
    if (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST && system_pointer_api().get_pointer_type &&
        promoted_from_touch(GetMessageExtraInfo()))
        return 0;
    if (touch_message(hwnd, msg, wparam, lparam)) return 0;
    switch (msg) {
        case WM_CREATE:
            g_win32.window = hwnd;
            winmm_notify_window(hwnd);
            if (!shell_create(hwnd)) return -1;
            SetCursor(g_win32.arrow);
            return 0;
        case WM_DESTROY: shell_destroy(); return 0;
        case WM_PAINT: paint_frame(hwnd); return 0;
        case WM_ERASEBKGND:
        case WM_SETFOCUS: return 0;
        case WM_SETCURSOR: shell_set_cursor(); break;
        case WM_TIMER: shell_timer(); return 0;
        case WM_MOUSEMOVE: shell_mouse_move(pointer_word(hwnd, lparam)); return 0;
        case WM_LBUTTONDOWN: shell_left_down(pointer_word(hwnd, lparam)); return 0;
        case WM_LBUTTONUP: shell_left_up(); return 0;
        case WM_RBUTTONDOWN: shell_right_down(pointer_word(hwnd, lparam)); return 0;
        case WM_RBUTTONUP: shell_right_up(); return 0;
        case WM_MBUTTONDOWN: shell_middle_down(); return 0;
        case WM_MBUTTONUP: shell_middle_up(); return 0;
        case WM_MOUSEWHEEL: shell_wheel(wheel_word(wparam)); return 0;
        case WM_KEYDOWN:
            shell_key_pressed(key_code(wparam), key_position_of(lparam), key_repeated(lparam),
                              GetKeyState(VK_SHIFT) < 0);
            return 0;
        case WM_KEYUP: shell_key_released(key_position_of(lparam)); return 0;
        case WM_SYSKEYDOWN:
            if (!plays_system_key(lparam)) break;
            shell_key_pressed(KEY_NONE, key_position_of(lparam), key_repeated(lparam), GetKeyState(VK_SHIFT) < 0);
            return 0;
        case WM_SYSKEYUP:
            if (!plays_system_key(lparam)) break;
            shell_key_released(key_position_of(lparam));
            return 0;
        // No release reaches a window that is minimised, hidden or without
        // the focus, nor a process the session's end stops.
        case WM_SIZE:
            if (wparam == SIZE_MINIMIZED) shell_release_all();
            break;
        case WM_SHOWWINDOW:
            if (!wparam) shell_release_all();
            break;
        case WM_ENDSESSION:
            if (wparam) shell_release_all();
            return 0;
        case WM_KILLFOCUS: shell_release_all(); break;
        case WM_DROPFILES:
            // Accepted and ignored; the drop's memory is still ours to free.
            DragFinish(reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_DPICHANGED:
            // The window moved to a monitor of another DPI: the suggested
            // rectangle's corner, the size of the new scale.
            if (!g_app.scale_auto) break;
            follow_dpi(hwnd, HIWORD(wparam), reinterpret_cast<const RECT*>(lparam)->left,
                       reinterpret_cast<const RECT*>(lparam)->top);
            return 0;
        case WM_CHAR:
        case WM_MOUSELEAVE:
        case WM_USER: return 0;
        // Arrives on this thread already (CALLBACK_WINDOW): through the ring
        // only so that both platforms light keys by one path.
        case MSG_MIDI_IN_DATA:
            input_queue_push(static_cast<uint32_t>(lparam));
            shell_midi_input();
            return 0;
        case WM_CAPTURECHANGED: shell_capture_lost(); break;
        default:
            if (msg >= MSG_WAVE_OUT_FIRST && msg <= MSG_WAVE_OUT_LAST) return 0;
            break;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Runs on WinMM's timer thread, about every millisecond.
void CALLBACK clock_event(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) { clock_callback(); }

}  // namespace

// ---- Entry services ---------------------------------------------------------

bool platform_other_instance_running() {
    g_win32.instance_mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, INSTANCE_MUTEX_NAME);
    if (g_win32.instance_mutex) return true;
    g_win32.instance_mutex = CreateMutexA(nullptr, TRUE, INSTANCE_MUTEX_NAME);
    // Two copies started at once may both miss the open; the later creator
    // then gets the existing mutex, unowned, and counts as the second copy.
    return g_win32.instance_mutex && GetLastError() == ERROR_ALREADY_EXISTS;
}

void platform_release_instance_probe() {
    if (g_win32.instance_mutex) CloseHandle(g_win32.instance_mutex);
    g_win32.instance_mutex = nullptr;
}

void platform_message_box(const char* caption, const char* text) { MessageBoxA(nullptr, text, caption, MB_OK); }

// In panel pixels: with a scale the window is that many times larger. With
// --scale auto the scale is first the system's DPI's (the monitor a window
// at (0, 0) opens on), until the window knows its own.
void platform_screen_size(int* width, int* height) {
    const StartScale start = scale_for_screen(window_dpi(nullptr));
    if (!start.fits && !g_app.scale_auto)
        report_error("%s", scale_too_large_text(start.scale, GetSystemMetrics(SM_CXFULLSCREEN),
                                                GetSystemMetrics(SM_CYFULLSCREEN))
                               .c_str());
    g_app.scale = start.scale;
    *width = GetSystemMetrics(SM_CXFULLSCREEN) / g_app.scale;
    *height = GetSystemMetrics(SM_CYFULLSCREEN) / g_app.scale;
}

namespace {

bool register_window_class() {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = g_win32.instance;
    wc.hIcon = LoadIconA(g_win32.instance, "IDI_ICON1");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    // No menu resource of this name exists, so the window has no menu bar.
    wc.lpszMenuName = MENU_NAME;
    wc.lpszClassName = WINDOW_CLASS;
    wc.hIconSm = LoadIconA(nullptr, IDI_WINLOGO);
    return RegisterClassExA(&wc) != 0;
}

}  // namespace

// The outer size is in panel pixels: with a scale the window is that many
// times larger, frame and caption included, as they grow with the DPI too.
void* platform_create_window(int width, int height, bool* refused) {
    *refused = !register_window_class();
    if (*refused) return nullptr;
    g_win32.outer_w = width;
    g_win32.outer_h = height;
    HWND hwnd = CreateWindowExA(g_win32.on_top ? WS_EX_TOPMOST : 0, WINDOW_CLASS, APP_TITLE, WS_OVERLAPPEDWINDOW, 0, 0,
                                width * g_app.scale, height * g_app.scale, nullptr, nullptr, g_win32.instance, nullptr);
    if (hwnd) follow_dpi(hwnd, window_dpi(hwnd), 0, 0);
    return hwnd;
}

void platform_show_window(void* window) {
    ShowWindow(as_hwnd(window), g_win32.show_command);
    UpdateWindow(as_hwnd(window));
}

int platform_message_loop() {
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void platform_post_quit(int code) { PostQuitMessage(code); }

// ---- Window services --------------------------------------------------------

// Ignores the hint: the copy is one BitBlt, and the window may need
// repainting after being uncovered.
void platform_present(void* window, bool /*frame_changed*/) {
    InvalidateRect(as_hwnd(window), nullptr, TRUE);
    UpdateWindow(as_hwnd(window));
}

void platform_capture_mouse(void* window) { SetCapture(as_hwnd(window)); }

void platform_release_capture() { ReleaseCapture(); }

// No callback: the timer's messages reach WM_TIMER. Then the arrow is loaded
// that WM_CREATE sets once the shell's start-up is complete.
void platform_start_window_timer(void* window, int interval_ms) {
    SetTimer(as_hwnd(window), WINDOW_TIMER_ID, static_cast<UINT>(interval_ms), nullptr);
    g_win32.arrow = LoadCursorA(nullptr, IDC_ARROW);
}

void platform_stop_window_timer(void* window) { KillTimer(as_hwnd(window), WINDOW_TIMER_ID); }

// ---- Clock ------------------------------------------------------------------

uint32_t platform_time_ms() { return timeGetTime(); }

// The window accepts drops (WM_DROPFILES) from here on, and the timer
// resolution is raised to 1 ms before the clock starts; it falls back once
// the clock has stopped. TIME_KILL_SYNCHRONOUS: once timeKillEvent returns,
// no callback is running or will run, which is what lets tear-down free what
// the clock touches.
void platform_start_clock() {
    if (g_win32.window) DragAcceptFiles(g_win32.window, TRUE);
    g_win32.timer_resolution_raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    g_win32.clock_event = timeSetEvent(1, 1, clock_event, 0, TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
}

void platform_stop_clock() {
    if (g_win32.clock_event) timeKillEvent(g_win32.clock_event);
    g_win32.clock_event = 0;
    if (g_win32.timer_resolution_raised) timeEndPeriod(1);
    g_win32.timer_resolution_raised = false;
}

// ---- Entry ------------------------------------------------------------------

// The C runtime has already split the command line into __argc and __argv.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    g_win32.instance = instance;
    g_win32.show_command = show_command;
    ProgramOptions options;
    if (const int status = handle_command_line(__argc, __argv, OPTIONS_WINDOWS, options); status >= 0) return status;
    shell_set_scale(options.scale);
    g_win32.on_top = options.on_top;
    input_queue_enable(options.show_input);
    return run_program();
}
