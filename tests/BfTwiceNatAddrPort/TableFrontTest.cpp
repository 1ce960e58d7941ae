// The helper and the SDK handle map (keyed by match spec objects by identity); the restart
// resync walk over a scripted table config; the exported factory on the chip model with
// either backend (choice, trace lines, assertions).

#include <map>
#include <memory>

#include "TableTestSupport.h"
#include "support/AttributeLog.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTable;
using Bf::TwiceNatAddrPortTableEntry;
using EntryConfig = Zabro::MbbPostcodef::EntryConfig;

using HelperTest = TableFixture;

TEST_F(HelperTest, KeepsOneHandleMapAndRewritesThePdLibObjectUnderTheSameName) {
    const ChipTest::SharedLibrary withBfRt(ChipTest::kPdLibrary),
        withoutBfRt(ChipTest::kPdLibraryNoBfRt);
    const auto helper = Bf::twiceNatAddrPortTableHelperFactory(kDevice, 0xFFFF);
    EXPECT_FALSE(helper->sdkHandles() || helper->pdLib());
    const auto map = helper->sdkHandlesIs();
    EXPECT_EQ(helper->sdkHandlesIs(), map);
    EXPECT_EQ(helper->sdkHandlesDel(), map);
    EXPECT_NE(helper->sdkHandlesIs(), map);

    const auto first = helper->pdLibIs("pdlib", withoutBfRt.handle(), 7);
    EXPECT_EQ(std::tuple(first->name(), first->deviceId(), first->dlHandle(), first->sessionId()),
              std::tuple("pdlib", kDevice, withoutBfRt.handle(), 7u));
    EXPECT_EQ(helper->pdLibIs("pdlib", withBfRt.handle(), 8), first);
    EXPECT_EQ(std::tuple(first->dlHandle(), first->sessionId()), std::tuple(withBfRt.handle(), 8u));

    const auto replacement = helper->pdLibIs("new", withoutBfRt.handle(), 9);
    EXPECT_EQ(std::tuple(replacement->name(), replacement->sessionId()), std::tuple("new", 9u));
    // Another name: the old object is rewritten, then let go of.
    EXPECT_EQ(std::tuple(first->name(), first->dlHandle(), first->sessionId(), first->references()),
              std::tuple("pdlib", withoutBfRt.handle(), 9u, 1u));
    EXPECT_THROW(helper->pdLibIs("no-such-pd-library.so", nullptr, 10), Kiv::Exception);
    // Kept, with the handle and session of the failed call, and still bound.
    EXPECT_EQ(std::tuple(helper->pdLib(), replacement->dlHandle(), replacement->boundHandle(),
                         replacement->sessionId()),
              std::tuple(replacement, nullptr, withoutBfRt.handle(), 10u));
    EXPECT_EQ(helper->pdLibDel(), replacement);
    EXPECT_FALSE(helper->pdLib() || helper->pdLibDel());
}

using HandleMapTest = TestSupport::LeakCheck;

