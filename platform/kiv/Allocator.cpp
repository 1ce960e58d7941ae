#include "Allocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "Ptr.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define KIV_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define KIV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define KIV_POISON(p, n) ((void)(p), (void)(n))
#define KIV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace Kiv {

namespace {

std::mutex& trackersMutex() {
    static std::mutex m;
    return m;
}
std::vector<const MemAllocationTracker*>& trackers() {
    static std::vector<const MemAllocationTracker*> all;
    return all;
}

}  // namespace

MemAllocationTracker::MemAllocationTracker(const char* className) : className_(className) {
    std::lock_guard lock(trackersMutex());
    trackers().push_back(this);
}

MemAllocationTracker::~MemAllocationTracker() {
    std::lock_guard lock(trackersMutex());
    auto& all = trackers();
    std::erase(all, this);
}

void MemAllocationTracker::forEach(const std::function<void(const MemAllocationTracker&)>& visit) {
    std::lock_guard lock(trackersMutex());
    for (const auto* t : trackers()) visit(*t);
}

U64 MemAllocationTracker::totalLiveObjects() {
    U64 total = 0;
    forEach([&](const MemAllocationTracker& t) { total += t.liveObjects(); });
    return total;
}

void prefault(void* memory, std::size_t bytes) noexcept {
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    static const auto pageMask = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1;
    const auto begin = reinterpret_cast<std::uintptr_t>(memory) & ~pageMask;
    const auto end = reinterpret_cast<std::uintptr_t>(memory) + bytes;
    if (bytes != 0)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

namespace SlabAllocator {

namespace {

// A chunk is aligned to its own size, so the chunk of any slot is found by
// masking the slot's address; the header sits at the chunk's start.
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = kMaxSlotSize / kGranule;
constexpr std::size_t kMaxSlots = kChunkSize / kGranule;
// Rounding the reciprocal up adds less than offset / 2^32 to a quotient, and
// a quotient's fraction is at most 1 - 1 / slotSize: the index is exact while
// offset * slotSize < 2^32, as it is for slots up to 1 KiB in a 64 KiB chunk.
static_assert(kChunkSize <= (1u << 16) && kMaxSlotSize <= (1u << 10));

struct ChunkHeader {
    std::uint32_t slotSize;
    std::uint32_t slotCount;
    // ceil(2^32 / slotSize): offset * reciprocal / 2^32 is the slot index,
    // a multiply where a divide would cost several times as much.
    std::uint32_t reciprocal;
    std::uint32_t carved;  // slots handed out from the chunk's untouched tail so far
    std::array<std::uint64_t, kMaxSlots / 64> live;
};
constexpr std::size_t kHeaderSize = (sizeof(ChunkHeader) + kGranule - 1) / kGranule * kGranule;

struct FreeSlot {
    FreeSlot* next;
};

struct SizeClass {
    FreeSlot* freeList = nullptr;
    ChunkHeader* current = nullptr;  // chunk with an uncarved tail
};

// Chunks are carved from mappings of kRegionChunks chunks, aligned to the
// chunk size: no allocator header between chunks, no alignment gaps.
constexpr std::size_t kRegionChunks = 32;

struct Slabs {
    std::mutex mutex;
    std::array<SizeClass, kClasses> classes{};
    std::set<std::uintptr_t> chunks;
    std::uintptr_t regionNext = 0;  // the next chunk of the current mapping
    std::uintptr_t regionEnd = 0;
    U64 liveSlots = 0;
};

Slabs& slabs() {
    static Slabs* s = new Slabs;  // never destroyed: objects may outlive static destruction
    return *s;
}

// Locks only when objects may be shared across threads.
class MaybeLock {
  public:
    explicit MaybeLock(std::mutex& m) : m_(Dorvu::threadSafePtrs() ? &m : nullptr) {
        if (m_)
            m_->lock();
    }
    ~MaybeLock() {
        if (m_)
            m_->unlock();
    }

  private:
    std::mutex* m_;
};

ChunkHeader* chunkOf(const void* p) {
    return reinterpret_cast<ChunkHeader*>(reinterpret_cast<std::uintptr_t>(p) & ~(kChunkSize - 1));
}

std::size_t slotIndex(const ChunkHeader* chunk, const void* p) {
    const auto offset =
        reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(chunk) - kHeaderSize;
    return static_cast<std::size_t>((std::uint64_t{offset} * chunk->reciprocal) >> 32);
}

void markLive(ChunkHeader* chunk, std::size_t index, bool live) {
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    if (live) {
        chunk->live[index / 64] |= bit;
    } else {
        chunk->live[index / 64] &= ~bit;
    }
}

void newRegion(Slabs& s) {
    const std::size_t bytes = (kRegionChunks + 1) * kChunkSize;  // room to align
    void* mapped =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (begin + kChunkSize - 1) & ~(kChunkSize - 1);
    const std::uintptr_t end = aligned + kRegionChunks * kChunkSize;
    if (aligned != begin)
        ::munmap(mapped, aligned - begin);
    if (end != begin + bytes)
        ::munmap(reinterpret_cast<void*>(end), begin + bytes - end);
#if defined(__SANITIZE_ADDRESS__)
    // Objects in slots may hold the only pointer to heap memory.
    __lsan_register_root_region(reinterpret_cast<void*>(aligned), end - aligned);
#endif
    s.regionNext = aligned;
    s.regionEnd = end;
}

ChunkHeader* newChunk(Slabs& s, std::size_t slotSize) {
    if (s.regionNext == s.regionEnd)
        newRegion(s);
    void* memory = reinterpret_cast<void*>(s.regionNext);
    s.regionNext += kChunkSize;
    // A chunk's slots are handed out one after another: its pages all come into use.
    prefault(memory, kChunkSize);
    auto* chunk = ::new (memory) ChunkHeader{};
    chunk->slotSize = static_cast<std::uint32_t>(slotSize);
    chunk->reciprocal =
        static_cast<std::uint32_t>(((std::uint64_t{1} << 32) + slotSize - 1) / slotSize);
    chunk->slotCount = static_cast<std::uint32_t>((kChunkSize - kHeaderSize) / slotSize);
    KIV_POISON(reinterpret_cast<char*>(memory) + kHeaderSize, kChunkSize - kHeaderSize);
    s.chunks.insert(reinterpret_cast<std::uintptr_t>(memory));
    return chunk;
}

}  // namespace

void* allocate(std::size_t bytes) {
    if (bytes == 0)
        bytes = 1;
    if (bytes > kMaxSlotSize)
        return ::operator new(bytes);
    const std::size_t cls = (bytes - 1) / kGranule;
    const std::size_t slotSize = (cls + 1) * kGranule;
    Slabs& s = slabs();
    MaybeLock lock(s.mutex);
    SizeClass& sc = s.classes[cls];
    void* slot;
    if (sc.freeList) {
        KIV_UNPOISON(sc.freeList, slotSize);
        slot = sc.freeList;
        sc.freeList = sc.freeList->next;
    } else {
        if (!sc.current || sc.current->carved == sc.current->slotCount) {
            sc.current = newChunk(s, slotSize);
        }
        ChunkHeader* chunk = sc.current;
        slot = reinterpret_cast<char*>(chunk) + kHeaderSize + chunk->carved * slotSize;
        ++chunk->carved;
        KIV_UNPOISON(slot, slotSize);
    }
    ChunkHeader* chunk = chunkOf(slot);
    markLive(chunk, slotIndex(chunk, slot), true);
    ++s.liveSlots;
    return slot;
}

void deallocate(void* p, std::size_t bytes) noexcept {
    if (!p)
        return;
    if (bytes == 0)
        bytes = 1;
    if (bytes > kMaxSlotSize) {
        ::operator delete(p);
        return;
    }
    Slabs& s = slabs();
    MaybeLock lock(s.mutex);
    ChunkHeader* chunk = chunkOf(p);
    markLive(chunk, slotIndex(chunk, p), false);
    --s.liveSlots;
    SizeClass& sc = s.classes[(chunk->slotSize / kGranule) - 1];
    auto* freed = static_cast<FreeSlot*>(p);
    freed->next = sc.freeList;
    sc.freeList = freed;
    KIV_POISON(p, chunk->slotSize);
}

bool isLiveSlot(const void* p) noexcept {
    Slabs& s = slabs();
    MaybeLock lock(s.mutex);
    const auto base = reinterpret_cast<std::uintptr_t>(chunkOf(p));
    if (!s.chunks.contains(base))
        return false;
    const ChunkHeader* chunk = chunkOf(p);
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    if (address < base + kHeaderSize)
        return false;
    const auto offset = address - base - kHeaderSize;
    if (offset % chunk->slotSize != 0)
        return false;
    const std::size_t index = offset / chunk->slotSize;
    if (index >= chunk->carved)
        return false;
    return (chunk->live[index / 64] >> (index % 64)) & 1;
}

U64 liveSlots() noexcept {
    Slabs& s = slabs();
    MaybeLock lock(s.mutex);
    return s.liveSlots;
}

}  // namespace SlabAllocator

}  // namespace Kiv
