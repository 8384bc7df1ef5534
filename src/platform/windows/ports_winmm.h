// The WinMM backend's one step beyond the MIDI contract: the window its
// devices notify. Win32 layer only.
#pragma once

// Devices opened from now on notify `window` (an HWND): the main window,
// named before the shell opens the devices.
void winmm_notify_window(void* window);
