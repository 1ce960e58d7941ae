// The key segment in shared memory: its table config (walk order, corrupt records
// found and quarantined, found segments checked before use); the key manager over it
// (keys bound to match objects, restart, wrap-around, a full table); and kills at any
// moment (at random, and before each store of a short stream in turn), after which it
// opens with every committed record as it was and the operation in flight there whole
// or not at all.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "TestMatchSpec.h"
#include "support/ChildProcess.h"
#include "support/LeakCheck.h"
#include "support/RawSegment.h"
#include "support/Thrown.h"
#include "zabro/Zabro.h"
#include "zabro/ZabroSegmentLayout.h"

namespace ZabroTest {
namespace {

using Kiv::U32;
using Kiv::U64;
using MbbZabroKey::ZabroKeyManager;
using Zabro::IterHint;
using Zabro::MbbZabroTableConfig;
using Zabro::Layout::RecordImage;
using Zabro::MbbPostcodef::EntryConfig;

constexpr Kiv::U8 kDevice = 3;
constexpr Kiv::U16 kPipe = 1;

// Unless the process has one already, OLVANE_SHM_PREFIX names the process, so
// that parallel test processes never share a segment.
[[maybe_unused]] const bool kPrivateSegmentPrefix =
    ::setenv("OLVANE_SHM_PREFIX", ("zabrotest" + std::to_string(::getpid())).c_str(), 0) == 0;

// The raw mapping with the key segment's layout.
class RawSegment : public TestSupport::RawSegment {
  public:
    using TestSupport::RawSegment::RawSegment;

    Zabro::Layout::HeaderImage& header() const { return at<Zabro::Layout::HeaderImage>(0); }
    Zabro::Layout::CountersImage& counters() const {
        return at<Zabro::Layout::CountersImage>(Zabro::Layout::kCountersOffset);
    }
    RecordImage& record(U64 slot) const {
        return at<RecordImage>(Zabro::Layout::recordOffset(slot));
    }
    void resealHeader() const { header().checksum = Zabro::Layout::headerChecksum(header()); }
};

class KeySegmentTest : public TestSupport::LeakCheck {
  protected:
    KeySegmentTest() { MbbZabroTableConfig::segmentWipe(kDevice, kPipe); }
    ~KeySegmentTest() override { MbbZabroTableConfig::segmentWipe(kDevice, kPipe); }

