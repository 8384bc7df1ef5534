// The Win32 layer's start-up and tear-down as Windows sees them: the calls
// the program makes, in order, from the single-instance check to the end of
// the message loop. Each call is recorded by replacing this executable's
// import slot for it, so the real functions still run.
#include <windows.h>
// After windows.h, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/shell.h"
#include "call_log.h"
#include "render/render_context.h"

// The import slots the linker made for this executable's calls.
extern "C" {
extern decltype(&OpenMutexA) __imp_OpenMutexA;
extern decltype(&CreateMutexA) __imp_CreateMutexA;
extern decltype(&RegisterClassExA) __imp_RegisterClassExA;
extern decltype(&CreateWindowExA) __imp_CreateWindowExA;
extern decltype(&CreateDIBSection) __imp_CreateDIBSection;
extern decltype(&SetTimer) __imp_SetTimer;
extern decltype(&KillTimer) __imp_KillTimer;
extern decltype(&LoadCursorA) __imp_LoadCursorA;
extern decltype(&SetCursor) __imp_SetCursor;
extern decltype(&DragAcceptFiles) __imp_DragAcceptFiles;
extern decltype(&midiInGetNumDevs) __imp_midiInGetNumDevs;
extern decltype(&midiOutGetNumDevs) __imp_midiOutGetNumDevs;
extern decltype(&timeBeginPeriod) __imp_timeBeginPeriod;
extern decltype(&timeEndPeriod) __imp_timeEndPeriod;
extern decltype(&timeSetEvent) __imp_timeSetEvent;
extern decltype(&timeKillEvent) __imp_timeKillEvent;
extern decltype(&ShowWindow) __imp_ShowWindow;
extern decltype(&PostQuitMessage) __imp_PostQuitMessage;
}

