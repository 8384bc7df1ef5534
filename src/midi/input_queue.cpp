#include "midi/input_queue.h"

#include <atomic>

namespace {

static_assert((INPUT_QUEUE_SIZE & (INPUT_QUEUE_SIZE - 1)) == 0);

// One ring per process: the MIDI system's threads reach it from callbacks
// that carry no pointer of ours. Each slot holds its message and a tag, the
// low 32 bits of (write index + 1), in one atomic word: the reader sees whole
// slots only, and tells by the tag a slot not yet written (tag behind) from
// one already written again (ahead).
struct InputRing {
    std::atomic<uint64_t> slots[INPUT_QUEUE_SIZE];
    std::atomic<uint64_t> head{0};  // writes begun
    std::atomic<bool> enabled{false};
    void (*wake)() = nullptr;
    uint64_t tail = 0;     // reader only: the next index to take
    uint64_t dropped = 0;  // reader only
};
InputRing g_ring;

uint32_t tag(uint64_t index) { return uint32_t(index + 1); }

}  // namespace

void input_queue_enable(bool on, void (*wake)()) {
    g_ring.wake = wake;
    g_ring.enabled.store(on, std::memory_order_release);
}
bool input_queue_enabled() { return g_ring.enabled.load(std::memory_order_relaxed); }

void input_queue_push(uint32_t message) {
    if (!g_ring.enabled.load(std::memory_order_acquire)) return;
    const uint64_t index = g_ring.head.fetch_add(1, std::memory_order_relaxed);
    g_ring.slots[index % INPUT_QUEUE_SIZE].store(uint64_t(tag(index)) << 32 | message, std::memory_order_release);
    if (g_ring.wake) g_ring.wake();
}

size_t input_queue_take(uint32_t* out, size_t max) {
    const uint64_t head = g_ring.head.load(std::memory_order_acquire);
    // Writes more than a ring behind are gone whatever their slots show.
    if (head - g_ring.tail > INPUT_QUEUE_SIZE) {
        g_ring.dropped += head - g_ring.tail - INPUT_QUEUE_SIZE;
        g_ring.tail = head - INPUT_QUEUE_SIZE;
    }
    size_t taken = 0;
    while (g_ring.tail != head && taken < max) {
        const uint64_t word = g_ring.slots[g_ring.tail % INPUT_QUEUE_SIZE].load(std::memory_order_acquire);
        const int32_t ahead = int32_t(uint32_t(word >> 32) - tag(g_ring.tail));
        if (ahead < 0) break;  // begun, not yet written: taken next time
        if (ahead == 0)
            out[taken++] = uint32_t(word);
        else
            ++g_ring.dropped;  // written again by a later message
        ++g_ring.tail;
    }
    return taken;
}

uint64_t input_queue_dropped() { return g_ring.dropped; }
