// A file of the MIDI layer that calls into the panel above it: the layer
// check must reject the archive it is built into.
#include "panel/panel.h"

void planted_upward_call();
void planted_upward_call() { dispatch(EV_REDRAW, 0); }
