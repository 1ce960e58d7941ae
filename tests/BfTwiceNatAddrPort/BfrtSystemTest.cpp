// A BfRt table as a whole: binding per table type, the module-wide objects, the three
// table objects, another device's table, the BfRt backend's own preconditions.
#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using bfrt::TableType;

struct BindingCase {
    TableType type;
    U16 pipe;
    const char* replaced;      // the owners that get new objects
    std::optional<int> scope;  // the entry scope set, if any
};
constexpr const char* kMatchObjects = "entryBfRtKey readBfRtKey readBfRtData ";

class BfrtBindingTest : public BfrtFixture, public ::testing::WithParamInterface<BindingCase> {};

INSTANTIATE_TEST_SUITE_P(
    Types, BfrtBindingTest,
    ::testing::Values(
        BindingCase{TableType::MatchDirect, 1, kMatchObjects, 1},
        BindingCase{TableType::MatchDirect, 0xFFFF, kMatchObjects, 0},
        BindingCase{TableType::MatchIndirect, 3, kMatchObjects, 1},
        BindingCase{TableType::MatchIndirectSelector, 0xFFFF, kMatchObjects, 0},
        BindingCase{TableType::ActionProfile, 1, "actionProfileBfRtKey actionProfileBfRtData ", {}},
        BindingCase{TableType::Selector, 1, "selectorBfRtKey selectorBfRtData ", {}},
        BindingCase{TableType::Register, 1, kMatchObjects, {}}),
    [](const auto& info) {
        return "Type" + std::to_string(static_cast<int>(info.param.type)) + "Pipe" +
               std::to_string(info.param.pipe);
    });

TEST_P(BfrtBindingTest, BindsByTableType) {
    const BindingCase& c = GetParam();
    const bool match = std::string_view(c.replaced) == kMatchObjects;
    ScopedTableObject bound(Chip::deviceObjects(kDevice).table,
                            std::make_unique<Chip::SimTable>(c.type, "bound"));
#define OWNER(name) std::pair<std::string, const void*>(#name, o.name.get())
    const auto owners = [] {  // the module-wide owners
        const Bf::BfRtModuleObjects& o = Bf::bfRtModuleObjects();
        return std::vector{OWNER(entryBfRtKey),          OWNER(readBfRtKey),
                           OWNER(readBfRtData),          OWNER(actionProfileBfRtKey),
                           OWNER(actionProfileBfRtData), OWNER(selectorBfRtKey),
                           OWNER(selectorBfRtData)};
    };
#undef OWNER
    Bf::bfRtModuleObjects().actionBfRtDataBound.fill(true);
    const auto ownersBefore = owners();
    const auto before = Chip::TestHooks::allocationCounts();

    const auto on = [](const char* method, const std::string& args = {}) {
        return call(method, args, "bound");
    };
    Texts expected = {on("tableTypeGet"), on("keyAllocate")};
    if (match)
        expected = expected + Texts{on("keyReset"), on("keyAllocate")};
    expected = expected +
               Texts{on("dataAllocate"), on("deviceTargetIs", "target=" + target(kDevice, c.pipe))};
    if (c.scope) {
        const std::string scope = "scope=" + std::to_string(*c.scope);
        expected = expected +
                   Texts{on("attributeAllocate", "type=0"),
                         "BfRtTableAttributes::entryScopeParamsSet(" + scope + ")",
                         on("tableAttributesSet", sessionTarget(kDevice, c.pipe) + ", " + scope)};
    }
    EXPECT_EQ(bindingCalls(c.pipe), expected);
    EXPECT_EQ(bound->deviceTarget().pipe_id, c.pipe);
    std::string replaced;
    for (std::size_t i = 0; i < ownersBefore.size(); ++i)
        replaced += owners()[i].second != ownersBefore[i].second ? owners()[i].first + " " : "";
    EXPECT_EQ(replaced, c.replaced);
    for (bool flag : Bf::bfRtModuleObjects().actionBfRtDataBound)
        EXPECT_EQ(flag, !match) << "a match table binding unbinds every action's data";
    EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, before.attributes.live)
        << "the scope object is released";
}

