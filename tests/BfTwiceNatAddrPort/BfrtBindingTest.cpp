// Binding of the BfRt table objects when the factory initialises a BfRt table:
// the calls per table type, the module-wide objects each binding replaces, the
// entry scope, and the order of the three bindings.
#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using bfrt::TableType;

class BfrtBinding : public BfrtFixture {
  protected:
    // The calls of building a BfRt table without the id lookups of the PD interface object.
    Texts bindingCalls(U16 pipe = kPipe) {
        Texts calls = callsOf([&] { bfrtTableIs(pipe); });
        std::erase_if(calls, [](const std::string& c) { return c.find("IdGet(") != c.npos; });
        return calls;
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
    // The module-wide owners, named, with the object each holds.
    const auto owners = [] {
        const Bf::BfRtModuleObjects& o = Bf::bfRtModuleObjects();
        return std::vector<std::pair<std::string, const void*>>{
            {"entryBfRtKey", o.entryBfRtKey.get()},
            {"readBfRtKey", o.readBfRtKey.get()},
            {"readBfRtData", o.readBfRtData.get()},
            {"actionProfileBfRtKey", o.actionProfileBfRtKey.get()},
            {"actionProfileBfRtData", o.actionProfileBfRtData.get()},
            {"selectorBfRtKey", o.selectorBfRtKey.get()},
            {"selectorBfRtData", o.selectorBfRtData.get()}};
    };
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
    for (std::size_t i = 0; i < ownersBefore.size(); ++i) {
        if (owners()[i].second != ownersBefore[i].second)
            replaced += owners()[i].first + " ";
    }
    EXPECT_EQ(replaced, c.replaced);
    for (bool flag : Bf::bfRtModuleObjects().actionBfRtDataBound)
        EXPECT_EQ(flag, !match) << "a match table binding unbinds every action's data";
    EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, before.attributes.live)
        << "the scope object is released";
}

TEST_F(BfrtBinding, BindsTheThreeTableObjectsInOrderAndStopsAtAFailure) {
    auto& objects = Chip::deviceObjects(kDevice);
    ScopedTableObject second(objects.secondTable, std::make_unique<Chip::SimTable>(
                                                      TableType::Selector, "second"));
    ScopedTableObject third(objects.thirdTable, std::make_unique<Chip::SimTable>(
                                                    TableType::ActionProfile, "third"));
    Texts queries = bindingCalls();
    std::erase_if(queries, [](const std::string& c) { return c.find("tableTypeGet") == c.npos; });
    EXPECT_EQ(queries, (Texts{call("tableTypeGet"), call("tableTypeGet", {}, "second"),
                              call("tableTypeGet", {}, "third")}));
    EXPECT_EQ(third->deviceTarget().pipe_id, kPipe) << "each binding gets the same helper";

    table = nullptr;
    const auto before = Chip::TestHooks::allocationCounts();
    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableTypeGet", 1, Chip::kTryAgain);
    EXPECT_EQ(raised([&] { bindingCalls(); }).cls, "BfTryAgain");
    EXPECT_EQ(Chip::TestHooks::allocationCounts().keys.total, before.keys.total);
    EXPECT_EQ(Chip::TestHooks::allocationCounts().data.total, before.data.total);
}

TEST_F(BfrtBinding, IgnoresWhatDeviceTargetIsReturns) {
    Chip::TestHooks::faultIs("OlvaneBfRtTable::deviceTargetIs", 1, Chip::kInvalidArg);
    Texts calls;
    ASSERT_EQ(raised([&] { calls = bindingCalls(); }), Raised{});
    EXPECT_EQ(calls.back(), call("tableAttributesSet", sessionTarget() + ", scope=1"));
}

}  // namespace
}  // namespace BfrtTest
