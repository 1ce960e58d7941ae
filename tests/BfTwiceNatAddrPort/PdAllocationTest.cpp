// The PD backend's hot paths allocate nothing of their own: heap blocks counted by this
// executable's operator new (single-object forms: ASan keeps the array ones), runtime
// objects by the allocation trackers.

#include <atomic>
#include <cstdlib>
#include <new>

#include "TableTestSupport.h"

namespace {
std::atomic<std::uint64_t> heapBlocks{0};
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    heapBlocks.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size) {
    if (void* p = operator new(size, std::nothrow))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace TableTest {
namespace {

// Heap blocks and runtime objects that `step` made.
template <class Step>
std::pair<std::uint64_t, U64> allocationsOf(Step&& step) {
    const auto objects = [] {
        U64 total = 0;
        Kiv::MemAllocationTracker::forEach(
            [&](const Kiv::MemAllocationTracker& t) { total += t.totalAllocations(); });
        return total;
    };
    const U64 objectsBefore = objects();
    const std::uint64_t heap = heapBlocks.load();
    step();
    const std::uint64_t heapAfter = heapBlocks.load();  // before objects() allocates
    return {heapAfter - heap, objects() - objectsBefore};
}

// Without key and status manager, which every operation must also do without.
TEST_F(TableFixture, PdHotPathsAllocateOnlyWhatTheyCreate) {
    keys = nullptr;
    statusManager = nullptr;
    tableIs(Backend::Pd);
    const auto m = matchOf(1, 2, 3), absent = matchOf(4, 5, 6), warm = matchOf(7, 8, 9);
    const auto& def = table->defaultMatchSpec();
    const auto hit = entryOf(m, actionOf(kHitEcmp, 1, 6, 2)),
               onMiss = entryOf(m, actionOf(kOnMiss));
    const auto setDefault = entryOf(def, actionOf(kHit, 3, 4, 5));
    // First uses outside the measurement (trace handle, chip segment).
    program(warm, actionOf(kOnMiss));
    table->entry(warm);
    table->entryDel(warm);
    // What storing one new pair in a handle map costs by itself.
    const auto map = Bf::twiceNatAddrPortTableHandlesFactory();
    const auto pair = allocationsOf([&] { map->entryIs(absent, 1); });

    const std::pair<std::uint64_t, U64> none{0, 0};
    const std::pair<std::uint64_t, U64> readBack{0, 2};  // a new match spec and action spec
    // The handle map reuses the node that deleting `warm` gave back.
    EXPECT_EQ(allocationsOf([&] { table->entryIs(hit); }), none) << "add after a delete";
    EXPECT_EQ(allocationsOf([&] { table->entryIs(onMiss); }), none) << "modify";
    EXPECT_EQ(allocationsOf([&] { table->entryIs(setDefault); }), pair) << "first set-default";
    EXPECT_EQ(allocationsOf([&] { table->entryIs(setDefault); }), none) << "set-default again";
    EXPECT_EQ(allocationsOf([&] { table->entry(absent); }), none) << "lookup, not installed";
    EXPECT_EQ(allocationsOf([&] { table->entry(m); }), readBack) << "lookup";
    EXPECT_EQ(allocationsOf([&] { table->entryByHandle(handleOf(m)); }), readBack) << "read-back";
    EXPECT_EQ(allocationsOf([&] { table->entryDel(m); }), none) << "delete";
    EXPECT_EQ(allocationsOf([&] { table->entryDel(def); }), none) << "default reset";
    EXPECT_EQ(Chip::open(kDevice).entryCount(), 0u);
}

}  // namespace
}  // namespace TableTest
