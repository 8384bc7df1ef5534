// The 1 ms clock schedule of the Linux layer. The window thread runs it while
// ticks are wanted and parks it otherwise; parked, the thread sleeps on a
// condition variable and never wakes on its own. Woken from idle, it first
// catches up once, while the window thread waits for it.
#pragma once

#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Shared by the clock thread and the window thread.
struct ClockGate {
    std::mutex lock;
    std::condition_variable changed;    // to the clock thread
    std::condition_variable caught_up;  // to the window thread
    std::atomic<bool> run{false};       // ticks wanted; written under `lock`
    std::atomic<bool> stop{false};      // the thread is to end; written under `lock`
    uint64_t asked = 0, done = 0;       // catch-up requests and the last one served; under `lock`
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

// Window thread, with the clock parked: has the clock thread run one tick
// now and returns once it has (or after `limit`, should the thread be
// stuck), so a tick the window thread runs next sees the clock up to date.
// The clock stays parked unless set running.
inline void catch_up_clock(ClockGate& gate, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(gate.lock);
    const uint64_t ask = ++gate.asked;
    gate.changed.notify_one();
    gate.caught_up.wait_for(hold, limit, [&] { return gate.done >= ask; });
}

inline void stop_clock_thread(ClockGate& gate) {
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.stop.store(true, std::memory_order_relaxed);
    }
    gate.changed.notify_one();
}

// Clock thread: when woken, calls tick() at once (the clock catches up now,
// not a period later, so the tick the input asked for can pass its gate at
// once); then, while the gate is open, at absolute deadlines 1 ms apart, so
// the period does not drift with tick's own duration; a long stall restarts
// the schedule instead of firing a burst. While the gate is closed it waits.
// No tick runs once `stop` is seen.
template <class Tick>
void run_clock(ClockGate& gate, Tick tick) {
    for (;;) {
        uint64_t serving;
        {
            std::unique_lock<std::mutex> hold(gate.lock);
            gate.changed.wait(hold, [&] {
                return gate.run.load(std::memory_order_relaxed) || gate.stop.load() || gate.asked != gate.done;
            });
            if (gate.stop.load()) return;
            serving = gate.asked;
        }
        tick();
        {
            std::lock_guard<std::mutex> hold(gate.lock);
            gate.done = serving;
        }
        gate.caught_up.notify_one();
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