namespace {

std::vector<std::string> g_calls;

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void record(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append_call(g_calls, format, args);
    va_end(args);
}

// Puts `hook` in `slot`, keeping the real function in `real`.
template <typename F>
void replace(F& slot, F hook, F& real) {
    DWORD was = 0;
    ASSERT_TRUE(VirtualProtect(&slot, sizeof slot, PAGE_READWRITE, &was));
    real = slot;
    slot = hook;
    VirtualProtect(&slot, sizeof slot, was, &was);
}

template <typename F>
void restore(F& slot, F real) {
    DWORD was = 0;
    VirtualProtect(&slot, sizeof slot, PAGE_READWRITE, &was);
    slot = real;
    VirtualProtect(&slot, sizeof slot, was, &was);
}

struct Real {
    decltype(&OpenMutexA) open_mutex;
    decltype(&CreateMutexA) create_mutex;
    decltype(&RegisterClassExA) register_class;
    decltype(&CreateWindowExA) create_window;
    decltype(&CreateDIBSection) create_dib;
    decltype(&SetTimer) set_timer;
    decltype(&KillTimer) kill_timer;
    decltype(&LoadCursorA) load_cursor;
    decltype(&SetCursor) set_cursor;
    decltype(&DragAcceptFiles) accept_files;
    decltype(&midiInGetNumDevs) in_count;
    decltype(&midiOutGetNumDevs) out_count;
    decltype(&timeBeginPeriod) begin_period;
    decltype(&timeEndPeriod) end_period;
    decltype(&timeSetEvent) set_event;
    decltype(&timeKillEvent) kill_event;
    decltype(&ShowWindow) show_window;
    decltype(&PostQuitMessage) post_quit;
} g_real;

HANDLE WINAPI open_mutex(DWORD access, BOOL inherit, LPCSTR name) {
    record("OpenMutexA %s", name);
    return g_real.open_mutex(access, inherit, name);
}
HANDLE WINAPI create_mutex(LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCSTR name) {
    record("CreateMutexA %d %s", owned, name);
    return g_real.create_mutex(sa, owned, name);
}
ATOM WINAPI register_class(const WNDCLASSEXA* wc) {
    record("RegisterClassExA %s %s", wc->lpszClassName, wc->lpszMenuName);
    return g_real.register_class(wc);
}
HWND WINAPI create_window(DWORD ex, LPCSTR cls, LPCSTR title, DWORD style, int x, int y, int w, int h, HWND parent,
                          HMENU menu, HINSTANCE instance, LPVOID param) {
    record("CreateWindowExA %s %s %dx%d", cls, title, w, h);
    return g_real.create_window(ex, cls, title, style, x, y, w, h, parent, menu, instance, param);
}
HBITMAP WINAPI create_dib(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
    record("CreateDIBSection");
    return g_real.create_dib(dc, info, usage, bits, section, offset);
}
UINT_PTR WINAPI set_timer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
    record("SetTimer %u %u", unsigned(id), ms);
    return g_real.set_timer(hwnd, id, ms, proc);
}
BOOL WINAPI kill_timer(HWND hwnd, UINT_PTR id) {
    record("KillTimer %u", unsigned(id));
    return g_real.kill_timer(hwnd, id);
}
HCURSOR WINAPI load_cursor(HINSTANCE instance, LPCSTR name) {
    record("LoadCursorA %u", unsigned(reinterpret_cast<uintptr_t>(name)));
    return g_real.load_cursor(instance, name);
}
HCURSOR WINAPI set_cursor(HCURSOR cursor) {
    record("SetCursor %s", cursor && cursor == g_real.load_cursor(nullptr, IDC_ARROW) ? "arrow" : "other");
    return g_real.set_cursor(cursor);
}
void WINAPI accept_files(HWND hwnd, BOOL accept) {
    record("DragAcceptFiles %d", accept);
    g_real.accept_files(hwnd, accept);
}
UINT WINAPI in_count() {
    record("midiInGetNumDevs");
    return g_real.in_count();
}
UINT WINAPI out_count() {
    record("midiOutGetNumDevs");
    return g_real.out_count();
}
MMRESULT WINAPI begin_period(UINT ms) {
    record("timeBeginPeriod %u", ms);
    return g_real.begin_period(ms);
}
MMRESULT WINAPI end_period(UINT ms) {
    record("timeEndPeriod %u", ms);
    return g_real.end_period(ms);
}
MMRESULT WINAPI set_event(UINT delay, UINT resolution, LPTIMECALLBACK proc, DWORD_PTR user, UINT flags) {
    record("timeSetEvent %u %u 0x%x", delay, resolution, flags);
    return g_real.set_event(delay, resolution, proc, user, flags);
}
MMRESULT WINAPI kill_event(UINT id) {
    record("timeKillEvent");
    return g_real.kill_event(id);
}
// The window is closed as soon as it is shown: the loop then runs the
// tear-down and ends.
BOOL WINAPI show_window(HWND hwnd, int command) {
    record("ShowWindow");
    const BOOL shown = g_real.show_window(hwnd, command);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return shown;
}
void WINAPI post_quit(int code) {
    record("PostQuitMessage %d", code);
    g_real.post_quit(code);
}

