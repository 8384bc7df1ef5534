// MIDI platform contract (midi/midi_ports.h) over WinMM device numbers.
// Devices notify the main window (CALLBACK_WINDOW, the window named by
// winmm_notify_window before the first open); input data arrives as
// MM_MIM_DATA messages, which the window puts into the input ring
// (input_queue.h), so no buffers are queued and system-exclusive input is
// dropped by WinMM. Nothing is ever closed.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "midi/midi_ports.h"
#include "platform/windows/ports_winmm.h"

namespace {

// The process's WinMM devices: the window they notify (named before the
// first open) and whether the command line turned MIDI off (WinMM is the
// only system: NONE and the others turn it off).
struct WinMidi {
    HWND notify_window = nullptr;
    bool off = false;
};
WinMidi g_winmm;

// szPname holds at most MAXPNAMELEN bytes and need not end in a zero byte
// when full, so the copy stops at either.
void copy_name(const char (&from)[MAXPNAMELEN], char (&name)[MIDI_NAME_FIELD]) {
    static_assert(MAXPNAMELEN < MIDI_NAME_FIELD);
    size_t n = 0;
    for (; n < MAXPNAMELEN && from[n]; ++n) name[n] = from[n];
    for (; n < MIDI_NAME_FIELD; ++n) name[n] = 0;
}

}  // namespace

void midi_choose_system(MidiSystem system, MidiUse) { g_winmm.off = system != MIDI_SYSTEM_AUTO; }

int midi_in_count() { return g_winmm.off ? 0 : static_cast<int>(midiInGetNumDevs()); }

// A device whose capabilities cannot be read gets an empty name.
void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]) {
    MIDIINCAPSA caps = {};
    midiInGetDevCapsA(static_cast<UINT_PTR>(device), &caps, sizeof caps);
    copy_name(caps.szPname, name);
}

void winmm_notify_window(void* window) { g_winmm.notify_window = static_cast<HWND>(window); }

MidiHandle midi_in_open(int device) {
    HMIDIIN in = nullptr;
    if (midiInOpen(&in, static_cast<UINT>(device), reinterpret_cast<DWORD_PTR>(g_winmm.notify_window), 0,
                   CALLBACK_WINDOW) != MMSYSERR_NOERROR)
        return nullptr;
    return in;
}

bool midi_in_start(MidiHandle in) { return in && midiInStart(static_cast<HMIDIIN>(in)) == MMSYSERR_NOERROR; }

int midi_out_count() { return g_winmm.off ? 0 : static_cast<int>(midiOutGetNumDevs()); }

void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]) {
    MIDIOUTCAPSA caps = {};
    midiOutGetDevCapsA(static_cast<UINT_PTR>(device), &caps, sizeof caps);
    copy_name(caps.szPname, name);
}

MidiHandle midi_out_open(int device) {
    HMIDIOUT out = nullptr;
    if (midiOutOpen(&out, static_cast<UINT>(device), reinterpret_cast<DWORD_PTR>(g_winmm.notify_window), 0,
                    CALLBACK_WINDOW) != MMSYSERR_NOERROR)
        return nullptr;
    return out;
}

// WinMM has no port of the program's own that others connect to.
void midi_panel_send(uint32_t) {}

// The result is ignored: a failed send is neither reported nor retried.
void midi_out_send(MidiHandle out, uint32_t message) {
    if (out) midiOutShortMsg(static_cast<HMIDIOUT>(out), message);
}
