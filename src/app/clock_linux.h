// The 1 ms clock schedule of the Linux layer. The window thread runs it while
// ticks are wanted and parks it otherwise; parked, the thread sleeps on a
// condition variable and never wakes on its own.
#pragma once

#include <time.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

// Shared by the clock thread and the window thread.
struct ClockGate {
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<bool> run{false};   // ticks wanted; written under `lock`
    std::atomic<bool> stop{false};  // the thread is to end; written under `lock`
};

// Window thread: lets the clock run or parks it; a no-op when already so.
inline void set_clock_running(ClockGate& gate, bool run) {
    if (gate.run.load(std::memory_order_relaxed) == run) return;
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.run.store(run, std::memory_order_relaxed);
    }
    gate.changed.notify_one();
}

inline void stop_clock_thread(ClockGate& gate) {
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.stop.store(true, std::memory_order_relaxed);
    }
    gate.changed.notify_one();
}

// Clock thread: while the gate is open, calls tick() at once and then at
// absolute deadlines 1 ms apart, so the period does not drift with tick's own
// duration; a long stall restarts the schedule instead of firing a burst.
// While the gate is closed it waits. No tick runs once `stop` is seen.
template <class Tick>
void run_clock(ClockGate& gate, Tick tick) {
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(gate.lock);
            gate.changed.wait(hold, [&] { return gate.run.load(std::memory_order_relaxed) || gate.stop.load(); });
            if (gate.stop.load()) return;
        }
        // Woken for input: the clock catches up now, not a period later, so
        // the tick the input asked for can pass its gate at once.
        tick();
        timespec due;
        clock_gettime(CLOCK_MONOTONIC, &due);
        while (gate.run.load(std::memory_order_relaxed) && !gate.stop.load(std::memory_order_relaxed)) {
            due.tv_nsec += 1000000;
            if (due.tv_nsec >= 1000000000) {
                due.tv_nsec -= 1000000000;
                ++due.tv_sec;
            }
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
            }
            if (gate.stop.load(std::memory_order_relaxed)) return;
            tick();
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec > due.tv_sec + 1) due = now;
        }
    }
}
