// Binding of the BfRt table objects when the factory initialises a BfRt table:
// the calls per table type, the module-wide objects each binding replaces, the
// entry scope, and the order of the three bindings.
#include <gmock/gmock.h>

#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using bfrt::TableType;
using ::testing::ElementsAre;

class BfrtBinding : public BfrtFixture {
  protected:
    // The log without the id lookups that the PD interface object makes.
    Texts bindingCalls() {
        Texts calls = takeCalls();
        std::erase_if(calls, [](const std::string& c) { return c.find("IdGet(") != c.npos; });
        return calls;
    }

    // The module-wide owners, named, with the object each holds.
    static std::vector<std::pair<std::string, const void*>> owners() {
        const Bf::BfRtModuleObjects& o = Bf::bfRtModuleObjects();
        return {{"entryBfRtKey", o.entryBfRtKey.get()},
                {"readBfRtKey", o.readBfRtKey.get()},
                {"readBfRtData", o.readBfRtData.get()},
                {"actionProfileBfRtKey", o.actionProfileBfRtKey.get()},
                {"actionProfileBfRtData", o.actionProfileBfRtData.get()},
                {"selectorBfRtKey", o.selectorBfRtKey.get()},
                {"selectorBfRtData", o.selectorBfRtData.get()}};
    }
};

struct BindingCase {
    TableType type;
    U16 pipe;
    const char* replaced;      // the owners that get new objects
    std::optional<int> scope;  // the entry scope set, if any
};
constexpr const char* kMatchObjects = "entryBfRtKey readBfRtKey readBfRtData ";

class BfrtBindingTest : public BfrtBinding, public ::testing::WithParamInterface<BindingCase> {};

TEST_P(BfrtBindingTest, BindsByTableType) {
    const BindingCase& c = GetParam();
    const bool match = std::string_view(c.replaced) == kMatchObjects;
    ScopedTableObject bound(bfrt::deviceObjects(kDevice).table,
                            std::make_unique<bfrt::OlvaneBfRtTable>(c.type, "bound"));
    Bf::bfRtModuleObjects().actionBfRtDataBound.fill(true);
    const auto ownersBefore = owners();
    const auto before = Chip::TestHooks::allocationCounts();
    logOn();
    bfrtTableIs(c.pipe);

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
        EXPECT_EQ(Chip::open(kDevice).entryScope(), static_cast<Chip::EntryScope>(*c.scope));
    }
    EXPECT_EQ(bindingCalls(), expected);
    EXPECT_EQ(bound->deviceTarget().pipe_id, c.pipe);

    std::string replaced;
    for (std::size_t i = 0; i < owners().size(); ++i) {
        if (owners()[i].second != ownersBefore[i].second)
            replaced += owners()[i].first + " ";
    }
    EXPECT_EQ(replaced, c.replaced);
    for (bool flag : Bf::bfRtModuleObjects().actionBfRtDataBound) {
        EXPECT_EQ(flag, !match) << "a match table binding unbinds every action's data";
    }
    const auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(after.keys.total - before.keys.total, match ? 2u : 1u);
    EXPECT_EQ(after.data.total - before.data.total, 1u);
    EXPECT_EQ(after.attributes.total - before.attributes.total, c.scope ? 1u : 0u);
    EXPECT_EQ(after.attributes.live, before.attributes.live) << "the scope object is released";
}

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

TEST_F(BfrtBinding, BindsTheThreeTableObjectsInOrderAndStopsAtAFailure) {
    auto& objects = bfrt::deviceObjects(kDevice);
    ScopedTableObject second(objects.secondTable, std::make_unique<bfrt::OlvaneBfRtTable>(
                                                      TableType::Selector, "second"));
    ScopedTableObject third(objects.thirdTable, std::make_unique<bfrt::OlvaneBfRtTable>(
                                                    TableType::ActionProfile, "third"));
    logOn();
    bfrtTableIs();
    Texts queries = bindingCalls();
    std::erase_if(queries, [](const std::string& c) { return c.find("tableTypeGet") == c.npos; });
    EXPECT_THAT(queries, ElementsAre(call("tableTypeGet"), call("tableTypeGet", {}, "second"),
                                     call("tableTypeGet", {}, "third")));
    EXPECT_EQ(third->deviceTarget().pipe_id, kPipe) << "each binding gets the same helper";

    table = nullptr;
    const auto before = Chip::TestHooks::allocationCounts();
    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableTypeGet", 1, Chip::kTryAgain);
    EXPECT_EQ(raisedBy([&] { bfrtTableIs(); }),
              (Raised{"BfTryAgain", 10,
                      "BFRT call failed: Resource temporarily not available, try again later"}));
    EXPECT_THAT(bindingCalls(), ElementsAre(call("tableTypeGet")));
    EXPECT_EQ(Chip::TestHooks::allocationCounts().keys.total, before.keys.total);
    EXPECT_EQ(Chip::TestHooks::allocationCounts().data.total, before.data.total);
}

TEST_F(BfrtBinding, IgnoresWhatDeviceTargetIsReturns) {
    for (Chip::Status status : {Chip::kInvalidArg, Chip::kNoSpace, Chip::kTryAgain}) {
        Chip::TestHooks::faultIs("OlvaneBfRtTable::deviceTargetIs", 1, status);
        logOn();
        ASSERT_EQ(raisedBy([&] { bfrtTableIs(); }), Raised{}) << status;
        EXPECT_EQ(bindingCalls().back(), call("tableAttributesSet", sessionTarget() + ", scope=1"));
    }
}

}  // namespace
}  // namespace BfrtTest
