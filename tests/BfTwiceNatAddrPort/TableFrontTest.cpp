// The restart resync walk against a scripted table config, the
// exported factory on the chip model (backend choice, failure, a restart in a
// second process), `entry` with its trace line, the default match spec and
// the assertions.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

#include "TableTestSupport.h"
#include "ZabroDoubles.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTable;
using Bf::TwiceNatAddrPortTableEntry;
using EntryConfig = Zabro::MbbPostcodef::EntryConfig;
using ZabroTest::RecordingKeyManager;
using ZabroTest::ScriptedTableConfig;

// A table whose read-back is a script: entryByHandle answers from readBacks
// (the empty entry for any other handle) and logs the handles asked for.
class ScriptedTable : public TwiceNatAddrPortTable {
    KIV_CLASS(ScriptedTable)

  public:
    using Ptr = Dorvu::Ptr<ScriptedTable>;
    using TwiceNatAddrPortTable::TwiceNatAddrPortTable;
    ~ScriptedTable() override { notificationIs(false); }

    TwiceNatAddrPortTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle handle) const override {
        asked.push_back(handle);
        const auto found = readBacks.find(handle);
        return found == readBacks.end() ? TwiceNatAddrPortTableEntry() : found->second;
    }
    void initializeTable(const Bf::TwiceNatAddrPortTableHelper::Ptr& helper) override {
        initializedWith = helper.ptr();
        defaultMatchAtInit = defaultMatchSpec().ptr();
        resyncsAtInit = statusManager() ? statusManager()->resyncStatusCount() : 0;
    }

    std::map<U32, TwiceNatAddrPortTableEntry> readBacks;
    mutable std::vector<U32> asked;
    const Bf::TwiceNatAddrPortTableHelper* initializedWith = nullptr;
    const Bf::TwiceNatAddrPortMatchSpec* defaultMatchAtInit = nullptr;
    Kiv::U64 resyncsAtInit = 0;
};

Kiv::MemAllocationTracker ScriptedTable::memAllocationTracker_{"TableTest::ScriptedTable"};
const Kiv::TypeInfo& ScriptedTable::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "TableTest::ScriptedTable", &TwiceNatAddrPortTable::kivTypeInfo(), {}, {}};
    return type;
}

// ---- The restart resync walk (factory step 8), run by startTable.

struct WalkCase {
    const char* name;
    std::vector<EntryConfig> records;
    std::vector<U32> readable;  // handles that read back as an entry with a match "m<handle>"
    std::optional<std::size_t> corruptAt;
    std::vector<U32> asked;                    // entryByHandle calls
    std::vector<std::string> keyManagerCalls;  // populate and highestAllocatedKeyIs
    std::map<std::string, U32> pairs;          // the handle map afterwards
    std::size_t corruptions;
};
void PrintTo(const WalkCase& c, std::ostream* out) {
    *out << c.name;
}

EntryConfig record(Zabro::MbbPostcodef::EntryKey key, U32 handle) {
    return EntryConfig(key, 0, handle, EntryConfig::kFlagHandleSet, 1);
}

const std::vector<WalkCase>& walkCases() {
    static const std::vector<WalkCase> cases = {
        {"KeysFiveNineSeven",
         {record(5, 50), record(9, 90), record(7, 70)},
         {50, 90, 70},
         std::nullopt,
         {50, 90, 70},
         {"populate(5, m50)", "populate(9, m90)", "populate(7, m70)", "highestAllocatedKeyIs(9)"},
         {{"m50", 50}, {"m90", 90}, {"m70", 70}},
         0},
        {"EmptyReadBacksShareTheNullKey",
         {record(3, 30), record(4, 40)},
         {},
         std::nullopt,
         {30, 40},
         {"populate(3, null)", "populate(4, null)", "highestAllocatedKeyIs(4)"},
         {{"null", 40}},
         0},
        {"OnlyKeyZero",
         {record(0, 11)},
         {11},
         std::nullopt,
         {11},
         {"populate(0, m11)"},
         {{"m11", 11}},
         0},
        {"CorruptionOnTheSecondRecord",
         {record(5, 50), record(9, 90)},
         {50, 90},
         1,
         {50},
         {"populate(5, m50)", "highestAllocatedKeyIs(5)"},
         {{"m50", 50}},
         1},
        {"CorruptionOnTheFirstRecord", {record(5, 50)}, {50}, 0, {}, {}, {}, 1},
        {"EmptyConfig", {}, {}, std::nullopt, {}, {}, {}, 0},
    };
    return cases;
}