// Through the typed operations and the generic collection "entry" alike.
TEST_F(HandleMapTest, KeysAreObjectsNotValuesAndTheMapHoldsThemAndReportsEachChange) {
    const auto map = Bf::twiceNatAddrPortTableHandlesFactory();
    TestSupport::AttributeLog log(*map);
    const Kiv::CollectionOps& entry = Kiv::genericCollection(*map, "entry");
    auto a = matchOf(1, 2, 3);
    const auto b = matchOf(1, 2, 3), absent = matchOf(1, 2, 3);
    const Bf::TwiceNatAddrPortMatchSpec::PtrConst aKey(a.ptr());
    map->entryIs(a, 5);
    entry.set(*map, Kiv::ObjectRef(a.ptr()), U64{7});  // replaces
    map->entryIs(b, 6);
    EXPECT_EQ(
        std::tuple(map->entry(a), entry.get(*map, Kiv::ObjectRef(b.ptr())), entry.count(*map)),
        std::tuple(7u, Kiv::Value(U64{6}), 2u));
    EXPECT_FALSE(map->entry(absent) || map->entryHas(absent) ||
                 entry.has(*map, Kiv::ObjectRef(absent.ptr())) || map->entryDel(absent));
    // Visits the pairs from `start` and gives the keys met.
    const auto walk = [&](const Kiv::Value& start) {
        std::map<const void*, Kiv::Value> visited;
        entry.iterate(*map, start, [&](const Kiv::Value& key, const Kiv::Value& handle) {
            visited[std::get<Kiv::ObjectRef>(key).ptr()] = handle;
            return true;
        });
        return visited;
    };
    EXPECT_EQ(walk({}), (std::map<const void*, Kiv::Value>{{a.ptr(), U64{7}}, {b.ptr(), U64{6}}}));
    EXPECT_TRUE(walk(Kiv::ObjectRef(b.ptr())).contains(b.ptr()));
    EXPECT_TRUE(walk(Kiv::ObjectRef()).empty());  // null is no key here: nothing to visit
    map->entryIs(nullptr, 0);  // the null reference and handle 0 are stored like any other
    EXPECT_TRUE(map->entryHas(nullptr) && walk(Kiv::ObjectRef()).contains(nullptr));
    EXPECT_THROW(entry.set(*map, Kiv::ObjectRef(actionOf(kOnMiss).ptr()), U64{1}),
                 Kiv::AttributeException);  // keys are match specs

    a = nullptr;
    EXPECT_EQ(aKey->references(), 2u);  // this reference and the map's
    EXPECT_EQ(entry.del(*map, Kiv::ObjectRef(aKey.ptr())), Kiv::Value(U64{7}));
    EXPECT_EQ(map->entryDel(aKey), 0u);
    EXPECT_EQ(std::pair(aKey->references(), map->entryCount()), std::pair(1u, std::size_t{2}))
        << "let go of";
    EXPECT_EQ(log.changes, Texts(5, "entry")) << "four writes and one delete; none for absent";
}

// The first map keeps its handle in the match, a second in its own storage; the first
// one's death frees the match for the next.
TEST_F(HandleMapTest, MapsSharingAMatchKeepTheirOwnHandles) {
    auto first = Bf::twiceNatAddrPortTableHandlesFactory();
    const auto second = Bf::twiceNatAddrPortTableHandlesFactory();
    const auto a = matchOf(1, 2, 3), b = matchOf(4, 5, 6);
    first->entryIs(a, 5);
    first->entryIs(b, 8);
    second->entryIs(a, 6);
    EXPECT_FALSE(second->entryHas(b));
    first = nullptr;
    EXPECT_EQ(std::tuple(second->entry(a), a->references(), b->references()),
              std::tuple(6u, 2u, 1u));
    const auto third = Bf::twiceNatAddrPortTableHandlesFactory();
    EXPECT_FALSE(third->entryHas(a));
    third->entryIs(a, 7);
    EXPECT_EQ(second->entryDel(a), 6u);
    EXPECT_EQ(std::tuple(second->entryHas(a), third->entry(a)), std::tuple(false, 7u));
}

// Walks `records` in the order given, whatever their keys (0 included); handing
// out record `corruptAt` throws instead, and doCorruptionDetected logs.
class ScriptedTableConfig : public Zabro::MbbZabroTableConfig {
    KIV_CLASS(ScriptedTableConfig)

  public:
    using Ptr = Dorvu::Ptr<ScriptedTableConfig>;

    ScriptedTableConfig(Kiv::U8 deviceId, Kiv::U16 pipeId, std::vector<EntryConfig> records,
                        std::optional<std::size_t> corruptAt)
        : MbbZabroTableConfig(deviceId, pipeId, 16),
          records_(std::move(records)),
          corruptAt_(corruptAt) {}
    ~ScriptedTableConfig() override { notificationIs(false); }

    bool first(EntryConfig& cursor, Zabro::IterHint&) const override { return handOut(0, cursor); }
    bool next(EntryKey after, EntryConfig& cursor, Zabro::IterHint&) const override {
        afterKeys.push_back(after);
        return handOut(position_ + 1, cursor);
    }
    void doCorruptionDetected(const Dorvu::String& msg) override { corruptions.push_back(msg); }

    // The `after` key of each following-record request, in order.
    mutable std::vector<EntryKey> afterKeys;
    std::vector<Dorvu::String> corruptions;

  private:
    bool handOut(std::size_t index, EntryConfig& cursor) const {
        position_ = index;
        if (corruptAt_ == index)
            throw Dorvu::CorruptionDetectedException(
                Kiv::_fmt("scripted corruption at record %zu", index));
        if (index >= records_.size())
            return false;
        cursor = records_[index];
        return true;
    }

    std::vector<EntryConfig> records_;
    std::optional<std::size_t> corruptAt_;
    mutable std::size_t position_ = 0;
};