    static std::string segmentName() { return MbbZabroTableConfig::segmentName(kDevice, kPipe); }
    // The records a full walk visits, in order, and their keys.
    static std::vector<EntryConfig> walk(const MbbZabroTableConfig& config) {
        std::vector<EntryConfig> records;
        EntryConfig cursor(0, 0, 0, 0, 0);
        IterHint hint;
        for (bool found = config.first(cursor, hint); found;
             found = config.next(cursor.key(), cursor, hint))
            records.push_back(cursor);
        return records;
    }
    static std::vector<U64> walkKeys(const MbbZabroTableConfig& config) {
        std::vector<U64> keys;
        for (const auto& record : walk(config)) keys.push_back(record.key());
        return keys;
    }
};

class TableConfigTest : public KeySegmentTest {
  protected:
    // The table config, with records for keys 1 to `keys` added.
    static MbbZabroTableConfig::Ptr open(U64 keys = 0, U64 capacity = 16) {
        auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, capacity);
        for (U64 i = 0; i < keys; ++i) config->recordAlloc();
        return config;
    }
    EntryConfig cursor{0, 0, 0, 0, 0};
    IterHint hint;
};

TEST(SegmentNameTest, NamesDeviceAndPipeUnderTheConfiguredPrefix) {
    const std::string saved = std::getenv("OLVANE_SHM_PREFIX");
    ::setenv("OLVANE_SHM_PREFIX", "abc", 1);
    EXPECT_EQ(MbbZabroTableConfig::segmentName(0, 65535), "/abc_keys_dev0_pipe65535");
    ::unsetenv("OLVANE_SHM_PREFIX");
    EXPECT_EQ(MbbZabroTableConfig::segmentName(255, 2), "/olvane_keys_dev255_pipe2");
    ::setenv("OLVANE_SHM_PREFIX", saved.c_str(), 1);
}

TEST_F(TableConfigTest, WalkVisitsRecordsInAscendingKeyOrderInASegmentThatKeepsItsCapacity) {
    auto config = open(5);
    config->recordDel(2);
    config->recordDel(4);
    config->highestAllocatedKeyIs(10);
    EXPECT_EQ(config->recordAlloc().key(), 11u);
    EXPECT_EQ(walkKeys(*config), (std::vector<U64>{1, 3, 5, 11}));
    const U64 cases[][2] = {{0, 1}, {1, 3}, {2, 3}, {5, 11}, {11, 0}, {16, 0}, {~0ull, 0}};
    for (const auto& [after, expected] : cases) {
        IterHint fresh;
        EXPECT_EQ(config->next(after, cursor, fresh) ? cursor.key() : 0, expected) << after;
    }
    ASSERT_TRUE(config->first(cursor, hint));
    ASSERT_TRUE(config->next(cursor.key(), cursor, hint));
    ASSERT_TRUE(config->next(1, cursor, hint)) << "a key other than the hint's is located itself";
    EXPECT_EQ(cursor.key(), 3u);
    const auto found = open(0, 1000);
    EXPECT_EQ(found->capacity(), 16u) << "a found segment keeps its capacity";
    EXPECT_THROW(MbbZabroTableConfig::MbbZabroTableConfigIs(kDevice, kPipe + 1, 0),
                 Zabro::SegmentException);
    EXPECT_FALSE(MbbZabroTableConfig::segmentWipe(kDevice, kPipe + 1)) << "nothing was left";
}

TEST_F(TableConfigTest, CorruptRecordIsReportedByTheWalkQuarantinedKeptAndPassed) {
    const struct {
        const char* what;
        void (*damage)(RecordImage& record, const RecordImage& neighbour);
    } cases[] = {
        {"checksum", [](RecordImage& r, const RecordImage&) { r.checksum ^= 0x100; }},
        {"zeroed", [](RecordImage& r, const RecordImage&) { r = RecordImage{}; }},
        {"copied from another slot", [](RecordImage& r, const RecordImage& n) { r = n; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
        {
            auto config = open(3);
            RawSegment raw(segmentName());
            c.damage(raw.record(1), raw.record(0));  // key 2
            std::vector<std::byte> expected = raw.bytes();
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(walkKeys(*config), (std::vector<U64>{1, 3})) << "the walk goes on";
            const std::string report = ::testing::internal::GetCapturedStderr();
            EXPECT_NE(report.find(segmentName()), std::string::npos) << report;
            EXPECT_NE(report.find("slot 1 (key 2)"), std::string::npos) << report;
            EXPECT_EQ(config->corruptionsDetected(), 1u);
            EXPECT_EQ(config->quarantinedRecords(), 1u);
            EXPECT_EQ(config->recordCount(), 2u);
            EXPECT_EQ(walkKeys(*config), (std::vector<U64>{1, 3}));
            EXPECT_EQ(config->corruptionsDetected(), 1u)
                << "a quarantined record is passed quietly";
            // Only the checksum and the quarantine flag changed: the damaged bytes stay.
            const std::vector<std::byte> after = raw.bytes();
            const auto checksum = Zabro::Layout::recordOffset(1) + offsetof(RecordImage, checksum);
            std::memcpy(&expected[checksum], &after[checksum], sizeof(RecordImage::checksum));
            const auto flags = Zabro::Layout::recordOffset(1) + offsetof(RecordImage, flags);
            expected[flags + 3] |= std::byte{0x40};
            EXPECT_TRUE(std::equal(after.begin() + Zabro::Layout::kRecordsOffset, after.end(),
                                   expected.begin() + Zabro::Layout::kRecordsOffset));
        }
        const auto reopened = open();
        EXPECT_EQ(reopened->quarantinedRecords(), 1u) << "the quarantine is kept in the segment";
        EXPECT_EQ(walkKeys(*reopened), (std::vector<U64>{1, 3}));
    }
}

TEST_F(TableConfigTest, CorruptRecordThrowsOnDirectRequestsAndIsNeverHandedOutFromQuarantine) {
    auto config = open(3, 3);
    config->doCorruptionDetected("reported by someone else");
    EXPECT_EQ(config->quarantinedRecords(), 0u) << "nothing detected, nothing isolated";
    RawSegment(segmentName()).record(0).opId ^= 1;
    const auto onFind = TestSupport::thrown<Dorvu::CorruptionDetectedException>(
        [&] { config->recordFind(1, cursor); });
    ASSERT_TRUE(onFind);
    EXPECT_NE(onFind->msg().find("slot 0 (key 1)"), std::string::npos) << onFind->msg();
    EXPECT_THROW(config->sdkEntryHandleIs(1, 4), Dorvu::CorruptionDetectedException);
    config->doCorruptionDetected(onFind->msg());
    EXPECT_EQ(walkKeys(*config), (std::vector<U64>{2, 3}));
    EXPECT_FALSE(config->recordFind(1, cursor));
    EXPECT_THROW(config->sdkEntryHandleIs(1, 4), Zabro::KeyException);
    config->recordDel(2);
    config->recordDel(3);
    // Past the last key, the lowest free keys in turn; key 1 is quarantined.
    EXPECT_EQ(config->recordAlloc().key(), 2u);
    EXPECT_EQ(config->recordAlloc().key(), 3u);
    if (const auto e =
            TestSupport::thrown<Zabro::TableFullException>([&] { config->recordAlloc(); })) {
        EXPECT_NE(e->message().find(segmentName()), std::string::npos) << e->message();
        EXPECT_NE(e->message().find("all 3 keys"), std::string::npos) << e->message();
    }
    EXPECT_EQ(config->recordCount(), 2u);
    EXPECT_TRUE(config->recordDel(1)) << "its owner may still free it";
    EXPECT_EQ(config->quarantinedRecords(), 0u);
    EXPECT_EQ(config->recordAlloc().key(), 1u);
}

// A bad header is refused and left as it was; a half-made one is made anew.
TEST_F(TableConfigTest, BadHeaderIsRefusedAndTheSegmentLeftAsItWas) {
    const struct {
        void (*damage)(const RawSegment&);
        bool reseal;          // whether the header checksum is made to match again
        const char* problem;  // expected in the message; none: the segment is made anew
    } cases[] = {
        {[](const RawSegment& s) { s.header().magic ^= 1; }, false, "bad magic"},
        {[](const RawSegment& s) { s.header().layoutVersion = 1; }, true, "layout version 1"},
        {[](const RawSegment& s) { s.header().capacity = 8; }, false, "checksum"},
        {[](const RawSegment& s) { s.header().recordSize = 40; }, true, "record size 40"},
        {[](const RawSegment& s) { s.header().deviceId = kDevice + 1; }, true, "device 4 pipe 1"},
        {[](const RawSegment& s) { s.header().capacity = ~0ull >> 4; }, true, "does not fit"},
        {[](const RawSegment& s) { s.truncate(s.size() + 4096); }, false, "does not fit"},
        {[](const RawSegment& s) { s.truncate(s.size() - 32); }, false, "does not fit"},
        {[](const RawSegment& s) { s.truncate(100); }, false, "smaller than a header"},
        {[](const RawSegment& s) { s.header().magic = 0; }, false, nullptr},
        {[](const RawSegment& s) { s.truncate(0); }, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem ? c.problem : "half made");
        MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
        open(2);
        {
            RawSegment raw(segmentName());
            c.damage(raw);
            if (c.reseal)
                raw.resealHeader();
        }
        if (!c.problem) {
            const auto config = open(0, 8);
            EXPECT_TRUE(config->created());
            EXPECT_EQ(config->capacity(), 8u);
            EXPECT_EQ(walkKeys(*config), std::vector<U64>{});
            EXPECT_FALSE(open()->created()) << "and complete this time";
            continue;
        }
        const std::vector<std::byte> before = RawSegment(segmentName()).bytes();
        if (const auto e = TestSupport::thrown<Zabro::SegmentException>([] { open(); })) {
            EXPECT_NE(e->message().find(segmentName()), std::string::npos) << e->message();
            EXPECT_NE(e->message().find(c.problem), std::string::npos) << e->message();
        }
        EXPECT_EQ(RawSegment(segmentName()).bytes(), before);
    }
    EXPECT_TRUE(MbbZabroTableConfig::segmentWipe(kDevice, kPipe));
    EXPECT_TRUE(open()->created());
}

// The words outside the header checksum: damage there costs nothing
// committed, and a write stopped after its commit is completed.
TEST_F(TableConfigTest, DamagedCountersAndJournalOpenWithEveryRecordIntact) {
    const struct {
        const char* what;
        void (*damage)(const RawSegment&);
        bool reported;
        U32 handleOfKey2;  // after the open
    } cases[] = {
        {"last op id zeroed", [](const RawSegment& s) { s.counters().lastOpId = 0; }, false, 22},
        {"highest key past the capacity",
         [](const RawSegment& s) { s.counters().highestAllocatedKey = ~0ull; }, false, 22},
        {"journal slot past the capacity",
         [](const RawSegment& s) { s.counters().journalSlot = ~0ull; }, true, 22},
        {"journal image with a bad checksum",
         [](const RawSegment& s) {
             s.counters().journalSlot = 2;
             s.counters().journalRecord = s.record(1);
             s.counters().journalRecord.sdkEntryHandle = 99;
         },
         true, 22},
        {"committed journal entry",
         [](const RawSegment& s) {
             RecordImage image = s.record(1);
             image.sdkEntryHandle = 77;
             image.checksum = Zabro::Layout::recordChecksum(image, 1);
             s.counters().journalRecord = image;
             s.counters().journalSlot = 2;
             s.record(1).flags = 0;  // the in-place write stopped half-way
         },
         false, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
        U64 lastOpId = 0;
        {
            const auto config = open(3);
            for (U64 key = 1; key <= 3; ++key)
                config->sdkEntryHandleIs(key, static_cast<U32>(key * 11));
            lastOpId = config->lastOpId();
        }
        c.damage(RawSegment(segmentName()));
        ::testing::internal::CaptureStderr();
        const auto config = open();
        const std::string report = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(report.find("journal") != std::string::npos, c.reported) << report;
        EXPECT_EQ(walkKeys(*config), (std::vector<U64>{1, 2, 3}));
        ASSERT_TRUE(config->recordFind(2, cursor));
        EXPECT_EQ(cursor.sdkEntryHandle(), c.handleOfKey2);
        EXPECT_EQ(config->corruptionsDetected(), c.reported ? 1u : 0u);
        EXPECT_EQ(RawSegment(segmentName()).counters().journalSlot, 0u);
        EXPECT_GE(config->lastOpId(), lastOpId) << "no op id is handed out twice";
        EXPECT_EQ(config->recordAlloc().key(), 4u);
    }
}

class KeyManagerTest : public KeySegmentTest {
  protected:
    static ZabroKeyManager::Ptr open(U64 capacity = ZabroKeyManager::kDefaultCapacity) {
        return MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe, capacity);
    }
    static EntryConfig recordOf(const ZabroKeyManager& keys, U64 key) {
        EntryConfig record(0, 0, 0, 0, 0);
        EXPECT_TRUE(keys.mbbZabroTableConfig()->recordFind(key, record)) << "key " << key;
        return record;
    }
    static auto match() { return BfnTableTest::TestMatchSpec::TestMatchSpecIs(); }
};

TEST_F(KeyManagerTest, AllocBindsAscendingKeysWithRecordsThatTakeAHandleUntilFreed) {
    const auto keys = open();
    const auto a = match(), b = match();  // equal in value
    EXPECT_EQ(keys->alloc(a, false), 1u);
    EXPECT_EQ(keys->alloc(b, false), 2u);
    EXPECT_EQ(keys->key(b), 2u) << "matches are told apart by object, not value";
    EXPECT_EQ(keys->match(2), b);
    const auto opIdBefore = recordOf(*keys, 2).opId();
    EXPECT_FALSE(recordOf(*keys, 2).handleSet());
    keys->sdkEntryHandleIs(2, 0);
    EXPECT_TRUE(recordOf(*keys, 2).handleSet()) << "a handle of 0 is told apart from none";
    EXPECT_GT(recordOf(*keys, 2).opId(), opIdBefore);
    EXPECT_THROW(keys->sdkEntryHandleIs(3, 5), Zabro::KeyException) << "a key without a record";
    EXPECT_THROW(keys->alloc(nullptr, false), Kiv::Exception);
    EXPECT_THROW(MbbZabroKey::zabroKeyManagerFactory(nullptr), Kiv::Exception);
    EXPECT_EQ(keys->alloc(a, true), 1u) << "reuse of the bound key";
    EXPECT_EQ(keys->alloc(a, false), 3u);
    EXPECT_EQ(keys->key(a), 3u);
    EXPECT_EQ(keys->boundKeyCount(), 2u) << "the rebinding dropped key 1's link";
    keys->free(2);
    EXPECT_EQ(keys->key(b), 0u);
    EXPECT_EQ(b->references(), 1u) << "the key manager let go of the match";
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<U64>{1, 3}))
        << "the old key keeps its record until freed";
    keys->free(2);  // a free key stays free
    EXPECT_EQ(keys->recordCount(), 2u);
    EXPECT_EQ(keys->alloc(b, false), 4u) << "new keys follow the highest";
    EXPECT_THROW(keys->free(0), Zabro::KeyException);
    EXPECT_THROW(keys->free(ZabroKeyManager::kDefaultCapacity + 1), Zabro::KeyException);
}

// The first manager to bind a match keeps its key in the match, a second one
// in its own map; neither sees the other's, and the first one's death frees
// the match for the next (which may take its place in memory).
TEST_F(KeyManagerTest, ManagersSharingAMatchKeepTheirOwnKeys) {
    auto first = open();
    const auto config = first->mbbZabroTableConfig();
    const auto second = ZabroKeyManager::ZabroKeyManagerIs(config);
    const auto a = match(), b = match();
    first->alloc(a, false);  // 1
    first->alloc(b, false);  // 2
    EXPECT_EQ(second->key(a), 0u);
    second->alloc(a, false);  // 3
    EXPECT_EQ(second->alloc(a, false), 4u);
    EXPECT_EQ(std::tuple(first->key(a), second->key(a), second->match(3)),
              std::tuple(1u, 4u, nullptr));
    first = nullptr;
    EXPECT_EQ(std::tuple(a->references(), b->references()), std::tuple(3u, 1u))
        << "the second one holds a through its key vector and its map";
    const auto third = ZabroKeyManager::ZabroKeyManagerIs(config);
    EXPECT_EQ(third->key(a), 0u);
    EXPECT_EQ(third->alloc(a, false), 5u);
    second->free(4);
    EXPECT_EQ(std::tuple(second->key(a), second->boundKeyCount(), third->key(a), third->match(5)),
              std::tuple(0u, 0u, 5u, a));
}

// The records and the highest key (set by name: the segment's, not the manager's) outlive
// the manager; populate then binds matches again and drops entries gone from hardware.
TEST_F(KeyManagerTest, RestartKeepsRecordsAndTheHighestKeyAndPopulateBindsMatchesAgain) {
    {
        const auto keys = open();
        for (int i = 0; i < 3; ++i) keys->alloc(match(), false);
        Kiv::genericSet(*keys, "highestAllocatedKey", U64{10});
        EXPECT_EQ(keys->alloc(match(), false), 11u);
    }
    const auto keys = open();
    EXPECT_EQ(keys->recordCount(), 4u);
    EXPECT_EQ(keys->boundKeyCount(), 0u) << "match objects do not outlive their process";
    const auto a = match(), c = match();
    keys->populate(1, a);
    keys->populate(2, nullptr);
    keys->populate(3, c);
    EXPECT_EQ(keys->key(a), 1u);
    EXPECT_EQ(keys->key(c), 3u);
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<U64>{1, 3, 11}));
    EXPECT_THROW(keys->populate(2, a), Zabro::KeyException);
    EXPECT_EQ(keys->key(a), 1u) << "a refused populate leaves the binding alone";
    EXPECT_THROW(keys->populate(0, a), Zabro::KeyException);
    EXPECT_EQ(keys->alloc(match(), false), 12u);
    keys->highestAllocatedKeyIs(0);
    EXPECT_EQ(keys->alloc(match(), false), 2u) << "key 1 is taken, so the lowest free one";
    EXPECT_EQ(keys->highestAllocatedKey(), 2u);
}

