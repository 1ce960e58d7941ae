// Programming, deleting and reading entries of a BfRt table: the exact calls
// of each action, the reuse of the key and data objects, and the read-back.
#include <gmock/gmock.h>

#include <algorithm>
#include <span>

#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BfrtActionTest : public BfrtFixture, public ::testing::WithParamInterface<ActionCase> {
  protected:
    Bf::TwiceNatAddrPortBaseActionSpec::Ptr action(U16 rwId, U8 prot, U16 param) const {
        return actionOf(GetParam().type, rwId, prot, param);
    }
    std::string data(U64 rwId, U64 prot, U64 param) const {
        return dataText(GetParam(), rwId, prot, param);
    }
    std::vector<std::string> sets(U64 rwId, U64 prot, U64 param) const {
        return dataSets(GetParam(), rwId, prot, param);
    }
    std::vector<std::string> binding() const {
        return {tableCall("dataAllocate"),
                tableCall("dataReset", "action=" + std::to_string(GetParam().actionId))};
    }
};

TEST_P(BfrtActionTest, AddModifyAndDefaultSetMakeExactCallsAndBindDataOnce) {
    bfrtTableIs();
    auto first = matchOf(1, 3, 2);
    auto second = matchOf(4, 6, 5);
    const std::vector<std::string> firstKey = {keySet(1, 1), keySet(2, 2), keySet(3, 3)};
    const std::string alloc = "ZabroKeyManager::alloc(reuseBound=0)";
    logOn();

    table->entryIs(entryOf(first, action(7, 17, 300)));
    EXPECT_EQ(takeCalls(),
              firstKey + std::vector{alloc} + binding() + sets(7, 17, 300) +
                  std::vector{tableCall("tableEntryAdd", sessionTarget() + ", " + keyText(1, 2, 3) +
                                                             ", " + data(7, 17, 300))});
    const BfnTable::BfnSdkEntryHandle firstHandle = handleOf(first);
    EXPECT_NE(firstHandle, 0u);

    table->entryIs(entryOf(second, action(0xFFFF, 255, 0xFFFF)));
    const std::vector<std::string> secondKey = {keySet(1, 4), keySet(2, 5), keySet(3, 6), alloc};
    EXPECT_EQ(takeCalls(),
              secondKey + sets(0xFFFF, 255, 0xFFFF) +
                  std::vector{tableCall("tableEntryAdd", sessionTarget() + ", " + keyText(4, 5, 6) +
                                                             ", " + data(0xFFFF, 255, 0xFFFF))});

    table->entryIs(entryOf(first, action(8, 18, 301)));
    EXPECT_EQ(takeCalls(),
              sets(8, 18, 301) +
                  std::vector{tableCall("tableEntryMod", sessionTarget() + ", flags=32, hdl=" +
                                                             std::to_string(firstHandle) + ", " +
                                                             data(8, 18, 301))});
    EXPECT_EQ(handleOf(first), firstHandle);

    const std::string defaultSet =
        tableCall("tableDefaultEntrySet", sessionTarget() + ", flags=32, " + data(9, 19, 302));
    const auto defaultMatch = table->defaultMatchSpec();
    table->entryIs(entryOf(defaultMatch, action(9, 19, 302)));
    EXPECT_EQ(takeCalls(), std::vector{alloc} + sets(9, 19, 302) + std::vector{defaultSet});
    const BfnTable::BfnSdkEntryHandle defaultHandle = handleOf(defaultMatch);
    EXPECT_NE(defaultHandle, 0u);

    table->entryIs(entryOf(defaultMatch, action(9, 19, 302)));
    EXPECT_EQ(takeCalls(), sets(9, 19, 302) + std::vector{defaultSet});

    table->initializeTable(table->helper());
    takeCalls();
    table->entryIs(entryOf(defaultMatch, action(9, 19, 302)));
    EXPECT_EQ(takeCalls(), binding() + sets(9, 19, 302) + std::vector{defaultSet})
        << "a new binding binds the data object anew";
    EXPECT_EQ(handleOf(defaultMatch), defaultHandle);

    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 3u);
    EXPECT_EQ(keys->recordCount(), 3u);
    EXPECT_EQ(statusManager->initStatusCount(), 6u);
    EXPECT_EQ(statusManager->touches(first), 2u);
}