Kiv::MemAllocationTracker ScriptedTableConfig::memAllocationTracker_{
    "TableTest::ScriptedTableConfig"};
const Kiv::TypeInfo& ScriptedTableConfig::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "TableTest::ScriptedTableConfig", &Zabro::MbbZabroTableConfig::kivTypeInfo(), {}, {}};
    return type;
}

// Reads back an entry whose key id is the handle (empty unless `readable`), logging the handles.
class ScriptedTable : public TwiceNatAddrPortTable {
  public:
    using TwiceNatAddrPortTable::TwiceNatAddrPortTable;

    TwiceNatAddrPortTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle handle) const override {
        asked.push_back(handle);
        if (handle == corruptRead)
            throw Dorvu::CorruptionDetectedException("scripted read-back corruption");
        if (!readable)
            return {};
        return entryOf(matchOf(static_cast<U16>(handle), 0, 0), actionOf(kOnMiss));
    }
    void initializeTable(const Bf::TwiceNatAddrPortTableHelper::Ptr& helper) override {
        initialized = {helper.ptr(), defaultMatchSpec().ptr(), asked.size(),
                       statusManager() ? statusManager()->resyncStatusCount() : 0};
    }

    bool readable = true;
    U32 corruptRead = 0;  // the read-back of this handle throws
    mutable std::vector<U32> asked;
    // At initializeTable: the helper, the default match, reads and status resyncs so far.
    std::tuple<const void*, const void*, std::size_t, U64> initialized;
};

EntryConfig record(Zabro::MbbPostcodef::EntryKey key, U32 handle) {
    return EntryConfig(key, 0, handle, EntryConfig::kFlagHandleSet, 1);
}

struct WalkCase {
    const char* name;
    std::vector<EntryConfig> records;
    bool readable;
    std::optional<std::size_t> corruptAt;  // the records are read back up to it
    Texts keyManagerCalls;                 // populate and highestAllocatedKeyIs
    std::map<std::string, U32> pairs;      // the handle map afterwards: match key id or "null"
};
void PrintTo(const WalkCase& c, std::ostream* out) {
    *out << c.name;
}

// clang-format off
const WalkCase kWalkCases[] = {
    {"KeysFiveNineSeven", {record(5, 50), record(9, 90), record(7, 70)}, true, std::nullopt,
     {"populate(5, 50)", "populate(9, 90)", "populate(7, 70)", "highestAllocatedKeyIs(9)"},
     {{"50", 50}, {"90", 90}, {"70", 70}}},
    {"EmptyReadBacksShareTheNullKey", {record(3, 30), record(4, 40)}, false, std::nullopt,
     {"populate(3, null)", "populate(4, null)", "highestAllocatedKeyIs(4)"}, {{"null", 40}}},
    {"OnlyKeyZero", {record(0, 11)}, true, std::nullopt, {"populate(0, 11)"}, {{"11", 11}}},
    {"CorruptionOnTheSecondRecord", {record(5, 50), record(9, 90)}, true, 1,
     {"populate(5, 50)", "highestAllocatedKeyIs(5)"}, {{"50", 50}}},
    {"EmptyConfig", {}, true, std::nullopt, {}, {}},
    // Key 5's entry was deleted and its handle went to key 9's: both read the same entry.
    {"AStaleRecordsHandleNowBelongsToAnother", {record(5, 50), record(9, 50)}, true, std::nullopt,
     {"populate(5, 50)", "populate(9, 50)", "highestAllocatedKeyIs(9)"}, {{"50", 50}}},
};
// clang-format on

std::string keyIdOf(const BfnTable::MatchSpecBase* match) {
    return match ? std::to_string(
                       static_cast<const Bf::TwiceNatAddrPortMatchSpec*>(match)->ingMdNatKeyId())
                 : "null";
}

class ResyncTest : public TestSupport::LeakCheck {
  protected:
    static constexpr U16 kScriptPipe = 9;  // the scripted config sits on a segment of its own
    static constexpr U64 kHighestBefore = 3;

