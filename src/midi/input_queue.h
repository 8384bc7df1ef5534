// Short messages that arrive on the input devices, handed from the MIDI
// system's thread to the window thread. A fixed ring: the writer never waits
// and never allocates; when the window thread falls behind, the oldest
// messages are overwritten and counted as dropped.
// Writers: JACK's process callback, or the ALSA sequencer's event thread;
// on Windows the window thread itself, to which WinMM posts input
// (CALLBACK_WINDOW). Reader: the window thread only.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t INPUT_QUEUE_SIZE = 1024;  // a power of two

// Off at start: input is then dropped before it reaches the ring. `wake`,
// when given, is called on the writer's thread after every message: it must
// only nudge the window thread, and fold the nudges of one batch into one
// (thread-safe, non-blocking, cheap when a nudge is pending already).
void input_queue_enable(bool on, void (*wake)() = nullptr);
bool input_queue_enabled();

// Any thread that delivers input. A packed short message
// (status | data1 << 8 | data2 << 16, pack_short_message).
void input_queue_push(uint32_t message);

// Window thread. Takes what arrived since the last call, oldest first, into
// `out` (at most `max`; the rest stays for the next call). A message that
// was overwritten before it could be taken is counted in input_queue_dropped.
size_t input_queue_take(uint32_t* out, size_t max);
uint64_t input_queue_dropped();