TEST_P(BfrtActionTest, ReadsBackWhatWasAdded) {
    bfrtTableIs();
    auto match = matchOf(0xFFFF, 3, 2);
    auto added = action(0xFEDC, 200, 0xBA98);
    added->rwIdIs(0xFEDC);  // onMiss keeps them too, and reads them back as 0
    added->protIs(200);
    table->entryIs(entryOf(match, added));
    const BfnTable::BfnSdkEntryHandle handle = handleOf(match);

    logOn();
    const Bf::TwiceNatAddrPortTableEntry read = table->entry(match);
    std::vector<std::string> expected = {
        tableCall("keyReset"),
        tableCall("dataReset"),
        tableCall("tableEntryGet", sessionTarget() + ", flags=0, hdl=" + std::to_string(handle)),
        "BfRtTableData::actionIdGet()",
        "BfRtTableKey::getValue(field=1)",
        "BfRtTableKey::getValue(field=2)",
        "BfRtTableKey::getValue(field=3)"};
    const ActionCase& a = GetParam();
    for (U32 i = 0; a.firstField != 0 && i < 3; ++i)
        expected.push_back("BfRtTableData::getValue(field=" + std::to_string(a.firstField + i) +
                           ")");
    EXPECT_EQ(takeCalls(), expected);

    const bool onMiss = a.type == Bf::onMissActionSpec;
    EXPECT_EQ(describe(read),
              describe(entryOf(matchOf(0xFFFF, 3, 2),
                               onMiss ? actionOf(a.type) : action(0xFEDC, 200, 0xBA98))));
    EXPECT_NE(read.match(), match) << "the read-back builds its own match";
}

INSTANTIATE_TEST_SUITE_P(Actions, BfrtActionTest, ::testing::ValuesIn(kActionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BfrtFixture, ModifyToAnotherActionBindsItsDataAndBuildsNoKey) {
    bfrtTableIs();
    auto match = matchOf(1, 3, 2);
    table->entryIs(entryOf(match, actionOf(Bf::twiceNatAddrPortHitActionSpec, 1, 6, 2)));
    logOn();
    table->entryIs(entryOf(match, actionOf(Bf::onMissActionSpec)));
    EXPECT_THAT(takeCalls(),
                ElementsAre(tableCall("dataAllocate"), tableCall("dataReset", "action=101"),
                            tableCall("tableEntryMod", sessionTarget() + ", flags=32, hdl=" +
                                                           std::to_string(handleOf(match)) +
                                                           ", data=[action=101]")));
    EXPECT_EQ(describe(table->entry(match)),
              describe(entryOf(matchOf(1, 3, 2), actionOf(Bf::onMissActionSpec))));
}

TEST_F(BfrtFixture, OnlyTheDefaultMatchObjectSetsTheDefaultEntry) {
    bfrtTableIs();
    auto lookalike = matchOf(0, 0, 0);
    logOn();
    table->entryIs(entryOf(lookalike, actionOf(Bf::onMissActionSpec)));
    const BfnTable::BfnSdkEntryHandle lookalikeHandle = handleOf(lookalike);
    EXPECT_EQ(takeCalls().back(),
              tableCall("tableEntryAdd",
                        sessionTarget() + ", " + keyText(0, 0, 0) + ", data=[action=101]"));
    EXPECT_FALSE(table->helper()->sdkHandles()->entryHas(table->defaultMatchSpec()));

    table->entryIs(entryOf(table->defaultMatchSpec(), actionOf(Bf::onMissActionSpec)));
    table->entryDel(lookalike);
    table->entryDel(table->defaultMatchSpec());
    EXPECT_THAT(takeCalls(),
                ElementsAre("ZabroKeyManager::alloc(reuseBound=0)",
                            tableCall("tableDefaultEntrySet",
                                      sessionTarget() + ", flags=32, data=[action=101]"),
                            tableCall("tableEntryDel",
                                      sessionTarget() + ", hdl=" + std::to_string(lookalikeHandle)),
                            tableCall("tableDefaultEntryReset", sessionTarget())));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_EQ(statusManager->touches(table->defaultMatchSpec()), 2u);
}

TEST_F(BfrtFixture, WorksWithoutKeyAndStatusManagersOnAllPipes) {
    keyManager = nullptr;
    statusManager = nullptr;
    bfrtTableIs(0xFFFF);
    auto match = matchOf(1, 3, 2);
    logOn();
    table->entryIs(entryOf(match, actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 6, 2)));
    table->entryIs(entryOf(table->defaultMatchSpec(), actionOf(Bf::onMissActionSpec)));
    const std::vector<std::string> calls = takeCalls();
    EXPECT_EQ(calls[8],
              tableCall("tableEntryAdd", sessionTarget(kDevice, 0xFFFF) + ", " + keyText(1, 2, 3) +
                                             ", data=[action=104 31:1 32:6 33:2]"));
    EXPECT_EQ(calls.size(), 12u) << "no key manager request in between";
    EXPECT_EQ(describe(table->entry(match)),
              describe(entryOf(matchOf(1, 3, 2),
                               actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 6, 2))));
    EXPECT_NE(handleOf(table->defaultMatchSpec()), 0u);
}