    ResyncTest() { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kScriptPipe); }
    ~ResyncTest() override { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kScriptPipe); }

    // A scripted table over the case's records, started as the factory starts one.
    void start(const WalkCase& c, bool withKeys = true, bool withStatus = true,
               U32 corruptRead = 0) {
        config = Kiv::create<ScriptedTableConfig>(kDevice, kScriptPipe, c.records, c.corruptAt);
        config->highestAllocatedKeyIs(kHighestBefore);
        keys = withKeys ? Kiv::create<RecordingKeyManager>(config) : nullptr;
        if (!withStatus)
            status = nullptr;
        auto helper = Bf::twiceNatAddrPortTableHelperFactory(kDevice, kScriptPipe);
        helper->sdkHandlesIs();
        table = Kiv::create<ScriptedTable>(helper, keys, status);
        table->readable = c.readable;
        table->corruptRead = corruptRead;
        Bf::startTable(table);
    }

    ScriptedTableConfig::Ptr config;
    RecordingKeyManager::Ptr keys;
    BfnTableStatusManager::StatusManager::Ptr status =
        BfnTableStatusManager::statusManagerFactory();
    Dorvu::Ptr<ScriptedTable> table;
};

class ResyncWalkTest : public ResyncTest, public ::testing::WithParamInterface<WalkCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, ResyncWalkTest, ::testing::ValuesIn(kWalkCases),
                         ::testing::PrintToStringParamName());

TEST_P(ResyncWalkTest, WalkReadsBackEachRecordAndRebuildsTheBookkeeping) {
    const WalkCase& c = GetParam();
    start(c);
    const std::size_t walked = c.corruptAt.value_or(c.records.size());
    std::vector<U32> asked;
    std::vector<U64> after;  // each following-record request names the key just walked
    for (std::size_t i = 0; i < walked; ++i) {
        asked.push_back(c.records[i].sdkEntryHandle());
        after.push_back(c.records[i].key());
    }
    EXPECT_EQ(table->asked, asked);
    EXPECT_EQ(config->afterKeys, after);
    Texts calls;
    for (const RecordingKeyManager::Call& call : keys->calls) {
        const std::string key = std::to_string(call.key);
        calls.push_back(call.request == "populate"
                            ? "populate(" + key + ", " + keyIdOf(call.match.ptr()) + ")"
                            : call.request + "(" + key + ")");
    }
    EXPECT_EQ(calls, c.keyManagerCalls);
    std::map<std::string, U32> pairs;
    table->helper()->sdkHandles()->entryForEach([&](const auto& match, U32 handle) {
        pairs[keyIdOf(match.ptr())] = handle;
        return true;
    });
    EXPECT_EQ(pairs, c.pairs);
    EXPECT_EQ(config->corruptions,
              c.corruptAt ? std::vector<Dorvu::String>{"scripted corruption at record 1"}
                          : std::vector<Dorvu::String>{});
    // The default match spec first, then initializeTable, the walk, the status resync last.
    ASSERT_TRUE(table->defaultMatchSpec());
    EXPECT_EQ(table->initialized,
              std::tuple(table->helper().ptr(), table->defaultMatchSpec().ptr(), 0u, 0u));
    EXPECT_EQ(status->resyncStatusCount(), 1u);
}

// Only the config's own corruption ends the walk quietly: a read-back's passes out. Without
// a key manager no walk, without a status manager no status resync; one default match spec
// at a time: set again it stays, deleted it goes.
TEST_F(ResyncTest, ReadBackCorruptionPassesOutAndNullManagersSkipTheirCallsOnly) {
    EXPECT_THROW(start(kWalkCases[0], true, true, /*corruptRead=*/90),
                 Dorvu::CorruptionDetectedException);
    EXPECT_TRUE(config->corruptions.empty());
    EXPECT_EQ(keys->calls.size(), 1u);  // populate(5) only: no highest key written
    EXPECT_EQ(status->resyncStatusCount(), 0u);
    start(kWalkCases[0], /*withKeys=*/false);
    EXPECT_EQ(std::tuple(table->asked.size(), table->helper()->sdkHandles()->entryCount(),
                         config->highestAllocatedKey(), status->resyncStatusCount()),
              std::tuple(0u, 0u, kHighestBefore, 1u));
    const auto before = table->defaultMatchSpecDel();
    EXPECT_FALSE(table->defaultMatchSpec());
    const auto fresh = table->defaultMatchSpecIs();
    EXPECT_TRUE(fresh != before && table->defaultMatchSpecIs() == fresh);
    start(kWalkCases[0], /*withKeys=*/true, /*withStatus=*/false);
    EXPECT_EQ(table->asked.size(), 3u);
    EXPECT_EQ(keys->highestAllocatedKey(), 9u);
}

class FactoryTest : public TableFixture, public ::testing::WithParamInterface<Backend> {};

