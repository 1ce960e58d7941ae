// Binding of the BfRt table objects when the factory initialises a BfRt table:
// the calls per table type, the module-wide objects each binding replaces, the
// entry scope, and the order of the three bindings.
#include <gmock/gmock.h>

#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using bfrt::TableType;
using ::testing::ElementsAre;

// Which module-wide objects a binding allocates.
enum class Objects { Match, ActionProfile, Selector };

struct BindingCase {
    TableType type;
    U16 pipe;
    Objects objects;
    std::optional<int> scope;  // the entry scope set, if any
};

class BfrtBinding : public BfrtFixture {
  protected:
    // The log without the id lookups that the PD interface object makes.
    std::vector<std::string> bindingCalls() {
        std::vector<std::string> calls;
        for (std::string& call : takeCalls()) {
            if (call.find("IdGet(") == std::string::npos)
                calls.push_back(std::move(call));
        }
        return calls;
    }
};

class BfrtBindingTest : public BfrtBinding, public ::testing::WithParamInterface<BindingCase> {};

TEST_P(BfrtBindingTest, BindsByTableType) {
    const BindingCase& c = GetParam();
    ScopedTableObject bound(bfrt::deviceObjects(kDevice).table,
                            std::make_unique<bfrt::OlvaneBfRtTable>(c.type, "bound"));
    Bf::BfRtModuleObjects& o = Bf::bfRtModuleObjects();
    o.actionBfRtDataBound.fill(true);
    const auto* entryKey = o.entryBfRtKey.get();
    const auto* readKey = o.readBfRtKey.get();
    const auto* readData = o.readBfRtData.get();
    const auto* profileKey = o.actionProfileBfRtKey.get();
    const auto* selectorKey = o.selectorBfRtKey.get();
    const auto before = Chip::TestHooks::allocationCounts();

    logOn();
    bfrtTableIs(c.pipe);

    std::vector<std::string> expected = {tableCall("tableTypeGet", {}, "bound")};
    if (c.objects == Objects::Match) {
        expected = expected + std::vector<std::string>{tableCall("keyAllocate", {}, "bound"),
                                                       tableCall("keyReset", {}, "bound"),
                                                       tableCall("keyAllocate", {}, "bound"),
                                                       tableCall("dataAllocate", {}, "bound")};
    } else {
        expected = expected + std::vector<std::string>{tableCall("keyAllocate", {}, "bound"),
                                                       tableCall("dataAllocate", {}, "bound")};
    }
    expected.push_back(tableCall("deviceTargetIs", "target=" + target(kDevice, c.pipe), "bound"));
    if (c.scope) {
        const std::string scope = "scope=" + std::to_string(*c.scope);
        expected =
            expected + std::vector<std::string>{
                           tableCall("attributeAllocate", "type=0", "bound"),
                           "BfRtTableAttributes::entryScopeParamsSet(" + scope + ")",
                           tableCall("tableAttributesSet",
                                     sessionTarget(kDevice, c.pipe) + ", " + scope, "bound")};
        EXPECT_EQ(Chip::open(kDevice).entryScope(), static_cast<Chip::EntryScope>(*c.scope));
    }
    EXPECT_EQ(bindingCalls(), expected);
    EXPECT_EQ(bound->deviceTarget().dev_id, kDevice);
    EXPECT_EQ(bound->deviceTarget().pipe_id, c.pipe);

    const bool match = c.objects == Objects::Match;
    EXPECT_EQ(o.entryBfRtKey.get() != entryKey, match);
    EXPECT_EQ(o.readBfRtKey.get() != readKey, match);
    EXPECT_EQ(o.readBfRtData.get() != readData, match);
    EXPECT_EQ(o.actionProfileBfRtKey.get() != profileKey, c.objects == Objects::ActionProfile);
    EXPECT_EQ(o.selectorBfRtKey.get() != selectorKey, c.objects == Objects::Selector);
    for (bool flag : o.actionBfRtDataBound) {
        EXPECT_EQ(flag, !match) << "a match table binding unbinds every action's data";
    }
    if (c.objects == Objects::ActionProfile) {
        EXPECT_NE(o.actionProfileBfRtData, nullptr);
    }
    if (c.objects == Objects::Selector) {
        EXPECT_NE(o.selectorBfRtData, nullptr);
    }

    const auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(after.keys.total - before.keys.total, match ? 2u : 1u);
    EXPECT_EQ(after.data.total - before.data.total, 1u);
    EXPECT_EQ(after.attributes.total - before.attributes.total, c.scope ? 1u : 0u);
    EXPECT_EQ(after.attributes.live, before.attributes.live) << "the scope object is released";
}