class ResyncTest : public TestSupport::LeakCheck {
  protected:
    static constexpr U16 kScriptPipe = 9;  // the scripted config sits on a segment of its own

    ResyncTest() { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kScriptPipe); }
    ~ResyncTest() override {
        table = nullptr;
        keys = nullptr;
        config = nullptr;
        Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kScriptPipe);
    }

    // A scripted table over `records`, with or without the two managers,
    // started as the factory starts a table.
    void start(const WalkCase& c, bool withKeys = true, bool withStatus = true) {
        config = ScriptedTableConfig::ScriptedTableConfigIs(kDevice, kScriptPipe, c.records,
                                                            c.corruptAt);
        config->highestAllocatedKeyIs(kHighestBefore);
        if (withKeys)
            keys = RecordingKeyManager::RecordingKeyManagerIs(config);
        if (!withStatus)
            status = nullptr;
        auto helper = Bf::twiceNatAddrPortTableHelperFactory(kDevice, kScriptPipe);
        helper->sdkHandlesIs();
        table = Kiv::create<ScriptedTable>(helper, keys, status);
        for (U32 h : c.readable) {
            table->readBacks[h] =
                entryOf(matchOf(static_cast<U16>(h), 0, 0), actionOf(Bf::onMissActionSpec));
        }
        Bf::startTable(table);
    }

    std::string nameOf(const BfnTable::MatchSpecBase* match) const {
        for (const auto& [h, e] : table->readBacks) {
            if (e.match().ptr() == match)
                return "m" + std::to_string(h);
        }
        return match ? "unknown" : "null";
    }

    static constexpr Kiv::U64 kHighestBefore = 3;
    ScriptedTableConfig::Ptr config;
    RecordingKeyManager::Ptr keys;
    BfnTableStatusManager::StatusManager::Ptr status =
        BfnTableStatusManager::statusManagerFactory();
    ScriptedTable::Ptr table;
};

class ResyncWalkTest : public ResyncTest, public ::testing::WithParamInterface<WalkCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, ResyncWalkTest, ::testing::ValuesIn(walkCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ResyncWalkTest, WalkReadsBackEachRecordAndRebuildsTheBookkeeping) {
    const WalkCase& c = GetParam();
    start(c);
    EXPECT_EQ(table->asked, c.asked);
    std::vector<Kiv::U64> after;  // each following-record request names the key just walked
    for (std::size_t i = 0; i < c.asked.size(); ++i) after.push_back(c.records[i].key());
    EXPECT_EQ(config->afterKeys, after);
    std::vector<std::string> calls;
    Kiv::U64 highest = kHighestBefore;
    for (const RecordingKeyManager::Call& call : keys->calls) {
        if (call.request == "populate") {
            calls.push_back("populate(" + std::to_string(call.key) + ", " +
                            nameOf(call.match.ptr()) + ")");
        } else {
            calls.push_back(call.request + "(" + std::to_string(call.key) + ")");
            highest = call.key;
        }
    }
    EXPECT_EQ(calls, c.keyManagerCalls);
    EXPECT_EQ(keys->highestAllocatedKey(), highest);
    std::map<std::string, U32> pairs;
    table->helper()->sdkHandles()->entryForEach([&](const auto& match, U32 handle) {
        pairs[nameOf(match.ptr())] = handle;
        return true;
    });
    EXPECT_EQ(pairs, c.pairs);
    EXPECT_EQ(config->corruptions.size(), c.corruptions);
    if (c.corruptions) {
        EXPECT_EQ(config->corruptions[0],
                  "scripted corruption at record " + std::to_string(*c.corruptAt));
    }
    // Default match spec first, then initializeTable, then the walk, the status resync last.
    ASSERT_TRUE(table->defaultMatchSpec());
    EXPECT_EQ(table->defaultMatchAtInit, table->defaultMatchSpec().ptr());
    EXPECT_EQ(table->initializedWith, table->helper().ptr());
    EXPECT_EQ(table->resyncsAtInit, 0u);
    EXPECT_EQ(status->resyncStatusCount(), 1u);
    EXPECT_EQ(status->initStatusCount(), 0u);
}