INSTANTIATE_TEST_SUITE_P(Backends, FactoryTest, ::testing::Values(Backend::Pd, Backend::Bfrt),
                         ::testing::PrintToStringParamName());

TEST_P(FactoryTest, TracesEachOperationAtLevelNineAndAssertsItsPreconditions) {
    Texts lines;
    const std::shared_ptr<void> restore(nullptr, [level = Bf::traceHandle().level()](void*) {
        Kiv::TraceHandle::sinkIs({});
        Bf::traceHandle().levelIs(level);
    });
    Bf::traceHandle().levelIs(Bf::kTraceLevel);
    Kiv::TraceHandle::sinkIs([&](const Kiv::TraceHandle& handle, int level, std::string_view text) {
        if (&handle == &Bf::traceHandle())
            lines.push_back(std::to_string(level) + " " + std::string(text));
    });
    tableIs(GetParam());
    EXPECT_TRUE(table->useBfRt()) << "whichever backend the factory chose";
    EXPECT_EQ(table->helper()->pdLib()->name(),
              GetParam() == Backend::Pd ? ChipTest::kPdLibraryNoBfRt : ChipTest::kPdLibrary);
    const auto m = matchOf(1, 2, 3);
    const auto& def = table->defaultMatchSpec();
    program(m, actionOf(kHitEcmp));
    program(m, actionOf(kOnMiss));
    program(def, actionOf(kOnMiss));
    table->entry(m);
    table->entryDel(m);

    const auto address = [](const void* p) { return _fmt("%p", p); };
    const std::string cls =
        std::string("9 virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTable") +
        (GetParam() == Backend::Pd ? "Pd" : "Bfrt");
    const std::string entryIs =
        cls + "::entryIs(const BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry&), matchSpec: ";
    Texts expected = {"9 initializeTable",
                      entryIs + address(m.ptr()) + ", action: twiceNatAddrPortHitEcmpActionSpec",
                      "9 Adding new entry",
                      entryIs + address(m.ptr()) + ", action: onMissActionSpec",
                      "9 Modifying existing entry",
                      entryIs + address(def.ptr()) + ", action: onMissActionSpec",
                      "9 Setting default action",
                      "9 BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry "
                      "BfTwiceNatAddrPort::TwiceNatAddrPortTable::entry(const PtrConst&) const",
                      "9 entryByHandle",
                      cls + "::entryDel(const PtrConst&), matchSpec: " + address(m.ptr())};
    if (GetParam() == Backend::Bfrt)
        expected.insert(expected.begin() + 1, "9 initBfRtTable");
    EXPECT_EQ(lines, expected);

    // Violated preconditions and the base class's own operations stop the process.
    const auto onMiss = actionOf(kOnMiss);
    auto unknown = Bf::twiceNatAddrPortBaseActionSpecFactory();
    unknown->actionTypeIs(static_cast<ActionType>(5));
    EXPECT_DEATH(program(m, nullptr), assertionFailed("entry.action() != NULL"));
    EXPECT_DEATH(program(nullptr, onMiss), assertionFailed("entry.match() != NULL"));
    EXPECT_DEATH(program(m, unknown), assertionFailed("0"));
    EXPECT_DEATH(table->entryDel(m), assertionFailed("helper()->sdkHandles()->entryHas( match )"));
    EXPECT_DEATH(table->entry(nullptr), assertionFailed("match != NULL"));
    EXPECT_DEATH(
        twiceNatAddrPortTableFactory(nullptr, nullptr, nullptr, kSession, kDevice, kPipe, ""),
        assertionFailed("pdLibPath"));
    keys->withoutConfig = true;
    EXPECT_DEATH(tableIs(GetParam()), assertionFailed("zabroKeyManager->mbbZabroTableConfig()"));
    table = TwiceNatAddrPortTable::TwiceNatAddrPortTableIs(table->helper(), nullptr, nullptr);
    const auto base = [](const std::string& operation) {
        return assertionFailed("0 && \"base TwiceNatAddrPortTable::" + operation + "() called\"");
    };
    EXPECT_DEATH(program(m, onMiss), base("entryIs"));
    EXPECT_DEATH(table->entryDel(m), base("entryDel"));
    EXPECT_DEATH(table->entryByHandle(1), base("entryByHandle"));
    EXPECT_DEATH(table->initializeTable(table->helper()), base("initializeTable"));
}

}  // namespace
}  // namespace TableTest
