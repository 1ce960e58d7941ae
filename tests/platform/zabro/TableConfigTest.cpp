#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>

#include "TestMatchSpec.h"
#include "ZabroTestSupport.h"

namespace ZabroTest {
namespace {

using BfnTableTest::TestMatchSpec;
using Zabro::IterHint;
using Zabro::MbbZabroTableConfig;
using Zabro::Layout::RecordImage;
using Zabro::MbbPostcodef::EntryConfig;

class TableConfigTest : public KeySegmentTest {
  protected:
    static MbbZabroTableConfig::Ptr open(Kiv::U64 capacity = 16) {
        return Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, capacity);
    }
    // A table config with records for keys 1..count.
    static MbbZabroTableConfig::Ptr withKeys(Kiv::U64 count, Kiv::U64 capacity = 16) {
        auto config = open(capacity);
        for (Kiv::U64 i = 0; i < count; ++i) config->recordAlloc();
        return config;
    }
    // The message of the corruption that `request` throws; empty when it throws none.
    static std::string corruption(const std::function<void()>& request) {
        try {
            request();
        } catch (const Dorvu::CorruptionDetectedException& e) {
            return e.msg();
        }
        return {};
    }
};

TEST(SegmentNameTest, NamesDeviceAndPipeUnderTheConfiguredPrefix) {
    const std::string saved = std::getenv("OLVANE_SHM_PREFIX");
    ::setenv("OLVANE_SHM_PREFIX", "abc", 1);
    EXPECT_EQ(MbbZabroTableConfig::segmentName(0, 65535), "/abc_keys_dev0_pipe65535");
    ::unsetenv("OLVANE_SHM_PREFIX");
    EXPECT_EQ(MbbZabroTableConfig::segmentName(255, 2), "/olvane_keys_dev255_pipe2");
    ::setenv("OLVANE_SHM_PREFIX", saved.c_str(), 1);
}

TEST_F(TableConfigTest, WalkVisitsRecordsInAscendingKeyOrder) {
    auto config = withKeys(5);
    config->recordDel(2);
    config->recordDel(4);
    config->highestAllocatedKeyIs(10);
    EXPECT_EQ(config->recordAlloc().key(), 11u);
    EXPECT_EQ(walkKeys(*config), (std::vector<Kiv::U64>{1, 3, 5, 11}));

    struct Case {
        Kiv::U64 after;
        std::optional<Kiv::U64> expected;
    };
    for (const Case& c : {Case{0, 1}, Case{1, 3}, Case{2, 3}, Case{5, 11}, Case{11, std::nullopt},
                          Case{16, std::nullopt}, Case{~Kiv::U64{0}, std::nullopt}}) {
        EntryConfig cursor(0, 0, 0, 0, 0);
        IterHint fresh;
        const bool found = config->next(c.after, cursor, fresh);
        EXPECT_EQ(found, c.expected.has_value()) << "after " << c.after;
        if (found) {
            EXPECT_EQ(cursor.key(), *c.expected) << "after " << c.after;
        }
    }
}

TEST_F(TableConfigTest, HintResumesOnlyAfterTheRecordItNames) {
    auto config = withKeys(4);
    EntryConfig cursor(0, 0, 0, 0, 0);
    IterHint hint;
    ASSERT_TRUE(config->first(cursor, hint));
    ASSERT_TRUE(config->next(cursor.key(), cursor, hint));
    ASSERT_TRUE(config->next(cursor.key(), cursor, hint));
    EXPECT_EQ(cursor.key(), 3u);
    ASSERT_TRUE(config->next(1, cursor, hint)) << "a key other than the hint's is located itself";
    EXPECT_EQ(cursor.key(), 2u);

    auto other = withKeys(0);  // same segment, another object: the hint is not its own
    ASSERT_TRUE(other->next(2, cursor, hint));
    EXPECT_EQ(cursor.key(), 3u);
}

TEST_F(TableConfigTest, EmptyTableHasNoFirstRecord) {
    const auto config = open();
    EntryConfig cursor(7, 7, 7, 7, 7);
    IterHint hint;
    EXPECT_FALSE(config->first(cursor, hint));
    EXPECT_EQ(config->recordCount(), 0u);
    EXPECT_TRUE(config->created());
    EXPECT_FALSE(open()->created());
}

TEST_F(TableConfigTest, FoundSegmentKeepsItsCapacityAndBadCapacitiesAreRefused) {
    withKeys(1, 8);
    EXPECT_EQ(open(1000)->capacity(), 8u);
    EXPECT_THROW(MbbZabroTableConfig::MbbZabroTableConfigIs(kDevice, kPipe + 1, 0),
                 Zabro::SegmentException);
    EXPECT_FALSE(segmentExists(MbbZabroTableConfig::segmentName(kDevice, kPipe + 1)));
}

struct Damage {
    const char* what;
    std::function<void(RecordImage& target, const RecordImage& neighbour)> apply;
    friend void PrintTo(const Damage& d, std::ostream* os) { *os << d.what; }
};

class CorruptRecordTest : public TableConfigTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(CorruptRecordTest, IsReportedOnFirstAndNextThenQuarantinedAndSkipped) {
    {
        auto config = withKeys(3);
        RawSegment raw(segmentName());
        GetParam().apply(raw.record(1), raw.record(0));  // key 2
        const std::vector<std::byte> damaged = raw.bytes();

