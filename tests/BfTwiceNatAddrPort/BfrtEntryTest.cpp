// Entries of a BfRt table: each action's exact calls, read-backs and failure sites.
#include <algorithm>
#include <functional>
#include <map>

#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using Call = RecordingKeyManager::Call;

class BfrtActionTest : public BfrtFixture, public ::testing::WithParamInterface<ActionCase> {};

INSTANTIATE_TEST_SUITE_P(Actions, BfrtActionTest, ::testing::ValuesIn(kActionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Two adds (the second at the largest values), a read-back, a modify, default sets and
// deletes; the data object is bound once per binding and nothing else allocates.
TEST_P(BfrtActionTest, AddReadModifyAndDefaultSetMakeExactCallsAndBindDataOncePerBinding) {
    const ActionCase& a = GetParam();
    const Texts binding = {call("dataAllocate"),
                           call("dataReset", "action=" + std::to_string(a.actionId))};
    bfrtTableIs();
    const auto first = matchOf(0, 0, 0), second = matchOf(4, 5, 6);
    const auto& def = table->defaultMatchSpec();
    const auto expectCalls = [&](const auto& match, U16 rwId, U8 prot, U16 param, Texts head,
                                 const std::string& last) {
        EXPECT_EQ(callsOf([&] { program(match, actionOf(a.type, rwId, prot, param)); }),
                  head + dataSets(a, rwId, prot, param) + Texts{last});
    };
    // All fields 0 like the default match: an ordinary entry.
    expectCalls(first, 7, 17, 300, sets("Key", 1, {0, 0, 0}) + binding,
                call("tableEntryAdd",
                     sessionTarget() + ", " + keyText(0, 0, 0) + ", " + dataText(a, 7, 17, 300)));
    const U32 firstHandle = handleOf(first);
    EXPECT_NE(firstHandle, 0u);
    expectCalls(second, 0xFFFF, 255, 0xFFFF, sets("Key", 1, {4, 5, 6}),
                call("tableEntryAdd", sessionTarget() + ", " + keyText(4, 5, 6) + ", " +
                                          dataText(a, 0xFFFF, 255, 0xFFFF)));

    Texts reads = {call("keyReset"), call("dataReset"),
                   call("tableEntryGet",
                        sessionTarget() + ", flags=0, hdl=" + std::to_string(handleOf(second))),
                   "BfRtTableData::actionIdGet()"};
    for (U32 field = 1; field <= 3; ++field)
        reads.push_back(_fmt("BfRtTableKey::getValue(field=%u)", field));
    for (U32 i = 0; a.firstField != 0 && i < 3; ++i)
        reads.push_back(_fmt("BfRtTableData::getValue(field=%u)", a.firstField + i));
    Bf::TwiceNatAddrPortTableEntry read;
    EXPECT_EQ(callsOf([&] { read = table->entry(second); }), reads);
    EXPECT_EQ(describe(read), a.firstField ? described(4, 5, 6, a.type, 0xFFFF, 255, 0xFFFF)
                                           : described(4, 5, 6, a.type));

    expectCalls(
        first, 8, 18, 301, {},
        call("tableEntryMod", _fmt("%s, flags=32, hdl=%u, ", sessionTarget().c_str(), firstHandle) +
                                  dataText(a, 8, 18, 301)));
    EXPECT_EQ(handleOf(first), firstHandle);
    const std::string defaultSet =
        call("tableDefaultEntrySet", sessionTarget() + ", flags=32, " + dataText(a, 9, 19, 302));
    expectCalls(def, 9, 19, 302, {}, defaultSet);
    const U32 defaultHandle = handleOf(def);
    EXPECT_NE(defaultHandle, 0u);
    table->initializeTable(table->helper());
    expectCalls(def, 9, 19, 302, binding, defaultSet);  // a new binding binds the data anew
    EXPECT_EQ(handleOf(def), defaultHandle);
    // Deletes go by the stored handle, and only the default match object resets the default.
    EXPECT_EQ(
        callsOf([&] {
            table->entryDel(first);
            table->entryDel(def);
        }),
        (Texts{call("tableEntryDel", sessionTarget() + ", hdl=" + std::to_string(firstHandle)),
               call("tableDefaultEntryReset", sessionTarget())}));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 1u);
    EXPECT_EQ(keys->calls,
              (std::vector<Call>{{"alloc", 1, first}, {"alloc", 2, second}, {"alloc", 3, def}}))
        << "deletes free no key: the agent does";
    EXPECT_EQ(statusManager->initStatusCount(), 7u);
}

TEST_F(BfrtFixture, ReadBackTruncatesFieldsAndGivesUpOnUnknownActionsAndFailedReads) {
    ScopedTableObject scripted(Chip::deviceObjects(kDevice).table,
                               std::make_unique<ScriptedBfRtTable>(bfrt::TableType::MatchDirect));
    bfrtTableIs();
    const auto match = matchOf(5, 2, 3);
    program(match, actionOf(kHit, 1, 6, 2));
    scripted->afterRead = [](Chip::SimKey& key, Chip::SimData& data) {
        key.fields[0] = (U64{1} << 16) + 1;
        data.fields[1] = 262;
    };
    EXPECT_EQ(describe(table->entry(match)), described(1, 2, 3, 1, 1, 6, 2));

    scripted->afterRead = [](Chip::SimKey&, Chip::SimData& data) { data.boundActionId = 999; };
    Bf::TwiceNatAddrPortTableEntry read;
    EXPECT_EQ(callsOf([&] { read = table->entry(match); }).size(), 7u)
        << "no data field is read for an unknown action";
    EXPECT_EQ(describe(read), "empty");

    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableEntryGet", 1, Chip::kObjectNotFound);
    EXPECT_EQ(raised([&] { read = table->entryByHandle(handleOf(match)); }), Raised{});
    EXPECT_EQ(describe(read), "empty");
}

// ---- Failure sites: the call check raises 10 as BfTryAgain, the operation check 4 as
// BfDuplicateEntry, which tells them from each other and from the PD check.

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
    {"Modify", "OlvaneBfRtTable::tableEntryMod", "twiceNatAddrPort_tableEntryMod"},
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

class BfrtFailureTest : public BfrtFixture, public ::testing::WithParamInterface<Site> {};

INSTANTIATE_TEST_SUITE_P(Sites, BfrtFailureTest, ::testing::ValuesIn(kSites), [](const auto& info) {
    std::string name = std::string(info.param.op) + "_" + info.param.call;
    std::replace(name.begin(), name.end(), ':', '_');
    return name;
});

// Each operation but Bind runs on one installed entry with HitEcmp not yet bound.
TEST_P(BfrtFailureTest, RaisesItsSitesExceptionAndKeepsTheStateAsItWas) {
    const Site& site = GetParam();
    const std::string op = site.op;
    const auto installed = matchOf(1, 2, 3), fresh = matchOf(4, 5, 6);
    const auto ecmp = actionOf(kHitEcmp, 1, 6, 2);
    Bf::TwiceNatAddrPortMatchSpec::Ptr def;
    if (op != "Bind") {
        bfrtTableIs();
        program(installed, actionOf(kHit, 1, 6, 2));
        def = table->defaultMatchSpec();
    }
    if (op == "ResetDefault")
        program(def, ecmp);
    const U32 handle = table ? handleOf(installed) : 0;
    const U64 records = keys->recordCount(), inits = statusManager->initStatusCount();
    if (op == "Bind")
        Bf::bfRtModuleObjects().actionBfRtDataBound[0] = true;
    const auto attributes = Chip::TestHooks::allocationCounts().attributes.live;
    const std::map<std::string, std::function<void()>> operations = {
        {"Bind", [&] { bfrtTableIs(); }},
        {"Add", [&] { program(fresh, ecmp); }},
        {"Modify", [&] { program(installed, ecmp); }},
        {"SetDefault", [&] { program(def, ecmp); }},
        {"Delete", [&] { table->entryDel(installed); }},
        {"ResetDefault", [&] { table->entryDel(def); }},
        {"Read", [&] { table->entryByHandle(handle); }}};

    Chip::TestHooks::faultIs(site.call, 1, site.operation ? 4 : 10);
    EXPECT_EQ(raised(operations.at(op)),
              site.operation ? (Raised{"BfDuplicateEntry", 4,
                                       site.operation + std::string("() failed: Already exists")})
                             : (Raised{"BfTryAgain", 10,
                                       std::string("BFRT call failed: ") + Bf::sdkStatusText(10)}));
    EXPECT_EQ(keys->recordCount(), records) << "no key is left allocated, none freed";
    const bool deleting = op == "Delete" || op == "ResetDefault";
    EXPECT_EQ(statusManager->initStatusCount(), inits + (deleting ? 1 : 0));
    if (op == "Bind") {
        // The bound flags are cleared after the objects are allocated, before the scope is set.
        const bool settingScope = std::string_view(site.call).find("ttribute") != std::string::npos;
        EXPECT_EQ(Bf::bfRtModuleObjects().actionBfRtDataBound[0], !settingScope);
        EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, attributes);
        EXPECT_EQ(table, nullptr);
    } else {
        const auto& handles = *table->helper()->sdkHandles();
        EXPECT_EQ(handles.entry(installed), op == "Delete" ? 0 : handle)
            << "a failed delete has taken the match out already";
        EXPECT_FALSE(handles.entryHas(def) || handles.entryHas(fresh));
    }
    // A failed binding is bound anew; a failed delete's match has left the map.
    EXPECT_EQ(deleting ? Raised{} : raised(operations.at(op)), Raised{}) << "a retry succeeds";
}

}  // namespace
}  // namespace BfrtTest