TEST_F(BfrtFixture, ReadBackTruncatesFieldsAndGivesUpOnUnknownActionsAndFailedReads) {
    ScopedTableObject scripted(bfrt::deviceObjects(kDevice).table,
                               std::make_unique<ScriptedBfRtTable>(bfrt::TableType::MatchDirect));
    bfrtTableIs();
    auto match = matchOf(5, 3, 2);
    table->entryIs(entryOf(match, actionOf(Bf::twiceNatAddrPortHitActionSpec, 1, 6, 2)));

    scripted->readNatKeyId = (U64{1} << 16) + 1;
    scripted->readProt = 262;
    EXPECT_EQ(
        describe(table->entry(match)),
        describe(entryOf(matchOf(1, 3, 2), actionOf(Bf::twiceNatAddrPortHitActionSpec, 1, 6, 2))));

    scripted->readActionId = 999;
    logOn();
    EXPECT_EQ(describe(table->entry(match)), "empty");
    EXPECT_EQ(takeCalls().size(), 7u) << "no data field is read for an unknown action";

    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableEntryGet", 1, Chip::kObjectNotFound);
    Bf::TwiceNatAddrPortTableEntry read;
    EXPECT_EQ(raisedBy([&] { read = table->entryByHandle(handleOf(match)); }), Raised{});
    EXPECT_EQ(describe(read), "empty");
    EXPECT_EQ(takeCalls().back(), tableCall("tableEntryGet", sessionTarget() + ", flags=0, hdl=" +
                                                                 std::to_string(handleOf(match))));
    EXPECT_EQ(describe(table->entryByHandle(12345)), "empty") << "an unknown handle";
}

TEST_F(BfrtFixture, DataObjectWhoseResetFailedIsBoundAgainOnNextUse) {
    bfrtTableIs();
    auto match = matchOf(1, 3, 2);
    const auto entry =
        entryOf(match, actionOf(Bf::twiceNatAddrPortHitEcmpDynamicActionSpec, 1, 6, 2));
    Chip::TestHooks::faultIs("OlvaneBfRtTable::dataReset", 1, Chip::kInvalidArg);
    EXPECT_EQ(raisedBy([&] { table->entryIs(entry); }).status, U32{Chip::kInvalidArg});
    EXPECT_FALSE(Bf::bfRtModuleObjects().actionBfRtDataBound[4]);
    logOn();
    table->entryIs(entry);
    EXPECT_EQ(takeCalls()[4], tableCall("dataAllocate"));
    EXPECT_TRUE(Bf::bfRtModuleObjects().actionBfRtDataBound[4]);
}