class Win32StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        replace(__imp_OpenMutexA, &open_mutex, g_real.open_mutex);
        replace(__imp_CreateMutexA, &create_mutex, g_real.create_mutex);
        replace(__imp_RegisterClassExA, &register_class, g_real.register_class);
        replace(__imp_CreateWindowExA, &create_window, g_real.create_window);
        replace(__imp_CreateDIBSection, &create_dib, g_real.create_dib);
        replace(__imp_SetTimer, &set_timer, g_real.set_timer);
        replace(__imp_KillTimer, &kill_timer, g_real.kill_timer);
        replace(__imp_LoadCursorA, &load_cursor, g_real.load_cursor);
        replace(__imp_SetCursor, &set_cursor, g_real.set_cursor);
        replace(__imp_DragAcceptFiles, &accept_files, g_real.accept_files);
        replace(__imp_midiInGetNumDevs, &in_count, g_real.in_count);
        replace(__imp_midiOutGetNumDevs, &out_count, g_real.out_count);
        replace(__imp_timeBeginPeriod, &begin_period, g_real.begin_period);
        replace(__imp_timeEndPeriod, &end_period, g_real.end_period);
        replace(__imp_timeSetEvent, &set_event, g_real.set_event);
        replace(__imp_timeKillEvent, &kill_event, g_real.kill_event);
        replace(__imp_ShowWindow, &show_window, g_real.show_window);
        replace(__imp_PostQuitMessage, &post_quit, g_real.post_quit);
        create_fonts(g_render);
        g_calls.clear();
    }
    void TearDown() override {
        restore(__imp_OpenMutexA, g_real.open_mutex);
        restore(__imp_CreateMutexA, g_real.create_mutex);
        restore(__imp_RegisterClassExA, g_real.register_class);
        restore(__imp_CreateWindowExA, g_real.create_window);
        restore(__imp_CreateDIBSection, g_real.create_dib);
        restore(__imp_SetTimer, g_real.set_timer);
        restore(__imp_KillTimer, g_real.kill_timer);
        restore(__imp_LoadCursorA, g_real.load_cursor);
        restore(__imp_SetCursor, g_real.set_cursor);
        restore(__imp_DragAcceptFiles, g_real.accept_files);
        restore(__imp_midiInGetNumDevs, g_real.in_count);
        restore(__imp_midiOutGetNumDevs, g_real.out_count);
        restore(__imp_timeBeginPeriod, g_real.begin_period);
        restore(__imp_timeEndPeriod, g_real.end_period);
        restore(__imp_timeSetEvent, g_real.set_event);
        restore(__imp_timeKillEvent, g_real.kill_event);
        restore(__imp_ShowWindow, g_real.show_window);
        restore(__imp_PostQuitMessage, g_real.post_quit);
        release_fonts(g_render);
        // The marker goes, so that the next test's entry is a first copy again.
        platform_release_instance_probe();
        UnregisterClassA("PC_ZORVE", GetModuleHandleA(nullptr));
    }
};

TEST_F(Win32StartUp, WindowsCallsInOrderFromTheInstanceCheckToTheLoopsEnd) {
    EXPECT_EQ(run_entry(), 0);
    const std::vector<std::string> expected = {
        "OpenMutexA PC_ZORVE",
        "CreateMutexA 1 PC_ZORVE",
        "LoadCursorA 32512",  // the class's cursor
        "RegisterClassExA PC_ZORVE PC_ZORVE",
        "CreateWindowExA PC_ZORVE ZORVE_BUTTON 910x550",
        "CreateDIBSection",
        "SetTimer 2 2",
        "LoadCursorA 32512",
        "midiInGetNumDevs",
        "midiOutGetNumDevs",
        "DragAcceptFiles 1",
        "timeBeginPeriod 1",
        "timeSetEvent 1 1 0x101",
        "SetCursor arrow",
        "ShowWindow",
        "timeKillEvent",
        "timeEndPeriod 1",
        "KillTimer 2",
        "PostQuitMessage 0",
    };
    EXPECT_EQ(g_calls, expected);
}

// A class Windows will not register ends the program at once, with status 0
// and without a word: no window, nothing started.
TEST_F(Win32StartUp, ARefusedClassEndsQuietlyWithStatusZero) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PC_ZORVE";
    ASSERT_NE(g_real.register_class(&wc), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_entry(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const std::vector<std::string> expected = {"OpenMutexA PC_ZORVE", "CreateMutexA 1 PC_ZORVE", "LoadCursorA 32512",
                                               "RegisterClassExA PC_ZORVE PC_ZORVE"};
    EXPECT_EQ(g_calls, expected);
}

}  // namespace