INSTANTIATE_TEST_SUITE_P(
    Types, BfrtBindingTest,
    ::testing::Values(BindingCase{TableType::MatchDirect, 1, Objects::Match, 1},
                      BindingCase{TableType::MatchDirect, 0xFFFF, Objects::Match, 0},
                      BindingCase{TableType::MatchIndirect, 3, Objects::Match, 1},
                      BindingCase{TableType::MatchIndirectSelector, 0xFFFF, Objects::Match, 0},
                      BindingCase{TableType::ActionProfile, 1, Objects::ActionProfile, {}},
                      BindingCase{TableType::Selector, 1, Objects::Selector, {}},
                      BindingCase{TableType::Register, 1, Objects::Match, {}}),
    [](const auto& info) {
        return "Type" + std::to_string(static_cast<int>(info.param.type)) + "Pipe" +
               std::to_string(info.param.pipe);
    });

TEST_F(BfrtBinding, BindsTheThreeTableObjectsInOrderAndStopsAtAFailure) {
    auto& objects = bfrt::deviceObjects(kDevice);
    ScopedTableObject second(objects.secondTable, std::make_unique<bfrt::OlvaneBfRtTable>(
                                                      TableType::Selector, "second"));
    ScopedTableObject third(objects.thirdTable, std::make_unique<bfrt::OlvaneBfRtTable>(
                                                    TableType::ActionProfile, "third"));
    const auto typeQueries = [this] {
        std::vector<std::string> queries;
        for (const std::string& call : takeCalls()) {
            if (call.starts_with("OlvaneBfRtTable::tableTypeGet"))
                queries.push_back(call);
        }
        return queries;
    };

    logOn();
    bfrtTableIs();
    EXPECT_THAT(typeQueries(),
                ElementsAre(tableCall("tableTypeGet"), tableCall("tableTypeGet", {}, "second"),
                            tableCall("tableTypeGet", {}, "third")));
    EXPECT_EQ(second->deviceTarget().pipe_id, kPipe) << "each binding gets the same helper";
    EXPECT_EQ(third->deviceTarget().pipe_id, kPipe);

    table = nullptr;
    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableTypeGet", 1, Chip::kNoSpace);
    EXPECT_EQ(raisedBy([&] { bfrtTableIs(); }).status, U32{Chip::kNoSpace});
    EXPECT_THAT(typeQueries(), ElementsAre(tableCall("tableTypeGet")));
}

TEST_F(BfrtBinding, TryAgainFromTheTypeQueryComesBeforeAnyAllocation) {
    const auto before = Chip::TestHooks::allocationCounts();
    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableTypeGet", 1, Chip::kTryAgain);
    logOn();
    EXPECT_EQ(raisedBy([&] { bfrtTableIs(); }),
              (Raised{"BfTryAgain", 10,
                      "BFRT call failed: Resource temporarily not available, try again later"}));
    EXPECT_THAT(bindingCalls(), ElementsAre(tableCall("tableTypeGet")));
    const auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(after.keys.total, before.keys.total);
    EXPECT_EQ(after.data.total, before.data.total);
    EXPECT_EQ(table, nullptr);
}

TEST_F(BfrtBinding, IgnoresWhatDeviceTargetIsReturns) {
    for (Chip::Status status : {Chip::kInvalidArg, Chip::kNoSpace, Chip::kTryAgain}) {
        Chip::TestHooks::faultIs("OlvaneBfRtTable::deviceTargetIs", 1, status);
        logOn();
        ASSERT_EQ(raisedBy([&] { bfrtTableIs(); }), Raised{}) << status;
        EXPECT_EQ(bindingCalls().back(),
                  tableCall("tableAttributesSet", sessionTarget() + ", scope=1"));
        auto match = matchOf(1, 3, 2);
        table->entryIs(entryOf(match, actionOf(Bf::onMissActionSpec)));
        EXPECT_NE(handleOf(match), 0u);
        table->entryDel(match);
        keys->free(keys->key(match));
    }
}

}  // namespace
}  // namespace BfrtTest
