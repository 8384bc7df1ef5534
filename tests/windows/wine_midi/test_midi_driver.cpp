// A MIDI driver for Wine's winmm, for the end-to-end tests only: it reports
// the output and input devices named in its environment and writes every
// open, start, close and message it receives to a log file, one line each.
// Built as wine<name>.drv and installed in a test's own Wine prefix only.
//
// Wine 8's winmm asks for MIDI devices only from the audio driver that
// mmdevapi selected (HKCU\Software\Wine\Drivers, value "Audio"), so besides
// the winmm entries this also exports mmdevapi's four, reporting no audio
// endpoints at all.
//
// Environment, read when the DLL loads (the device list is fixed per process):
//   TESTMIDI_OUTPUTS   output device names, separated by '|'; unset: none
//   TESTMIDI_INPUTS    input device names, likewise
//   TESTMIDI_FAIL      space-separated faults: out-open:N, in-open:N, in-start:N
//   TESTMIDI_IN_DATA   Note On messages each input delivers when started
//   TESTMIDI_IN_FILE   Windows path of a file the test appends lines to, each
//                      "DEVICE BYTE..." (decimal device, one to three hex
//                      bytes); polled every 10 ms from the first start on,
//                      each new complete line delivered by that input
//   TESTMIDI_LOG       Windows path of the log (Z:/... for a host path)
//
// Log lines: "out 2 open", "out 2 open refused", "out 2 data 90 59 7f",
// "in 1 start", "in 1 start refused", "in 1 delivered 3", "out 2 close",
// "in 0 stop", "in 1 delivered 80 02 00", "in 3 not started: 90 02 7f",
// "bad input line ...", ...
#include <windows.h>
// After windows.h, which they need.
#include <mmddk.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message, DWORD_PTR instance,
                           DWORD_PTR param1, DWORD_PTR param2);

LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1, LPARAM param2);
DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);
DWORD WINAPI midMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);
int WINAPI GetPriority();
HRESULT WINAPI GetEndpointIDs(int flow, WCHAR*** ids, GUID** guids, UINT* count, UINT* default_index);
HRESULT WINAPI GetAudioEndpoint(void* key, void* device, void** client);
HRESULT WINAPI GetAudioSessionManager(void* device, void** manager);
}