// ---- Failure sites

enum class Op { Bind, Add, Modify, SetDefault, Delete, ResetDefault, Read };
constexpr const char* kOpNames[] = {"Bind",   "Add",          "Modify", "SetDefault",
                                    "Delete", "ResetDefault", "Read"};

struct Site {
    Op op;
    const char* call;
    const char* operation;  // reported by an operation check; null for a call check
};

constexpr Site kSites[] = {
    {Op::Bind, "OlvaneBfRtTable::tableTypeGet", nullptr},
    {Op::Bind, "OlvaneBfRtTable::keyAllocate", nullptr},
    {Op::Bind, "OlvaneBfRtTable::keyReset", nullptr},
    {Op::Bind, "OlvaneBfRtTable::dataAllocate", nullptr},
    {Op::Bind, "OlvaneBfRtTable::attributeAllocate", nullptr},
    {Op::Bind, "BfRtTableAttributes::entryScopeParamsSet", nullptr},
    {Op::Bind, "OlvaneBfRtTable::tableAttributesSet", nullptr},
    {Op::Add, "BfRtTableKey::setValue", nullptr},
    {Op::Add, "OlvaneBfRtTable::dataAllocate", nullptr},
    {Op::Add, "OlvaneBfRtTable::dataReset", nullptr},
    {Op::Add, "BfRtTableData::setValue", nullptr},
    {Op::Add, "OlvaneBfRtTable::tableEntryAdd", "twiceNatAddrPort_tableEntryAdd"},
    {Op::Modify, "OlvaneBfRtTable::dataAllocate", nullptr},
    {Op::Modify, "OlvaneBfRtTable::tableEntryMod", "twiceNatAddrPort_tableEntryMod"},
    {Op::SetDefault, "BfRtTableData::setValue", nullptr},
    {Op::SetDefault, "OlvaneBfRtTable::tableDefaultEntrySet",
     "twiceNatAddrPort_tableDefaultEntrySet"},
    {Op::Delete, "OlvaneBfRtTable::tableEntryDel", "twiceNatAddrPort_tableEntryDel"},
    {Op::ResetDefault, "OlvaneBfRtTable::tableDefaultEntryReset",
     "twiceNatAddrPort_tableDefaultEntryReset"},
    {Op::Read, "OlvaneBfRtTable::keyReset", nullptr},
    {Op::Read, "OlvaneBfRtTable::dataReset", nullptr},
    {Op::Read, "BfRtTableData::actionIdGet", nullptr},
    {Op::Read, "BfRtTableKey::getValue", nullptr},
    {Op::Read, "BfRtTableData::getValue", nullptr},
};

struct Outcome {
    Chip::Status status;
    const char* kind;
    const char* text;
};
constexpr Outcome kCallCheck[] = {
    {10, "BfTryAgain", "Resource temporarily not available, try again later"},
    {9, "BfTableException", "Not enough space"}};
constexpr Outcome kOperationCheck[] = {
    {4, "BfDuplicateEntry", "Already exists"},
    {9, "BfTableFull", "Not enough space"},
    {10, "BfTableException", "Resource temporarily not available, try again later"}};

struct FailureCase {
    Site site;
    Outcome outcome;

    Raised expected() const {
        const std::string prefix =
            site.operation ? std::string(site.operation) + "() failed: " : "BFRT call failed: ";
        return {outcome.kind, static_cast<U32>(outcome.status), prefix + outcome.text};
    }
};

std::vector<FailureCase> failureCases() {
    std::vector<FailureCase> cases;
    for (const Site& site : kSites) {
        for (const Outcome& outcome : site.operation ? std::span<const Outcome>(kOperationCheck)
                                                     : std::span<const Outcome>(kCallCheck))
            cases.push_back({site, outcome});
    }
    return cases;
}

