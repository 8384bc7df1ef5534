// The 1 ms clock schedule of the Linux layer. The window thread runs it while
// ticks are wanted and parks it otherwise; parked, the thread sleeps on a
// condition variable and never wakes on its own. Woken from idle, the clock
// first catches up once, on the window thread itself: handing that one tick
// to the clock thread and waiting for it cost two thread switches a click.
#pragma once

#include <time.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

// Shared by the clock thread and the window thread. Every tick runs under
// `lock`, whichever thread runs it, so ticks never overlap and each sees the
// one before.
struct ClockGate {
    std::mutex lock;
    std::condition_variable changed;  // to the clock thread
    std::atomic<bool> run{false};     // ticks wanted; written under `lock`
    std::atomic<bool> stop{false};    // the thread is to end; written under `lock`
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

// Window thread, with the clock parked: runs one clock tick now, so a
// window tick run next sees the clock up to date. The clock stays parked
// unless set running.
template <class Tick>
void catch_up_clock(ClockGate& gate, Tick tick) {
    std::lock_guard<std::mutex> hold(gate.lock);
    tick();
}

inline void stop_clock_thread(ClockGate& gate) {
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.stop.store(true, std::memory_order_relaxed);
    }
    gate.changed.notify_one();
}

// Clock thread: when woken, calls tick() at once, then, while the gate is
// open, at absolute deadlines 1 ms apart, so the period does not drift with
// tick's own duration; a long stall restarts the schedule instead of firing
// a burst. While the gate is closed it waits. No tick runs once `stop` is
// seen.
template <class Tick>
void run_clock(ClockGate& gate, Tick tick) {
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(gate.lock);
            gate.changed.wait(hold, [&] { return gate.run.load(std::memory_order_relaxed) || gate.stop.load(); });
            if (gate.stop.load()) return;
            tick();
        }
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
            {
                std::lock_guard<std::mutex> hold(gate.lock);
                if (gate.stop.load(std::memory_order_relaxed)) return;
                tick();
            }
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec > due.tv_sec + 1) due = now;
        }
    }
}
