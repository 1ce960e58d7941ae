#pragma once
// The tracked slab allocator. Every runtime object (Kiv::PtrInterface and
// everything derived from it) lives in a slab slot of its size class; each
// class books its live objects and bytes against its own tracker, so that a
// test or a benchmark can see a leak or an allocation it did not expect.

#include <atomic>
#include <cstddef>
#include <functional>

#include "Types.h"

namespace Kiv {

class MemAllocationTracker {
  public:
    explicit MemAllocationTracker(const char* className);
    ~MemAllocationTracker();
    MemAllocationTracker(const MemAllocationTracker&) = delete;
    MemAllocationTracker& operator=(const MemAllocationTracker&) = delete;

    void book(std::size_t bytes) noexcept {
        liveObjects_.fetch_add(1, std::memory_order_relaxed);
        liveBytes_.fetch_add(bytes, std::memory_order_relaxed);
        totalAllocations_.fetch_add(1, std::memory_order_relaxed);
    }
    void unbook(std::size_t bytes) noexcept {
        liveObjects_.fetch_sub(1, std::memory_order_relaxed);
        liveBytes_.fetch_sub(bytes, std::memory_order_relaxed);
    }

    const char* className() const noexcept { return className_; }
    U64 liveObjects() const noexcept { return liveObjects_.load(std::memory_order_relaxed); }
    U64 liveBytes() const noexcept { return liveBytes_.load(std::memory_order_relaxed); }
    U64 totalAllocations() const noexcept {
        return totalAllocations_.load(std::memory_order_relaxed);
    }

    // Every tracker of the process, including those of loaded libraries.
    static void forEach(const std::function<void(const MemAllocationTracker&)>& visit);
    // Sum of live objects over every tracker.
    static U64 totalLiveObjects();

  private:
    const char* className_;
    std::atomic<U64> liveObjects_{0};
    std::atomic<U64> liveBytes_{0};
    std::atomic<U64> totalAllocations_{0};
};

// Fixed-size slabs per size class (multiples of 16 bytes, up to kMaxSlotSize),
// each with a free list. Larger requests fall back to the global heap.
namespace SlabAllocator {
inline constexpr std::size_t kMaxSlotSize = 1024;

void* allocate(std::size_t bytes);
void deallocate(void* p, std::size_t bytes) noexcept;
// True when `p` is the start of a slot that is currently allocated. Safe for
// any address, including forged ones: it never reads through `p`.
bool isLiveSlot(const void* p) noexcept;
// Slots handed out and not yet returned, over all size classes.
U64 liveSlots() noexcept;
}  // namespace SlabAllocator

}  // namespace Kiv
