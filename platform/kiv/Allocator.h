#pragma once
// The tracked slab allocator. Every runtime object (Kiv::PtrInterface and
// everything derived from it) lives in a slab slot of its size class; each
// class books its live objects and bytes against its own tracker, so that a
// test or a benchmark can see a leak or an allocation it did not expect.

#include <atomic>
#include <cstddef>
#include <functional>

#include "Ptr.h"
#include "Types.h"

namespace Kiv {

class MemAllocationTracker {
  public:
    explicit MemAllocationTracker(const char* className);
    ~MemAllocationTracker();
    MemAllocationTracker(const MemAllocationTracker&) = delete;
    MemAllocationTracker& operator=(const MemAllocationTracker&) = delete;

    void book(std::size_t bytes) noexcept {
        add(liveObjects_, 1);
        add(liveBytes_, bytes);
        add(totalAllocations_, 1);
    }
    void unbook(std::size_t bytes) noexcept {
        add(liveObjects_, U64(0) - 1);
        add(liveBytes_, U64(0) - bytes);
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
    // Read-modify-write only when objects may be made on several threads, as
    // for reference counts; a plain update otherwise keeps creation cheap.
    static void add(std::atomic<U64>& counter, U64 delta) noexcept {
        if (Dorvu::threadSafePtrs()) {
            counter.fetch_add(delta, std::memory_order_relaxed);
        } else {
            counter.store(counter.load(std::memory_order_relaxed) + delta,
                          std::memory_order_relaxed);
        }
    }

    const char* className_;
    std::atomic<U64> liveObjects_{0};
    std::atomic<U64> liveBytes_{0};
    std::atomic<U64> totalAllocations_{0};
};

// Faults in the pages of [memory, memory + bytes) for writing, in one system
// call: several times cheaper than the page faults of a first write to each,
// and a read before the first write (a probe of a hash table) would fault
// twice. Memory of a private anonymous mapping or of the heap; on a kernel
// that cannot do it, the pages fault in on use as before.
void prefault(void* memory, std::size_t bytes) noexcept;

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
