// The 1 ms clock schedule of the Linux layer, shared with the idle-floor
// benchmark so that the floor it measures is this very loop.
#pragma once

#include <time.h>

#include <atomic>
#include <cerrno>

// Calls tick() at absolute deadlines 1 ms apart until `stop` is set, so the
// period does not drift with tick's own duration. A long stall restarts the
// schedule instead of firing a burst. No tick runs once `stop` is seen.
template <class Tick>
void run_clock(const std::atomic<bool>& stop, Tick tick) {
    timespec due;
    clock_gettime(CLOCK_MONOTONIC, &due);
    while (!stop.load(std::memory_order_acquire)) {
        due.tv_nsec += 1000000;
        if (due.tv_nsec >= 1000000000) {
            due.tv_nsec -= 1000000000;
            ++due.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        if (stop.load(std::memory_order_acquire)) break;
        tick();
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > due.tv_sec + 1) due = now;
    }
}
