// Panel event vocabulary shared by the shell and the panel. The values are part
// of the interface: both platform layers and the fuzzers rely on them.
// EV_MOVE, EV_SET_CURSOR, EV_REFRESH, EV_TICK, EV_CANCEL and EV_KEY are posted
// although no receiver acts on them today: they are the protocol's, for a
// receiver that wants them, and stay.
#pragma once

enum PanelEventCode : int {
    EV_MOVE = 2,  // every pointer move, after the drag event if any
    EV_LEFT_DOWN = 4,
    EV_LEFT_UP = 5,
    EV_RIGHT_DOWN = 6,
    EV_RIGHT_UP = 7,
    EV_LEFT_DRAG = 8,   // pointer moved while the left button is held
    EV_RIGHT_DRAG = 9,  // pointer moved while the right (and not the left) button is held
    EV_SET_CURSOR = 11,
    EV_REDRAW = 13,   // tick with REDRAW_FULL set: draw the whole panel
    EV_REFRESH = 14,  // tick without REDRAW_FULL: nothing is drawn
    EV_WHEEL = 17,    // argument: signed wheel step
    EV_TICK = 21,
    EV_CANCEL = 29,  // Escape
    EV_KEY = 31,     // argument: digit 0-9, 10 Enter, 11 Backspace/Delete
};

// Pointer-tested events are exactly these; every other code counts as inside
// every rectangle.
constexpr bool is_pointer_event(int event) {
    return (event >= EV_LEFT_DOWN && event <= EV_RIGHT_DRAG) || event == EV_WHEEL;
}