constexpr U64 kCapacity = 48;

// A slot as the model sees it: live, handle set, handle, generation.
using Slot = std::tuple<bool, bool, U32, U32>;
using Model = std::vector<Slot>;  // indexed by key; [0] unused

// Draws the next operation of the stream from the model alone, so that the parent,
// holding the same model and generator, knows what the child did next. Runs it on
// `config` when there is one, and applies it to the model: an Alloc with the key that
// `config` handed out, or else `allocated`. Hands back the allocated key, 0 for the others.
U64 step(std::mt19937_64& random, Model& model, MbbZabroTableConfig* config, U64 allocated = 0) {
    std::vector<U64> live;
    for (U64 key = 1; key <= kCapacity; ++key)
        if (std::get<0>(model[key]))
            live.push_back(key);
    const U64 roll = random() % 100;
    const U64 pick = live.empty() ? 0 : live[random() % live.size()];
    const auto handle = static_cast<U32>(random());
    if (roll >= 95) {  // now and then past the capacity
        const U64 highest = random() % (kCapacity + 2);
        if (config)
            config->highestAllocatedKeyIs(highest);
        return 0;
    }
    if (live.empty() || (roll < 45 && live.size() < kCapacity)) {
        const U64 key = config ? config->recordAlloc().key() : allocated;
        model[key] = {true, false, 0, std::get<3>(model[key]) + 1};
        return key;
    }
    const bool handleIs = roll < 70;  // else a delete
    if (config && handleIs)
        config->sdkEntryHandleIs(pick, handle);
    else if (config)
        config->recordDel(pick);
    model[pick] = {handleIs, handleIs, handleIs ? handle : 0, std::get<3>(model[pick])};
    return 0;
}