namespace {

constexpr int MAX_DEVICES = 16;
constexpr int NAME_CHARS = MAXPNAMELEN - 1;  // the wide name field keeps its terminating zero

struct Device {
    WCHAR name[MAXPNAMELEN];
    bool fail_open;
    bool fail_start;  // inputs only
    bool open;
    MIDIOPENDESC desc;  // callback of the current open
    DWORD callback_flags;
    std::atomic<bool> started;  // inputs; read by the input file's poller
};

struct Side {
    const char* tag;  // "out" or "in"
    int count;
    Device device[MAX_DEVICES];
};

Side g_out = {"out", 0, {}};
Side g_in = {"in", 0, {}};
int g_in_data;  // Note On messages each input sends when started
char g_in_file[MAX_PATH];
char g_log_path[MAX_PATH];

// Appends one line; every line is a separate append so that a reader never
// sees half a line and several processes may share the file.
void log_line(const char* format, ...) {
    if (!g_log_path[0]) return;
    char line[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) return;
    if (n > int(sizeof line) - 2) n = int(sizeof line) - 2;
    line[n++] = '\n';
    HANDLE file = CreateFileA(g_log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, DWORD(n), &written, nullptr);
    CloseHandle(file);
}

// Returns the variable's value in buffer, or an empty string when it is unset
// or too long.
const char* env(const char* name, char* buffer, DWORD size) {
    DWORD n = GetEnvironmentVariableA(name, buffer, size);
    if (n == 0 || n >= size) buffer[0] = 0;
    return buffer;
}

// Names beyond NAME_CHARS are cut, as a driver with a fixed field must.
void read_names(Side& side, const char* variable) {
    char list[4096];
    const char* p = env(variable, list, sizeof list);
    side.count = 0;
    if (!*p) return;
    while (side.count < MAX_DEVICES) {
        Device& d = side.device[side.count++];
        int n = 0;
        for (; *p && *p != '|'; ++p)
            if (n < NAME_CHARS) d.name[n++] = WCHAR(static_cast<unsigned char>(*p));
        d.name[n] = 0;
        if (*p != '|') break;
        ++p;
    }
}

void read_faults() {
    char list[1024];
    env("TESTMIDI_FAIL", list, sizeof list);
    for (char* token = std::strtok(list, " ,"); token; token = std::strtok(nullptr, " ,")) {
        int device = -1;
        if (std::sscanf(token, "out-open:%d", &device) == 1 && device >= 0 && device < MAX_DEVICES)
            g_out.device[device].fail_open = true;
        else if (std::sscanf(token, "in-open:%d", &device) == 1 && device >= 0 && device < MAX_DEVICES)
            g_in.device[device].fail_open = true;
        else if (std::sscanf(token, "in-start:%d", &device) == 1 && device >= 0 && device < MAX_DEVICES)
            g_in.device[device].fail_start = true;
        else
            log_line("bad fault %s", token);
    }
}

void read_config() {
    env("TESTMIDI_LOG", g_log_path, sizeof g_log_path);
    read_names(g_out, "TESTMIDI_OUTPUTS");
    read_names(g_in, "TESTMIDI_INPUTS");
    char number[32];
    g_in_data = std::atoi(env("TESTMIDI_IN_DATA", number, sizeof number));
    env("TESTMIDI_IN_FILE", g_in_file, sizeof g_in_file);
    read_faults();
}

Device* find(Side& side, UINT device) { return device < UINT(side.count) ? &side.device[device] : nullptr; }

// True when the notification was delivered (posted, for a window).
bool notify(const Device& d, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    return DriverCallback(d.desc.dwCallback, d.callback_flags, reinterpret_cast<HDRVR>(d.desc.hMidi), message,
                          d.desc.dwInstance, param1, param2) != FALSE;
}

// One line of the input file: "DEVICE BYTE..." with one to three hex bytes,
// delivered by that input if it is started, time stamp 0.
void deliver_line(const char* line) {
    unsigned device = 0, bytes[3] = {};
    const int n = std::sscanf(line, "%u %x %x %x", &device, &bytes[0], &bytes[1], &bytes[2]) - 1;
    if (n < 1 || bytes[0] > 0xFF || bytes[1] > 0xFF || bytes[2] > 0xFF) {
        log_line("bad input line %s", line);
        return;
    }
    DWORD message = 0;
    char text[16] = {};
    for (int i = 0, at = 0; i < n; ++i) {
        message |= DWORD(bytes[i]) << 8 * i;
        at += std::snprintf(text + at, sizeof text - at, i ? " %02x" : "%02x", bytes[i]);
    }
    const Device* d = find(g_in, device);
    if (!d || !d->started)
        log_line("in %u not started: %s", device, text);
    else if (notify(*d, MIM_DATA, message, 0))
        log_line("in %u delivered %s", device, text);
    else
        log_line("in %u not delivered: %s", device, text);
}

// Runs on its own thread until the process ends. Each poll reads on from
// the end of the last complete line, so a line still being written waits
// for a later poll; lines must be shorter than the buffer.
DWORD WINAPI poll_input_file(void*) {
    LARGE_INTEGER done = {};
    for (;; Sleep(10)) {
        HANDLE file = CreateFileA(g_in_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        char text[4096];
        DWORD n = 0;
        if (!SetFilePointerEx(file, done, nullptr, FILE_BEGIN) || !ReadFile(file, text, sizeof text - 1, &n, nullptr))
            n = 0;
        CloseHandle(file);
        text[n] = 0;
        char* line = text;
        while (char* end = std::strchr(line, '\n')) {
            *end = 0;
            done.QuadPart += end + 1 - line;
            deliver_line(line);
            line = end + 1;
        }
    }
}

DWORD open_device(Side& side, UINT device, DWORD_PTR param1, DWORD_PTR param2, UINT open_message) {
    Device* d = find(side, device);
    if (!d) return MMSYSERR_BADDEVICEID;
    if (!param1) return MMSYSERR_INVALPARAM;
    if (d->fail_open) {
        log_line("%s %u open refused", side.tag, device);
        return MMSYSERR_ALLOCATED;
    }
    if (d->open) {
        log_line("%s %u open again refused", side.tag, device);
        return MMSYSERR_ALLOCATED;
    }
    d->desc = *reinterpret_cast<const MIDIOPENDESC*>(param1);
    d->callback_flags = HIWORD(DWORD(param2));
    d->open = true;
    log_line("%s %u open", side.tag, device);
    notify(*d, open_message, 0, 0);
    return MMSYSERR_NOERROR;
}

DWORD close_device(Side& side, UINT device, UINT close_message) {
    Device* d = find(side, device);
    if (!d || !d->open) return MMSYSERR_INVALHANDLE;
    d->open = false;
    d->started = false;
    log_line("%s %u close", side.tag, device);
    notify(*d, close_message, 0, 0);
    return MMSYSERR_NOERROR;
}

// Data bytes that follow a status byte.
int data_bytes(unsigned status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0: return 1;
        case 0xF0: return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
        default: return 2;
    }
}

template <typename Caps>
DWORD get_caps(Side& side, UINT device, DWORD_PTR param1, DWORD_PTR param2, Caps caps) {
    Device* d = find(side, device);
    if (!d) return MMSYSERR_BADDEVICEID;
    if (!param1) return MMSYSERR_INVALPARAM;
    caps.wMid = 0xFF;  // MM_UNMAPPED
    caps.wPid = 0xFF;
    caps.vDriverVersion = 0x0100;
    std::memcpy(caps.szPname, d->name, sizeof caps.szPname);
    caps.dwSupport = 0;
    std::memcpy(reinterpret_cast<void*>(param1), &caps, param2 < sizeof caps ? param2 : sizeof caps);
    return MMSYSERR_NOERROR;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) read_config();
    return TRUE;
}

