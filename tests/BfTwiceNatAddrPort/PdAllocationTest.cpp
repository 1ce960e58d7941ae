// The hot paths of the PD backend allocate nothing of their own: heap blocks
// are counted by replacing the global operator new of this executable, and
// runtime objects by the allocation trackers.

#include <atomic>
#include <cstdlib>
#include <new>

#include "PdTestSupport.h"

namespace {

std::atomic<std::uint64_t> heapBlocks{0};

void* counted(std::size_t size) {
    heapBlocks.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

}  // namespace

// Every non-aligned form, so that no block crosses between this heap and
// another allocator's.
void* operator new(std::size_t size) {
    return counted(size);
}
void* operator new[](std::size_t size) {
    return counted(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    heapBlocks.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace TableTest {
namespace {

struct Allocations {
    std::uint64_t heap = 0;
    Kiv::U64 objects = 0;
    bool operator==(const Allocations&) const = default;
};

void PrintTo(const Allocations& a, std::ostream* out) {
    *out << a.heap << " heap blocks, " << a.objects << " runtime objects";
}

Kiv::U64 runtimeObjectsMade() {
    Kiv::U64 total = 0;
    Kiv::MemAllocationTracker::forEach(
        [&](const Kiv::MemAllocationTracker& t) { total += t.totalAllocations(); });
    return total;
}

template <class Step>
Allocations allocationsOf(Step&& step) {
    const Kiv::U64 objects = runtimeObjectsMade();
    const std::uint64_t heap = heapBlocks.load();
    step();
    const std::uint64_t heapAfter = heapBlocks.load();
    return {heapAfter - heap, runtimeObjectsMade() - objects};
}

TEST_F(PdFixture, HotPathsAllocateOnlyWhatTheyCreate) {
    keys = nullptr;
    keyManager = nullptr;
    statusManager = nullptr;
    tableIs(Backend::Pd);
    const auto m = match(1, 2, 3), absent = match(4, 5, 6), warm = match(7, 8, 9);
    const auto def = defaultMatch();
    const auto hit = entryOf(m, actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 6, 2));
    const auto onMiss = entryOf(m, actionOf(Bf::onMissActionSpec));
    const auto setDefault = entryOf(def, actionOf(Bf::twiceNatAddrPortHitActionSpec, 3, 4, 5));
    // First uses outside the measurement (trace handle, chip segment).
    table->entryIs(entryOf(warm, actionOf(Bf::onMissActionSpec)));
    table->entry(warm);
    table->entryDel(warm);

    // What storing one new pair in a handle map costs by itself.
    const auto map = Bf::twiceNatAddrPortTableHandlesFactory();
    const Allocations pair = allocationsOf([&] { map->entryIs(absent, 1); });

    const Allocations none{};
    const Allocations readBack{0, 2};  // a new match spec and a new action spec
    EXPECT_EQ(allocationsOf([&] { table->entryIs(hit); }), pair) << "add";
    EXPECT_EQ(allocationsOf([&] { table->entryIs(onMiss); }), none) << "modify";
    EXPECT_EQ(allocationsOf([&] { table->entryIs(setDefault); }), pair) << "first set-default";
    EXPECT_EQ(allocationsOf([&] { table->entryIs(setDefault); }), none) << "set-default again";
    EXPECT_EQ(allocationsOf([&] { table->entry(absent); }), none)
        << "lookup of a match not installed";
    EXPECT_EQ(allocationsOf([&] { table->entry(m); }), readBack) << "lookup";
    EXPECT_EQ(allocationsOf([&] { table->entryByHandle(handleOf(m)); }), readBack) << "read-back";
    EXPECT_EQ(allocationsOf([&] { table->entryDel(m); }), none) << "delete";
    EXPECT_EQ(allocationsOf([&] { table->entryDel(def); }), none) << "default reset";
}

}  // namespace
}  // namespace TableTest
