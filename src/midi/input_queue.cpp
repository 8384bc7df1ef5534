#include "midi/input_queue.h"

#include <atomic>

namespace {

static_assert((INPUT_QUEUE_SIZE & (INPUT_QUEUE_SIZE - 1)) == 0);

// Each slot holds its message and a tag, the low 32 bits of (write index + 1),
// in one atomic word: the reader sees whole slots only, and tells by the tag
// a slot not yet written (tag behind) from one already written again (ahead).
std::atomic<uint64_t> g_slots[INPUT_QUEUE_SIZE];
std::atomic<uint64_t> g_head{0};  // writes begun
std::atomic<bool> g_enabled{false};
void (*g_wake)() = nullptr;
uint64_t g_tail = 0;     // reader only: the next index to take
uint64_t g_dropped = 0;  // reader only

uint32_t tag(uint64_t index) { return uint32_t(index + 1); }

}  // namespace

void input_queue_enable(bool on, void (*wake)()) {
    g_wake = wake;
    g_enabled.store(on, std::memory_order_release);
}
bool input_queue_enabled() { return g_enabled.load(std::memory_order_relaxed); }

void input_queue_push(uint32_t message) {
    if (!g_enabled.load(std::memory_order_acquire)) return;
    const uint64_t index = g_head.fetch_add(1, std::memory_order_relaxed);
    g_slots[index % INPUT_QUEUE_SIZE].store(uint64_t(tag(index)) << 32 | message, std::memory_order_release);
    if (g_wake) g_wake();
}

size_t input_queue_take(uint32_t* out, size_t max) {
    const uint64_t head = g_head.load(std::memory_order_acquire);
    // Writes more than a ring behind are gone whatever their slots show.
    if (head - g_tail > INPUT_QUEUE_SIZE) {
        g_dropped += head - g_tail - INPUT_QUEUE_SIZE;
        g_tail = head - INPUT_QUEUE_SIZE;
    }
    size_t taken = 0;
    while (g_tail != head && taken < max) {
        const uint64_t word = g_slots[g_tail % INPUT_QUEUE_SIZE].load(std::memory_order_acquire);
        const int32_t ahead = int32_t(uint32_t(word >> 32) - tag(g_tail));
        if (ahead < 0) break;  // begun, not yet written: taken next time
        if (ahead == 0)
            out[taken++] = uint32_t(word);
        else
            ++g_dropped;  // written again by a later message
        ++g_tail;
    }
    return taken;
}

uint64_t input_queue_dropped() { return g_dropped; }
