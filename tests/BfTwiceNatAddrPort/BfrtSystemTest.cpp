// A BfRt table among its neighbours: a PD table on the same chip, a
// table of another device, the steady state, and the preconditions that the
// BfRt backend alone states or that one backend suffices to show.
#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using ChipTest::kPdLibrary;

// A PD table on the same device reads what the BfRt table installed, and the
// other way round.
TEST_F(BfrtFixture, EntriesCrossBetweenThePdAndTheBfRtBackend) {
    bfrtTableIs();
    ChipTest::SharedLibrary lib(ChipTest::kPdLibraryNoBfRt);
    auto pdTable = twiceNatAddrPortTableFactory(nullptr, nullptr, lib.handle(), kSession, kDevice,
                                                kPipe, ChipTest::kPdLibraryNoBfRt);
    const auto viaPd = matchOf(10, 20, 30), viaBfRt = matchOf(11, 21, 31);
    pdTable->entryIs(entryOf(viaPd, actionOf(2, 0x0102, 17, 0x0304)));
    program(viaBfRt, actionOf(4, 0x0506, 6, 0x0708));
    EXPECT_EQ(describe(table->entryByHandle(pdTable->helper()->sdkHandles()->entry(viaPd))),
              described(10, 20, 30, 2, 0x0102, 17, 0x0304));
    EXPECT_EQ(describe(pdTable->entryByHandle(handleOf(viaBfRt))),
              described(11, 21, 31, 4, 0x0506, 6, 0x0708));
}

TEST_F(BfrtFixture, TablesOfTwoDevicesShareTheModuleObjectsAndProgramTheirOwnChips) {
    constexpr U8 kOther = kDevice + 1;
    bfrtTableIs();
    ChipTest::SharedLibrary lib(kPdLibrary);
    auto other = twiceNatAddrPortTableFactory(nullptr, nullptr, lib.handle(), kSession, kOther,
                                              0xFFFF, kPdLibrary);

    const auto here = matchOf(1, 2, 3), there = matchOf(1, 2, 3);
    const auto hit = actionOf(kHit, 1, 6, 2);
    EXPECT_EQ(callsOf([&] { program(here, hit); })[3], call("dataAllocate"));
    const Texts otherCalls = callsOf([&] { other->entryIs(entryOf(there, hit)); });
    EXPECT_EQ(otherCalls.size(), 7u) << "the data object bound for the first table serves";
    EXPECT_EQ(otherCalls.back(),
              call("tableEntryAdd", sessionTarget(kOther, 0xFFFF) + ", " + keyText(1, 2, 3) +
                                        ", data=[action=102 11:1 12:6 13:2]"));

    EXPECT_EQ(Chip::open(kDevice).entryCount(), 1u);
    EXPECT_EQ(Chip::open(kOther).entryCount(), 1u);
    EXPECT_EQ(describe(other->entry(there)), described(1, 2, 3, 1, 1, 6, 2));
    other->entryDel(there);  // without a status manager
    EXPECT_EQ(Chip::open(kOther).entryCount(), 0u);
}

TEST_F(BfrtFixture, SteadyStateAllocatesNoBfRtObject) {
    bfrtTableIs();
    const auto& def = table->defaultMatchSpec();
    for (const ActionCase& a : kActionCases) program(def, actionOf(a.type, 1, 2, 3));
    const auto before = Chip::TestHooks::allocationCounts();
    for (U16 n = 0; n < 5; ++n) {
        const auto match = matchOf(n, n, n);
        program(match, actionOf(n, n, 6, n));
        program(match, actionOf((n + 1) % 5, n, 17, n));
        program(def, actionOf(n));
        ASSERT_NE(describe(table->entry(match)), "empty");
        table->entryDel(match);
        keys->free(keys->key(match));
    }
    const auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(after.keys.total, before.keys.total);
    EXPECT_EQ(after.data.total, before.data.total);
    EXPECT_EQ(after.attributes.total, before.attributes.total);
}

// The last binding's key and data objects serve every table object, and the runtime
// takes them only from the table that allocated them: a second table bound as a
// match table (type 7 here) leaves the twiceNatAddrPort table unable to add, one
// bound as a selector does not.
TEST_F(BfrtFixture, ASecondTableBoundAsAMatchTableTakesTheEntryObjects) {
    const struct {
        bfrt::TableType type;
        Raised raised;
    } cases[] = {{bfrt::TableType::Register, {"BfTableException", 3, ""}},
                 {bfrt::TableType::Selector, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        ScopedTableObject second(Chip::deviceObjects(kDevice).secondTable,
                                 std::make_unique<Chip::SimTable>(c.type, "second"));
        bfrtTableIs();
        Raised r = raised([&] { program(matchOf(1, 2, 3), actionOf(kHit, 1, 6, 2)); });
        r.message.clear();
        EXPECT_EQ(r, c.raised);
        EXPECT_EQ(Chip::open(kDevice).entryCount(), c.raised.status == 0 ? 1u : 0u);
    }
}

// A PD library whose getter offers the object runtime without a table object gets
// the PD backend.
TEST_F(BfrtFixture, NoTableObjectFromTheGetterMeansThePdBackend) {
    ScopedTableObject none(Chip::deviceObjects(kDevice).table, std::unique_ptr<Chip::SimTable>());
    EXPECT_EQ(&bfrtTableIs()->kivType(), &Bf::TwiceNatAddrPortTablePd::kivTypeInfo());
}

TEST_F(BfrtFixture, ViolatedPreconditionsStopTheProcess) {
    ScopedTableObject scripted(Chip::deviceObjects(kDevice).table,
                               std::make_unique<ScriptedBfRtTable>(bfrt::TableType::MatchDirect));
    bfrtTableIs();
    const auto match = matchOf(1, 2, 3);
    table->helper()->sdkHandles()->entryIs(match, 0);
    EXPECT_DEATH(table->entryDel(match), assertionFailed("!!entry_hdl"));
    // A stored default handle that the SDK does not give back.
    const auto& def = table->defaultMatchSpec();
    program(def, actionOf(kOnMiss));
    table->helper()->sdkHandles()->entryIs(def, handleOf(def) + 1);
    EXPECT_DEATH(program(def, actionOf(kOnMiss)), assertionFailed("entry_hdl == default_hdl"));
    scripted->attributesWithheld = true;
    EXPECT_DEATH(table->initializeTable(table->helper()), assertionFailed("tableAttrScope"));
}

}  // namespace
}  // namespace BfrtTest
