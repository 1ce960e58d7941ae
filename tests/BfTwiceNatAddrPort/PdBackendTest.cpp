// The PD backend on the chip model: the entry scope, read-backs through a scripted entry
// reader (its calls per action and its failure sites are BackendTest's), and hot paths that
// allocate nothing of their own: heap blocks counted by this executable's operator new
// (single-object forms: ASan keeps the array ones), runtime objects by the allocation trackers.

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

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

// A scripted get_entry for read-backs the chip never gives (odd action names); exported, so
// the main program's handle finds it first. Without a script it calls the chip's.
namespace {
struct ReaderScript {
    p4_pd_status_t status = 0;
    std::array<char, P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX> actionName{};  // copied whole
};
std::optional<ReaderScript> readerScript;
decltype(&::p4_pd_olvane_switch_twiceNatAddrPort_get_entry) chipReader = nullptr;
}  // namespace

// Writes match bytes 01 0a 02 0b 03 0c and action bytes 01 00 06, padding 5a, 02 00.
extern "C" p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
    p4_pd_sess_hdl_t sess, uint8_t dev, p4_pd_entry_hdl_t hdl, bool fromHw,
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match, char* actionName, uint8_t* action,
    uint64_t* hitCount, uint8_t* isDefault) {
    if (!readerScript)
        return chipReader(sess, dev, hdl, fromHw, match, actionName, action, hitCount, isDefault);
    const uint8_t matchBytes[] = {0x01, 0x0a, 0x02, 0x0b, 0x03, 0x0c},
                  actionBytes[] = {1, 0, 6, 0x5a, 2, 0};
    std::memcpy(match, matchBytes, sizeof matchBytes);
    std::memcpy(actionName, readerScript->actionName.data(), readerScript->actionName.size());
    std::memcpy(action, actionBytes, sizeof actionBytes);
    *isDefault = 0;
    return readerScript->status;
}

namespace TableTest {
namespace {

using PdBackendTest = TableFixture;

TEST_F(PdBackendTest, SetsTheEntryScopeOfTheHelperItIsGiven) {
    EXPECT_THAT(
        callsOf([&] { tableIs(Backend::Pd); }),
        ::testing::ElementsAre(pdCall("set_property", "sess=7, dev_id=2, property=1, value=1")));
    const auto allPipes = Bf::twiceNatAddrPortTableHelperFactory(3, 0xFFFF);
    allPipes->pdLibIs(ChipTest::kPdLibraryNoBfRt, pdLibrary->handle(), 9);
    EXPECT_THAT(
        callsOf([&] { table->initializeTable(allPipes); }),
        ::testing::ElementsAre(pdCall("set_property", "sess=9, dev_id=3, property=1, value=0")));
}

TEST_F(PdBackendTest, ReadBackBuildsTheActionThatTheWholeNameNames) {
    using Handle = std::unique_ptr<void, int (*)(void*)>;
    const Handle pd(::dlopen(ChipTest::kPdLibraryNoBfRt, RTLD_NOW | RTLD_GLOBAL), ::dlclose);
    const Handle mainProgram(::dlopen(nullptr, RTLD_NOW), ::dlclose);
    chipReader = reinterpret_cast<decltype(chipReader)>(
        ::dlsym(pd.get(), "p4_pd_olvane_switch_twiceNatAddrPort_get_entry"));
    ASSERT_TRUE(chipReader);
    table = twiceNatAddrPortTableFactory(nullptr, nullptr, mainProgram.get(), kSession, kDevice,
                                         kPipe, "scripted reader");
    const auto hit = [](int type) { return described(0x0a01, 0x0b02, 0x0c03, type, 1, 6, 2); };
    using namespace std::string_view_literals;
    const struct {
        std::string_view name;
        int status;
        std::string expected;
    } cases[] = {
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic", 0, hit(4)},
        {"p4_pd_olvane_switch_twiceNatAddrPortHit\0Ecmp"sv, 0, hit(1)},  // bytes after the end
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDyn", 0, "empty"},  // shortened
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamicX", 0, "empty"},
        {"p4_pd_olvane_switch_twiceNatAddrPortHitxxxxxxxxxxxxxxxxxxxxxxxxxx", 0,
         "empty"},                                                // no end
        {"p4_pd_olvane_switch_twiceNatAddrPortHit", 6, "empty"},  // a failed read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        readerScript = ReaderScript{c.status, {}};
        c.name.copy(readerScript->actionName.data(), readerScript->actionName.size());
        Bf::TwiceNatAddrPortTableEntry e;
        EXPECT_NO_THROW(e = table->entryByHandle(5));
        EXPECT_EQ(describe(e), c.expected);
    }
    readerScript.reset();
    table = nullptr;
}

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
TEST_F(PdBackendTest, HotPathsAllocateOnlyWhatTheyCreate) {
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