// Answers every installable-driver message with success; the devices need no
// per-open driver instance.
LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1, LPARAM param2) {
    switch (message) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_OPEN:
        case DRV_CLOSE:
        case DRV_ENABLE:
        case DRV_DISABLE:
        case DRV_INSTALL:
        case DRV_REMOVE: return 1;
        case DRV_QUERYCONFIGURE: return 0;
        default: return DefDriverProc(id, driver, message, param1, param2);
    }
}

DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR param2) {
    switch (message) {
        case DRVM_INIT:
        case DRVM_EXIT:
        case DRVM_ENABLE:
        case DRVM_DISABLE: return MMSYSERR_NOERROR;
        case MODM_GETNUMDEVS: return DWORD(g_out.count);
        case MODM_GETDEVCAPS: {
            MIDIOUTCAPSW caps = {};
            caps.wTechnology = MOD_MIDIPORT;
            caps.wChannelMask = 0xFFFF;
            return get_caps(g_out, device, param1, param2, caps);
        }
        case MODM_OPEN: return open_device(g_out, device, param1, param2, MOM_OPEN);
        case MODM_CLOSE: return close_device(g_out, device, MOM_CLOSE);
        case MODM_DATA: {
            Device* d = find(g_out, device);
            if (!d || !d->open) {
                log_line("out %u data on a closed device", device);
                return MMSYSERR_INVALHANDLE;
            }
            const DWORD m = DWORD(param1);
            const unsigned status = m & 0xFF;
            const int extra = data_bytes(status);
            if (extra == 2)
                log_line("out %u data %02x %02x %02x", device, status, (m >> 8) & 0xFF, (m >> 16) & 0xFF);
            else if (extra == 1)
                log_line("out %u data %02x %02x", device, status, (m >> 8) & 0xFF);
            else
                log_line("out %u data %02x", device, status);
            return MMSYSERR_NOERROR;
        }
        case MODM_RESET:
            if (!find(g_out, device)) return MMSYSERR_BADDEVICEID;
            log_line("out %u reset", device);
            return MMSYSERR_NOERROR;
        default: return MMSYSERR_NOTSUPPORTED;  // long data: winmm prepares headers itself
    }
}

DWORD WINAPI midMessage(UINT device, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR param2) {
    switch (message) {
        case DRVM_INIT:
        case DRVM_EXIT:
        case DRVM_ENABLE:
        case DRVM_DISABLE: return MMSYSERR_NOERROR;
        case MIDM_GETNUMDEVS: return DWORD(g_in.count);
        case MIDM_GETDEVCAPS: return get_caps(g_in, device, param1, param2, MIDIINCAPSW{});
        case MIDM_OPEN: return open_device(g_in, device, param1, param2, MIM_OPEN);
        case MIDM_CLOSE: return close_device(g_in, device, MIM_CLOSE);
        case MIDM_START: {
            Device* d = find(g_in, device);
            if (!d || !d->open) return MMSYSERR_INVALHANDLE;
            if (d->fail_start) {
                log_line("in %u start refused", device);
                return MMSYSERR_ERROR;
            }
            log_line("in %u start", device);
            d->started = true;
            static std::atomic<bool> polling{false};
            if (g_in_file[0] && !polling.exchange(true))
                CloseHandle(CreateThread(nullptr, 0, poll_input_file, nullptr, 0, nullptr));
            // Note On, channel 1, notes 60 and up; time stamps 0, 1, 2 ms.
            // Counted only when the notification reached its target.
            int delivered = 0;
            for (int i = 0; i < g_in_data; ++i) {
                const DWORD data = 0x90 | DWORD((60 + i) & 0x7F) << 8 | 100u << 16;
                if (notify(*d, MIM_DATA, data, DWORD_PTR(i))) ++delivered;
            }
            if (g_in_data > 0) log_line("in %u delivered %d", device, delivered);
            return MMSYSERR_NOERROR;
        }
        case MIDM_STOP:
        case MIDM_RESET: {
            Device* d = find(g_in, device);
            if (!d || !d->open) return MMSYSERR_INVALHANDLE;
            log_line("in %u %s", device, message == MIDM_STOP ? "stop" : "reset");
            d->started = false;  // a reset stops input too
            return MMSYSERR_NOERROR;
        }
        default: return MMSYSERR_NOTSUPPORTED;
    }
}

// mmdevapi's driver entries. Preferred, so that the driver is chosen whatever
// else the "Audio" list names; no endpoints, so the prefix has no audio.
int WINAPI GetPriority() { return 3; }

HRESULT WINAPI GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* default_index) {
    *ids = nullptr;
    *guids = nullptr;
    *count = 0;
    *default_index = 0;
    return S_OK;
}

HRESULT WINAPI GetAudioEndpoint(void*, void*, void** client) {
    *client = nullptr;
    return E_NOTIMPL;
}

HRESULT WINAPI GetAudioSessionManager(void*, void** manager) {
    *manager = nullptr;
    return E_NOTIMPL;
}