TEST_F(ResyncTest, NullManagersSkipTheirCallsOnly) {
    start(walkCases()[0], /*withKeys=*/false);
    EXPECT_TRUE(table->asked.empty());
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_EQ(config->highestAllocatedKey(), kHighestBefore);
    EXPECT_EQ(status->resyncStatusCount(), 1u);
    start(walkCases()[0], /*withKeys=*/true, /*withStatus=*/false);
    EXPECT_EQ(table->asked.size(), 3u);
    EXPECT_EQ(keys->highestAllocatedKey(), 9u);
}

// ---- The exported factory on the chip model, for each backend.

class FactoryTest : public TableFixture, public ::testing::WithParamInterface<Backend> {};

INSTANTIATE_TEST_SUITE_P(Backends, FactoryTest, ::testing::Values(Backend::Pd, Backend::Bfrt),
                         [](const auto& info) { return std::string(backendName(info.param)); });

TEST_P(FactoryTest, BuildsTheBackendThatThePdLibraryOffers) {
    tableIs(GetParam(), 0xFFFF);
    const Kiv::TypeInfo& expected = GetParam() == Backend::Pd
                                        ? Bf::TwiceNatAddrPortTablePd::kivTypeInfo()
                                        : Bf::TwiceNatAddrPortTableBfrt::kivTypeInfo();
    EXPECT_EQ(&table->kivType(), &expected);
    EXPECT_TRUE(table->useBfRt());
    EXPECT_TRUE(table->notification());
    EXPECT_EQ(table->zabroKeyManager(), keyManager);
    EXPECT_EQ(table->statusManager(), statusManager);
    EXPECT_EQ(statusManager->resyncStatusCount(), 1u);
    const auto& helper = *table->helper();
    EXPECT_EQ(helper.deviceId(), kDevice);
    EXPECT_EQ(helper.devPipeId(), 0xFFFF);
    EXPECT_EQ(helper.pdLib()->name(), pdLibraryPath(GetParam()));
    EXPECT_EQ(helper.pdLib()->dlHandle(), pdLibrary->handle());
    EXPECT_EQ(helper.pdLib()->sessionId(), kSession);
    EXPECT_EQ(helper.sdkHandles()->entryCount(), 0u);
    const auto& defaultMatch = table->defaultMatchSpec();
    ASSERT_TRUE(defaultMatch);
    EXPECT_EQ(defaultMatch->ingMdNatKeyId() | defaultMatch->l4PortHdrDstPort() |
                  defaultMatch->l4PortHdrSrcPort(),
              0);
}

TEST_P(FactoryTest, EntryOfAMatchNotInTheHandleMapMakesNoSdkCall) {
    tableIs(GetParam());
    const auto installed = matchOf(1, 2, 3);
    table->entryIs(entryOf(installed, actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 4, 6, 9)));
    const ChipTest::PdLibrary pd(pdLibraryPath(GetParam()));  // the chip holds the fields in place
    const ChipTest::PdReadBack chip = ChipTest::pdRead(pd, kDevice, handleOf(installed));
    ASSERT_EQ(chip.status, 0);
    EXPECT_EQ(std::tuple(chip.match.ing_md_nat_key_id, chip.match.l4_port_hdr_dst_port,
                         chip.match.l4_port_hdr_src_port),
              std::tuple(1, 2, 3));
    ChipTest::ScopedCallLog log;
    EXPECT_TRUE(table->entry(matchOf(1, 2, 3)).isDefaultValue());  // equal fields, other object
    EXPECT_TRUE(log.texts().empty());
    const TwiceNatAddrPortTableEntry back = table->entry(installed);
    const std::vector<std::string> calls = log.texts();
    const auto reads = std::count_if(calls.begin(), calls.end(), [](const std::string& t) {
        return t.starts_with("p4_pd_olvane_switch_twiceNatAddrPort_get_entry(") ||
               t.starts_with("OlvaneBfRtTable::tableEntryGet(");
    });
    EXPECT_EQ(reads, 1);  // the one entry read of entryByHandle
    ASSERT_TRUE(back.match() && back.action());
    EXPECT_NE(back.match(), installed);  // the backend builds its own objects
    EXPECT_EQ(back.match()->l4PortHdrDstPort(), 2);
    EXPECT_EQ(back.match()->l4PortHdrSrcPort(), 3);
    EXPECT_EQ(back.action()->actionType(), Bf::twiceNatAddrPortHitEcmpActionSpec);
    EXPECT_EQ(Bf::hitActionParam(*back.action()), 9);
}