        EntryConfig cursor(0, 0, 0, 0, 0);
        IterHint hint;
        ASSERT_TRUE(config->first(cursor, hint));
        const std::string onNext = corruption([&] { config->next(1, cursor, hint); });
        ASSERT_FALSE(onNext.empty()) << "next must not walk past a corrupt record";
        EXPECT_NE(onNext.find(segmentName()), std::string::npos) << onNext;
        EXPECT_NE(onNext.find("slot 1 (key 2)"), std::string::npos) << onNext;

        config->doCorruptionDetected(onNext);
        EXPECT_EQ(config->corruptionsDetected(), 1u);
        EXPECT_EQ(config->quarantinedRecords(), 1u);
        EXPECT_EQ(config->recordCount(), 2u);
        EXPECT_EQ(walkKeys(*config), (std::vector<Kiv::U64>{1, 3}));
        // Only the checksum field changed: the damaged bytes stay for inspection.
        const std::vector<std::byte> after = raw.bytes();
        const std::size_t checksumAt =
            Zabro::Layout::recordOffset(1) + offsetof(RecordImage, checksum);
        for (std::size_t i = Zabro::Layout::kRecordsOffset; i < after.size(); ++i) {
            if (i < checksumAt || i >= checksumAt + 4) {
                ASSERT_EQ(after[i], damaged[i]) << i;
            }
        }
    }
    const auto reopened = open();
    EXPECT_EQ(reopened->quarantinedRecords(), 1u) << "the quarantine is kept in the segment";
    EXPECT_EQ(walkKeys(*reopened), (std::vector<Kiv::U64>{1, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Damages, CorruptRecordTest,
    ::testing::Values(
        Damage{"Handle", [](RecordImage& r, const RecordImage&) { r.sdkEntryHandle ^= 0x10; }},
        Damage{"Flags", [](RecordImage& r, const RecordImage&) { r.flags ^= 1u << 31; }},
        Damage{"Key", [](RecordImage& r, const RecordImage&) { r.key = 9; }},
        Damage{"OpId", [](RecordImage& r, const RecordImage&) { r.opId ^= 1ull << 40; }},
        Damage{"Checksum", [](RecordImage& r, const RecordImage&) { r.checksum ^= 0x100; }},
        Damage{"Zeroed", [](RecordImage& r, const RecordImage&) { r = RecordImage{}; }},
        Damage{"CopiedFromAnotherSlot",
               [](RecordImage& r, const RecordImage& neighbour) { r = neighbour; }}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.what); });

TEST_F(TableConfigTest, CorruptFirstRecordStopsFirstAndKeysAreNeverHandedOutFromQuarantine) {
    auto config = withKeys(3, 3);
    RawSegment raw(segmentName());
    raw.record(0).opId ^= 1;

    EntryConfig cursor(0, 0, 0, 0, 0);
    IterHint hint;
    const std::string onFirst = corruption([&] { config->first(cursor, hint); });
    EXPECT_NE(onFirst.find("slot 0 (key 1)"), std::string::npos) << onFirst;
    EXPECT_NE(corruption([&] { config->recordFind(1, cursor); }), "");
    EXPECT_THROW(config->sdkEntryHandleIs(1, 4), Dorvu::CorruptionDetectedException);
    config->doCorruptionDetected(onFirst);
    EXPECT_EQ(walkKeys(*config), (std::vector<Kiv::U64>{2, 3}));
    EXPECT_FALSE(config->recordFind(1, cursor));
    EXPECT_THROW(config->sdkEntryHandleIs(1, 4), Zabro::KeyException);

    config->recordDel(3);
    EXPECT_EQ(config->recordAlloc().key(), 3u);
    EXPECT_THROW(config->recordAlloc(), Zabro::TableFullException) << "key 1 is quarantined";

    EXPECT_TRUE(config->recordDel(1)) << "its owner may still free it";
    EXPECT_EQ(config->quarantinedRecords(), 0u);
    EXPECT_EQ(config->recordAlloc().key(), 1u);
}

TEST_F(TableConfigTest, IsolationWithoutADetectedCorruptionIsolatesNothing) {
    auto config = withKeys(2);
    config->doCorruptionDetected("reported by someone else");
    EXPECT_EQ(config->corruptionsDetected(), 1u);
    EXPECT_EQ(config->quarantinedRecords(), 0u);
    EXPECT_EQ(walkKeys(*config), (std::vector<Kiv::U64>{1, 2}));
}

struct BadHeader {
    const char* what;
    std::function<void(const RawSegment&)> apply;
    const char* problem;  // expected in the message
    friend void PrintTo(const BadHeader& b, std::ostream* os) { *os << b.what; }
};

class BadHeaderTest : public TableConfigTest, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(BadHeaderTest, IsRefusedAndTheSegmentLeftAsItWas) {
    withKeys(2);
    std::vector<std::byte> before;
    {
        RawSegment raw(segmentName());
        GetParam().apply(raw);
    }
    before = RawSegment(segmentName()).bytes();
    try {
        open();
        FAIL() << "a bad header must be refused";
    } catch (const Zabro::SegmentException& e) {
        EXPECT_NE(e.message().find(segmentName()), std::string::npos) << e.message();
        EXPECT_NE(e.message().find(GetParam().problem), std::string::npos) << e.message();
    }
    EXPECT_THROW(MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe), Zabro::SegmentException);
    ASSERT_TRUE(segmentExists(segmentName()));
    EXPECT_EQ(RawSegment(segmentName()).bytes(), before);

    EXPECT_TRUE(MbbZabroTableConfig::segmentWipe(kDevice, kPipe));
    EXPECT_FALSE(MbbZabroTableConfig::segmentWipe(kDevice, kPipe));
    EXPECT_TRUE(open()->created());
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BadHeaderTest,
    ::testing::Values(
        BadHeader{"Magic", [](const RawSegment& s) { s.header().magic ^= 1; }, "bad magic"},
        BadHeader{"Version",
                  [](const RawSegment& s) {
                      s.header().layoutVersion = 2;
                      s.resealHeader();
                  },
                  "layout version 2"},
        BadHeader{"Checksum", [](const RawSegment& s) { s.header().highestAllocatedKey = 99; },
                  "header checksum"},
        BadHeader{"RecordSize",
                  [](const RawSegment& s) {
                      s.header().recordSize = 40;
                      s.resealHeader();
                  },
                  "record size 40"},
        BadHeader{"Device",
                  [](const RawSegment& s) {
                      s.header().deviceId = kDevice + 1;
                      s.resealHeader();
                  },
                  "device 4 pipe 1"},
        BadHeader{"Grown", [](const RawSegment& s) { s.truncate(s.size() + 4096); },
                  "does not fit"},
        BadHeader{"Shrunk", [](const RawSegment& s) { s.truncate(s.size() - 32); }, "does not fit"},
        BadHeader{"Empty", [](const RawSegment& s) { s.truncate(0); }, "too small"}),
    [](const ::testing::TestParamInfo<BadHeader>& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace ZabroTest