class KillTest : public KeySegmentTest {
  protected:
    // Runs the stream in a child that reports the key of each operation, killing itself
    // before its `killAtStore`th store (never when 0); kills it `pause` after its
    // `stopAfter`th report (never when 0), brings the model up to date with every report
    // and checks the reopened segment against it.
    bool round(U64 ops, U64 stopAfter, std::chrono::microseconds pause = {}, U64 killAtStore = 0) {
        TestSupport::ChildProcess child([&](int reports) {
            static U64 stores = 0, limit;  // the store hook is a plain function
            limit = killAtStore;
            Zabro::Layout::storeHook = [] {
                if (++stores == limit)
                    ::raise(SIGKILL);
            };
            const auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
            for (U64 i = 0; i < ops; ++i)
                TestSupport::report(reports, step(random, model, config.ptr()));
            ::_exit(0);
        });
        U64 key = 0;
        for (U64 reports = 1; child.read(key); ++reports) {
            step(random, model, nullptr, key);
            ++committed;
            if (reports == stopAfter) {
                std::this_thread::sleep_for(pause);
                child.kill();
            }
        }
        const bool finished = child.exitCode() == 0;
        EXPECT_NE(child.exitCode(), 200) << "an operation threw after " << committed;
        checkAgainstModel();
        return finished;
    }