TEST_P(FactoryTest, FailedInitializationGivesNoTableAndLeavesNothingBehind) {
    ChipTest::SharedLibrary library(pdLibraryPath(GetParam()));
    Chip::TestHooks::faultIs(GetParam() == Backend::Pd
                                 ? "p4_pd_olvane_switch_twiceNatAddrPort_set_property"
                                 : "OlvaneBfRtTable::tableAttributesSet",
                             1, Chip::kHwAccessFails);
    TwiceNatAddrPortTable::Ptr failed;
    EXPECT_THROW(
        failed = twiceNatAddrPortTableFactory(keyManager, statusManager, library.handle(), kSession,
                                              kDevice, kPipe, pdLibraryPath(GetParam())),
        BfTable::BfTableException);
    EXPECT_FALSE(failed);
    EXPECT_EQ(statusManager->resyncStatusCount(), 0u);
    EXPECT_EQ(Bf::TwiceNatAddrPortTableHelper::memAllocationTracker_.liveObjects(), 0u);
}  // and the fixture's leak check shows that the table went too

// The agent stops and starts again: the entries and the key segment outlive
// the first process, and the new table finds them through the resync walk.
TEST_P(FactoryTest, RestartFindsTheEntriesThatAnEarlierProcessInstalled) {
    keyManager = nullptr;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        int rc = 1;
        try {
            keyManagerIs();
            tableIs(GetParam());
            for (U16 i = 1; i <= 3; ++i) {
                const auto match = matchOf(i, 100 + i, 200 + i);
                table->entryIs(
                    entryOf(match, actionOf(Bf::twiceNatAddrPortHitActionSpec, i, 6, 300 + i)));
                keyManager->sdkEntryHandleIs(keyManager->key(match), handleOf(match));
            }
            rc = 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    keyManagerIs();
    tableIs(GetParam());
    EXPECT_EQ(keyManager->boundKeyCount(), 3u);
    EXPECT_EQ(keyManager->highestAllocatedKey(), 3u);
    std::vector<U16> found;
    table->helper()->sdkHandles()->entryForEach([&](const auto& match, U32 handle) {
        EXPECT_NE(keyManager->key(match), 0u);
        const TwiceNatAddrPortTableEntry back = table->entryByHandle(handle);
        const U16 i = match->ingMdNatKeyId();
        EXPECT_EQ(match->l4PortHdrDstPort(), 100 + i);
        EXPECT_EQ(match->l4PortHdrSrcPort(), 200 + i);
        EXPECT_EQ(Bf::hitActionParam(*back.action()), 300 + i);
        found.push_back(i);
        return true;
    });
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<U16>{1, 2, 3}));
}

class TableFrontTest : public TableFixture {};

TEST_F(TableFrontTest, EntryWritesItsTraceLineAtLevelNineOnlyWhenOn) {
    tableIs(Backend::Pd);
    {
        TraceCapture below(8);
        table->entry(matchOf(1, 2, 3));
        EXPECT_TRUE(below.lines.empty());
    }
    TraceCapture trace(9);
    table->entry(matchOf(1, 2, 3));
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0].level, 9);
    EXPECT_EQ(trace.lines[0].text,
              "BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry "
              "BfTwiceNatAddrPort::TwiceNatAddrPortTable::entry(const PtrConst&) const");
}