class BfrtFailureTest : public BfrtFixture, public ::testing::WithParamInterface<FailureCase> {};

// The table's state is checked after the raise; every operation uses the
// action twiceNatAddrPortHitEcmp, which is not bound yet when it starts.
TEST_P(BfrtFailureTest, RaisesItsSitesExceptionAndKeepsTheStateAsItWas) {
    const FailureCase& c = GetParam();
    const Op op = c.site.op;
    auto installed = matchOf(1, 3, 2);
    auto fresh = matchOf(4, 6, 5);
    const auto ecmp = actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 6, 2);
    Bf::BfRtModuleObjects& o = Bf::bfRtModuleObjects();
    if (op != Op::Bind) {
        bfrtTableIs();
        table->entryIs(entryOf(installed, actionOf(Bf::twiceNatAddrPortHitActionSpec, 1, 6, 2)));
    }
    Bf::TwiceNatAddrPortMatchSpec::Ptr defaultMatch;
    if (op != Op::Bind)
        defaultMatch = table->defaultMatchSpec();
    if (op == Op::ResetDefault)
        table->entryIs(entryOf(defaultMatch, ecmp));
    const BfnTable::BfnSdkEntryHandle handle = op == Op::Bind ? 0 : handleOf(installed);
    const U64 records = keys->recordCount();
    const U64 inits = statusManager->initStatusCount();
    if (op == Op::Bind)
        o.actionBfRtDataBound.fill(true);
    const auto attributes = Chip::TestHooks::allocationCounts().attributes.live;

    Chip::TestHooks::faultIs(c.site.call, 1, c.outcome.status);
    const Raised raised = raisedBy([&] {
        switch (op) {
            case Op::Bind:
                bfrtTableIs();
                break;
            case Op::Add:
                table->entryIs(entryOf(fresh, ecmp));
                break;
            case Op::Modify:
                table->entryIs(entryOf(installed, ecmp));
                break;
            case Op::SetDefault:
                table->entryIs(entryOf(defaultMatch, ecmp));
                break;
            case Op::Delete:
                table->entryDel(installed);
                break;
            case Op::ResetDefault:
                table->entryDel(defaultMatch);
                break;
            case Op::Read:
                table->entryByHandle(handle);
                break;
        }
    });
    EXPECT_EQ(raised, c.expected());
    EXPECT_EQ(Chip::TestHooks::faultsPending(c.site.call), 0u) << "the site was reached";

    EXPECT_EQ(keys->recordCount(), records) << "no key is left allocated, none freed";
    const bool deleting = op == Op::Delete || op == Op::ResetDefault;
    EXPECT_EQ(statusManager->initStatusCount(), inits + (deleting ? 1 : 0));
    if (op == Op::Bind) {
        // The bound flags are cleared once the objects are allocated, before the scope is set.
        const bool settingScope =
            std::string_view(c.site.call).find("ttribute") != std::string::npos;
        EXPECT_EQ(table, nullptr);
        EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, attributes);
        EXPECT_EQ(o.actionBfRtDataBound[0], !settingScope);
        return;
    }
    const auto& handles = *table->helper()->sdkHandles();
    EXPECT_EQ(handles.entryHas(installed), op != Op::Delete)
        << "a failed delete has taken the match out already";
    EXPECT_EQ(handles.entryHas(defaultMatch), false);
    EXPECT_EQ(handles.entryHas(fresh), false);
    if (op != Op::Delete) {
        EXPECT_EQ(handleOf(installed), handle);
    }
}

INSTANTIATE_TEST_SUITE_P(Sites, BfrtFailureTest, ::testing::ValuesIn(failureCases()),
                         [](const auto& info) {
                             std::string name =
                                 std::string(kOpNames[static_cast<int>(info.param.site.op)]) + "_" +
                                 info.param.site.call + "_" +
                                 std::to_string(info.param.outcome.status);
                             std::replace(name.begin(), name.end(), ':', '_');
                             return name;
                         });

}  // namespace
}  // namespace BfrtTest
