// Programming, deleting and reading entries of a BfRt table: the exact calls
// of each action, the reuse of the key and data objects, and the read-back.
#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <span>

#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using ::testing::ElementsAre;

class BfrtActionTest : public BfrtFixture, public ::testing::WithParamInterface<ActionCase> {
  protected:
    Bf::TwiceNatAddrPortBaseActionSpec::Ptr action(U16 rwId, U8 prot, U16 param) const {
        return actionOf(GetParam().type, rwId, prot, param);
    }
    std::string data(U64 rwId, U64 prot, U64 param) const {
        return dataText(GetParam(), rwId, prot, param);
    }
    Texts sets(U64 rwId, U64 prot, U64 param) const {
        return dataSets(GetParam(), rwId, prot, param);
    }
    Texts binding() const {
        return {call("dataAllocate"),
                call("dataReset", "action=" + std::to_string(GetParam().actionId))};
    }
};

TEST_P(BfrtActionTest, AddModifyAndDefaultSetMakeExactCallsAndBindDataOnce) {
    bfrtTableIs();
    auto first = matchOf(1, 3, 2);
    auto second = matchOf(4, 6, 5);
    const Texts firstKey = {keySet(1, 1), keySet(2, 2), keySet(3, 3)};
    const std::string alloc = "ZabroKeyManager::alloc(reuseBound=0)";
    logOn();

    table->entryIs(entryOf(first, action(7, 17, 300)));
    EXPECT_EQ(takeCalls(),
              firstKey + std::vector{alloc} + binding() + sets(7, 17, 300) +
                  std::vector{call("tableEntryAdd", sessionTarget() + ", " + keyText(1, 2, 3) +
                                                        ", " + data(7, 17, 300))});
    const BfnTable::BfnSdkEntryHandle firstHandle = handleOf(first);
    EXPECT_NE(firstHandle, 0u);

    table->entryIs(entryOf(second, action(0xFFFF, 255, 0xFFFF)));
    const Texts secondKey = {keySet(1, 4), keySet(2, 5), keySet(3, 6), alloc};
    EXPECT_EQ(takeCalls(),
              secondKey + sets(0xFFFF, 255, 0xFFFF) +
                  std::vector{call("tableEntryAdd", sessionTarget() + ", " + keyText(4, 5, 6) +
                                                        ", " + data(0xFFFF, 255, 0xFFFF))});

    table->entryIs(entryOf(first, action(8, 18, 301)));
    EXPECT_EQ(
        takeCalls(),
        sets(8, 18, 301) + std::vector{call("tableEntryMod", sessionTarget() + ", flags=32, hdl=" +
                                                                 std::to_string(firstHandle) +
                                                                 ", " + data(8, 18, 301))});
    EXPECT_EQ(handleOf(first), firstHandle);

    const std::string defaultSet =
        call("tableDefaultEntrySet", sessionTarget() + ", flags=32, " + data(9, 19, 302));
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
    Texts expected = {
        call("keyReset"),
        call("dataReset"),
        call("tableEntryGet", sessionTarget() + ", flags=0, hdl=" + std::to_string(handle)),
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
                ElementsAre(call("dataAllocate"), call("dataReset", "action=101"),
                            call("tableEntryMod", sessionTarget() + ", flags=32, hdl=" +
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
    EXPECT_EQ(takeCalls().back(), call("tableEntryAdd", sessionTarget() + ", " + keyText(0, 0, 0) +
                                                            ", data=[action=101]"));
    EXPECT_FALSE(table->helper()->sdkHandles()->entryHas(table->defaultMatchSpec()));

    table->entryIs(entryOf(table->defaultMatchSpec(), actionOf(Bf::onMissActionSpec)));
    table->entryDel(lookalike);
    table->entryDel(table->defaultMatchSpec());
    EXPECT_THAT(
        takeCalls(),
        ElementsAre(
            "ZabroKeyManager::alloc(reuseBound=0)",
            call("tableDefaultEntrySet", sessionTarget() + ", flags=32, data=[action=101]"),
            call("tableEntryDel", sessionTarget() + ", hdl=" + std::to_string(lookalikeHandle)),
            call("tableDefaultEntryReset", sessionTarget())));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_EQ(statusManager->touches(table->defaultMatchSpec()), 2u);
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
    EXPECT_EQ(takeCalls().back(), call("tableEntryGet", sessionTarget() + ", flags=0, hdl=" +
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
    EXPECT_EQ(takeCalls()[4], call("dataAllocate"));
    EXPECT_TRUE(Bf::bfRtModuleObjects().actionBfRtDataBound[4]);
}

// ---- Failure sites

struct Site {
    const char* op;
    const char* call;
    const char* operation;  // reported by an operation check; null for a call check
};
constexpr Site kSites[] = {
    {"Bind", "OlvaneBfRtTable::tableTypeGet", nullptr},
    {"Bind", "OlvaneBfRtTable::keyAllocate", nullptr},
    {"Bind", "OlvaneBfRtTable::keyReset", nullptr},
    {"Bind", "OlvaneBfRtTable::dataAllocate", nullptr},
    {"Bind", "OlvaneBfRtTable::attributeAllocate", nullptr},
    {"Bind", "BfRtTableAttributes::entryScopeParamsSet", nullptr},
    {"Bind", "OlvaneBfRtTable::tableAttributesSet", nullptr},
    {"Add", "BfRtTableKey::setValue", nullptr},
    {"Add", "OlvaneBfRtTable::dataAllocate", nullptr},
    {"Add", "OlvaneBfRtTable::dataReset", nullptr},
    {"Add", "BfRtTableData::setValue", nullptr},
    {"Add", "OlvaneBfRtTable::tableEntryAdd", "twiceNatAddrPort_tableEntryAdd"},
    {"Modify", "OlvaneBfRtTable::dataAllocate", nullptr},
    {"Modify", "OlvaneBfRtTable::tableEntryMod", "twiceNatAddrPort_tableEntryMod"},
    {"SetDefault", "BfRtTableData::setValue", nullptr},
    {"SetDefault", "OlvaneBfRtTable::tableDefaultEntrySet",
     "twiceNatAddrPort_tableDefaultEntrySet"},
    {"Delete", "OlvaneBfRtTable::tableEntryDel", "twiceNatAddrPort_tableEntryDel"},
    {"ResetDefault", "OlvaneBfRtTable::tableDefaultEntryReset",
     "twiceNatAddrPort_tableDefaultEntryReset"},
    {"Read", "OlvaneBfRtTable::keyReset", nullptr},
    {"Read", "OlvaneBfRtTable::dataReset", nullptr},
    {"Read", "BfRtTableData::actionIdGet", nullptr},
    {"Read", "BfRtTableKey::getValue", nullptr},
    {"Read", "BfRtTableData::getValue", nullptr},
};

constexpr const char* kTryAgain = "Resource temporarily not available, try again later";
const Raised kCallCheck[] = {{"BfTryAgain", 10, kTryAgain},
                             {"BfTableException", 9, "Not enough space"}};
const Raised kOperationCheck[] = {{"BfDuplicateEntry", 4, "Already exists"},
                                  {"BfTableFull", 9, "Not enough space"},
                                  {"BfTableException", 10, kTryAgain}};

struct FailureCase {
    Site site;
    Raised expected;  // message: the status text
};

std::vector<FailureCase> failureCases() {
    std::vector<FailureCase> cases;
    for (const Site& site : kSites) {
        for (Raised r : site.operation ? std::span<const Raised>(kOperationCheck)
                                       : std::span<const Raised>(kCallCheck)) {
            r.message = (site.operation ? std::string(site.operation) + "() failed: "
                                        : "BFRT call failed: ") +
                        r.message;
            cases.push_back({site, r});
        }
    }
    return cases;
}

class BfrtFailureTest : public BfrtFixture, public ::testing::WithParamInterface<FailureCase> {};

// Every operation but Bind runs on a table with one entry installed and the
// action twiceNatAddrPortHitEcmp, which is not bound yet when it starts.
TEST_P(BfrtFailureTest, RaisesItsSitesExceptionAndKeepsTheStateAsItWas) {
    const Site& site = GetParam().site;
    const std::string op = site.op;
    auto installed = matchOf(1, 3, 2);
    auto fresh = matchOf(4, 6, 5);
    const auto ecmp = actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 6, 2);
    Bf::TwiceNatAddrPortMatchSpec::Ptr defaultMatch;
    if (op != "Bind") {
        bfrtTableIs();
        table->entryIs(entryOf(installed, actionOf(Bf::twiceNatAddrPortHitActionSpec, 1, 6, 2)));
        defaultMatch = table->defaultMatchSpec();
    }
    if (op == "ResetDefault")
        table->entryIs(entryOf(defaultMatch, ecmp));
    const BfnTable::BfnSdkEntryHandle handle = table ? handleOf(installed) : 0;
    const U64 records = keys->recordCount();
    const U64 inits = statusManager->initStatusCount();
    if (op == "Bind")
        Bf::bfRtModuleObjects().actionBfRtDataBound[0] = true;
    const auto attributes = Chip::TestHooks::allocationCounts().attributes.live;
    const std::map<std::string, std::function<void()>> operations = {
        {"Bind", [&] { bfrtTableIs(); }},
        {"Add", [&] { table->entryIs(entryOf(fresh, ecmp)); }},
        {"Modify", [&] { table->entryIs(entryOf(installed, ecmp)); }},
        {"SetDefault", [&] { table->entryIs(entryOf(defaultMatch, ecmp)); }},
        {"Delete", [&] { table->entryDel(installed); }},
        {"ResetDefault", [&] { table->entryDel(defaultMatch); }},
        {"Read", [&] { table->entryByHandle(handle); }}};

    Chip::TestHooks::faultIs(site.call, 1, static_cast<Chip::Status>(GetParam().expected.status));
    EXPECT_EQ(raisedBy(operations.at(op)), GetParam().expected);
    EXPECT_EQ(Chip::TestHooks::faultsPending(site.call), 0u) << "the site was reached";
    EXPECT_EQ(keys->recordCount(), records) << "no key is left allocated, none freed";
    const bool deleting = op == "Delete" || op == "ResetDefault";
    EXPECT_EQ(statusManager->initStatusCount(), inits + (deleting ? 1 : 0));
    if (op == "Bind") {
        // The bound flags are cleared after the objects are allocated, before the scope is set.
        const bool settingScope = std::string_view(site.call).find("ttribute") != std::string::npos;
        EXPECT_EQ(Bf::bfRtModuleObjects().actionBfRtDataBound[0], !settingScope);
        EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, attributes);
        EXPECT_EQ(table, nullptr);
        return;
    }
    const auto& handles = *table->helper()->sdkHandles();
    EXPECT_EQ(handles.entry(installed), op == "Delete" ? 0 : handle)
        << "a failed delete has taken the match out already";
    EXPECT_FALSE(handles.entryHas(defaultMatch));
    EXPECT_FALSE(handles.entryHas(fresh));
}

INSTANTIATE_TEST_SUITE_P(Sites, BfrtFailureTest, ::testing::ValuesIn(failureCases()),
                         [](const auto& info) {
                             std::string name = std::string(info.param.site.op) + "_" +
                                                info.param.site.call + "_" +
                                                std::to_string(info.param.expected.status);
                             std::replace(name.begin(), name.end(), ':', '_');
                             return name;
                         });

}  // namespace
}  // namespace BfrtTest