    // Reads the segment as a restarted process would and compares each slot with the model.
    void checkAgainstModel() {
        MbbZabroTableConfig::Ptr config;
        ASSERT_NO_THROW(config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity))
            << "after " << committed << " operations";
        Model found(kCapacity + 1);
        const RawSegment raw(segmentName());
        for (U64 key = 1; key <= kCapacity; ++key)  // a free slot's generation, from the bytes
            std::get<3>(found[key]) = raw.record(key - 1).generation;
        for (const auto& r : walk(*config))
            found[r.key()] = {true, r.handleSet(), r.sdkEntryHandle(), r.generation()};
        EXPECT_EQ(config->corruptionsDetected(), 0u) << "after " << committed << " operations";
        std::vector<U64> differ;
        for (U64 key = 1; key <= kCapacity; ++key)
            if (found[key] != model[key])
                differ.push_back(key);
        // The operation in flight is there whole or not at all.
        if (differ.size() == 1) {
            std::mt19937_64 peek = random;
            Model done = model;
            step(peek, done, nullptr, differ[0]);
            if (done == found) {
                model = done;
                random = peek;
                ++committed;
                return;
            }
        }
        for (U64 key : differ)
            EXPECT_EQ(found[key], model[key]) << "key " << key << " after " << committed;
    }

    std::mt19937_64 random{20261206};
    Model model = Model(kCapacity + 1);
    U64 committed = 0;
};

TEST_F(KillTest, RandomKillsAndAKillBeforeEveryStoreLoseNothingCommitted) {
    std::mt19937 when(7);
    for (int i = 0; i < 200 && !HasFailure(); ++i) {
        const U64 target = 1 + when() % 300;
        round(1'000'000, target, std::chrono::microseconds(when() % 100));
    }
    // Then short streams stopped before their 1st, 2nd, ... store until one
    // runs to the end: from a fresh name (creation first), and from the
    // segment the random kills left.
    const auto start = RawSegment(segmentName()).bytes();
    const Model startModel = model;
    const auto startRandom = random;
    U64 storePoints = 0;
    for (const bool fresh : {true, false}) {
        for (U64 stopAt = 1;; ++stopAt, ++storePoints) {
            if (fresh)
                MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
            else
                std::copy(start.begin(), start.end(), RawSegment(segmentName()).base());
            model = fresh ? Model(kCapacity + 1) : startModel;
            random = startRandom;
            if (round(20, 0, {}, stopAt) || HasFailure())
                break;
        }
    }
    EXPECT_GT(storePoints, 2 * kCapacity * 6) << "the short streams cover their stores";
}

}  // namespace
}  // namespace ZabroTest