TEST_F(BfrtFixture, BindsTheThreeTableObjectsInOrderIgnoringDeviceTargetIsAndStopsAtAFailure) {
    auto& objects = Chip::deviceObjects(kDevice);
    ScopedTableObject second(objects.secondTable,
                             std::make_unique<Chip::SimTable>(TableType::Selector, "second"));
    ScopedTableObject third(objects.thirdTable,
                            std::make_unique<Chip::SimTable>(TableType::ActionProfile, "third"));
    Chip::TestHooks::faultIs("OlvaneBfRtTable::deviceTargetIs", 1, Chip::kInvalidArg);
    Texts queries = bindingCalls();  // each after the ignored failure
    std::erase_if(queries, [](const std::string& c) { return c.find("tableTypeGet") == c.npos; });
    EXPECT_EQ(queries, (Texts{call("tableTypeGet"), call("tableTypeGet", {}, "second"),
                              call("tableTypeGet", {}, "third")}));
    EXPECT_EQ(third->deviceTarget().pipe_id, kPipe) << "each binding gets the same helper";

    table = nullptr;
    const auto before = Chip::TestHooks::allocationCounts();
    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableTypeGet", 1, Chip::kTryAgain);
    EXPECT_EQ(raised([&] { bfrtTableIs(); }).cls, "BfTryAgain");
    const auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(std::pair(after.keys.total, after.data.total),
              std::pair(before.keys.total, before.data.total));
}

TEST_F(BfrtFixture, TablesOfTwoDevicesShareTheModuleObjectsAndProgramTheirOwnChips) {
    constexpr U8 kOther = kDevice + 1;
    bfrtTableIs();
    ChipTest::SharedLibrary lib(ChipTest::kPdLibrary);
    auto other = twiceNatAddrPortTableFactory(nullptr, nullptr, lib.handle(), kSession, kOther,
                                              0xFFFF, ChipTest::kPdLibrary);
    const auto here = matchOf(1, 2, 3), there = matchOf(1, 2, 3);
    const auto hit = actionOf(kHit, 1, 6, 2);
    EXPECT_EQ(callsOf([&] { program(here, hit); })[3], call("dataAllocate"));
    const Texts otherCalls = callsOf([&] { other->entryIs(entryOf(there, hit)); });
    EXPECT_EQ(otherCalls.size(), 7u) << "the data object bound for the first table serves";
    EXPECT_EQ(otherCalls.back(),
              call("tableEntryAdd", sessionTarget(kOther, 0xFFFF) + ", " + keyText(1, 2, 3) +
                                        ", data=[action=102 11:1 12:6 13:2]"));
    EXPECT_EQ(Chip::open(kDevice).entryCount(), 1u);
    EXPECT_EQ(describe(other->entry(there)), described(1, 2, 3, 1, 1, 6, 2));
    other->entryDel(there);  // without a status manager
    EXPECT_EQ(Chip::open(kOther).entryCount(), 0u);
}

// The last binding's key and data objects serve every table object, and only the table
// that allocated them takes them: a second match table (type 7) leaves this one unable
// to add, a selector does not. The object runtime without a table object gets PD.
TEST_F(BfrtFixture, ASecondTableBoundAsAMatchTableTakesTheEntryObjects) {
    for (const auto type : {TableType::Register, TableType::Selector}) {
        SCOPED_TRACE(static_cast<int>(type));
        ScopedTableObject second(Chip::deviceObjects(kDevice).secondTable,
                                 std::make_unique<Chip::SimTable>(type, "second"));
        bfrtTableIs();
        const bool refused = type == TableType::Register;
        const Raised r = raised([&] { program(matchOf(1, 2, 3), actionOf(kHit, 1, 6, 2)); });
        EXPECT_EQ(std::tuple(r.cls, r.status),
                  refused ? std::tuple("BfTableException", 3u) : std::tuple("nothing", 0u));
        EXPECT_EQ(Chip::open(kDevice).entryCount(), refused ? 0u : 1u);
    }
    ScopedTableObject none(Chip::deviceObjects(kDevice).table, std::unique_ptr<Chip::SimTable>());
    EXPECT_EQ(&bfrtTableIs()->kivType(), &Bf::TwiceNatAddrPortTablePd::kivTypeInfo());
}

TEST_F(BfrtFixture, ViolatedPreconditionsStopTheProcess) {
    ScopedTableObject scripted(Chip::deviceObjects(kDevice).table,
                               std::make_unique<ScriptedBfRtTable>(TableType::MatchDirect));
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