TEST_F(TableFrontTest, RegistersItsAttributesAndOperationsInOrderAndKeepsOneDefaultMatchSpec) {
    tableIs(Backend::Pd);
    std::vector<std::string> names;
    for (const Kiv::AttributeInfo* a : table->kivType().attributes()) names.emplace_back(a->name);
    for (const Kiv::OperationInfo* op : table->kivType().operations()) names.emplace_back(op->name);
    names.resize(10);
    EXPECT_EQ(names, (std::vector<std::string>{"helper", "zabroKeyManager", "statusManager",
                                               "useBfRt", "defaultMatchSpec", "entryIs", "entryDel",
                                               "entry", "entryByHandle", "initializeTable"}));
    Kiv::genericSet(*table, "useBfRt", false);
    EXPECT_FALSE(table->useBfRt());
    EXPECT_THROW(Kiv::genericSet(*table, "helper", Kiv::Value()), Kiv::AttributeException);
    const Kiv::ObjectRef before(table->defaultMatchSpec().ptr());
    EXPECT_EQ(Kiv::genericCall(*table, "defaultMatchSpecDel"), Kiv::Value(before));
    EXPECT_EQ(Kiv::genericGet(*table, "defaultMatchSpec"), Kiv::Value(Kiv::ObjectRef()));
    EXPECT_EQ(Kiv::genericCall(*table, "defaultMatchSpecDel"), Kiv::Value(Kiv::ObjectRef()));
    const Kiv::Value created = Kiv::genericCall(*table, "defaultMatchSpecIs");
    const auto& fresh = table->defaultMatchSpec();
    EXPECT_EQ(created, Kiv::Value(Kiv::ObjectRef(fresh.ptr())));
    EXPECT_NE(fresh.ptr(), before.ptr());  // a new default key, all fields 0
    EXPECT_EQ(fresh->ingMdNatKeyId() | fresh->l4PortHdrDstPort() | fresh->l4PortHdrSrcPort(), 0);
    EXPECT_EQ(table->defaultMatchSpecIs(), fresh);
}

// ---- Assertions

struct BaseOperation {
    const char* name;
    void (*call)(TwiceNatAddrPortTable&);
};
void PrintTo(const BaseOperation& op, std::ostream* out) {
    *out << op.name;
}

class TableDeathTest : public TestSupport::LeakCheck,
                       public ::testing::WithParamInterface<BaseOperation> {};

INSTANTIATE_TEST_SUITE_P(
    BaseOperations, TableDeathTest,
    ::testing::Values(
        BaseOperation{"entryIs", [](TwiceNatAddrPortTable& t) { t.entryIs({}); }},
        BaseOperation{"entryDel", [](TwiceNatAddrPortTable& t) { t.entryDel(matchOf(1, 2, 3)); }},
        BaseOperation{"entryByHandle", [](TwiceNatAddrPortTable& t) { t.entryByHandle(1); }},
        BaseOperation{"initializeTable",
                      [](TwiceNatAddrPortTable& t) { t.initializeTable(t.helper()); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(TableDeathTest, BaseClassOperationStopsTheProcess) {
    const auto table = TwiceNatAddrPortTable::TwiceNatAddrPortTableIs(
        Bf::twiceNatAddrPortTableHelperFactory(kDevice, kPipe), nullptr, nullptr);
    const std::string text = std::string("Assertion `0 && \"base TwiceNatAddrPortTable::") +
                             GetParam().name + "() called\"' failed";
    EXPECT_DEATH(GetParam().call(*table), ::testing::HasSubstr(text));
}

class TableFrontDeathTest : public TableFixture {};

TEST_F(TableFrontDeathTest, EntryOfNullAndEmptyPdLibPathStopTheProcess) {
    tableIs(Backend::Pd);
    EXPECT_DEATH(table->entry(nullptr), ::testing::HasSubstr("Assertion `match != NULL' failed"));
    EXPECT_DEATH(
        twiceNatAddrPortTableFactory(nullptr, nullptr, nullptr, kSession, kDevice, kPipe, ""),
        ::testing::HasSubstr("Assertion `pdLibPath' failed"));
}

}  // namespace
}  // namespace TableTest
