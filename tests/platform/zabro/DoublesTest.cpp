#include <gtest/gtest.h>

#include "TestMatchSpec.h"
#include "ZabroDoubles.h"
#include "ZabroTestSupport.h"

namespace ZabroTest {
namespace {

using BfnTableTest::TestMatchSpec;
using Zabro::MbbPostcodef::EntryConfig;

using DoublesTest = KeySegmentTest;

TEST_F(DoublesTest, ScriptedWalkHandsOutRecordsInScriptOrderThroughTheBase) {
    const auto scripted = ScriptedTableConfig::ScriptedTableConfigIs(
        kDevice, kPipe,
        {EntryConfig(5, 0, 50, 0, 0), EntryConfig(9, 0, 90, 0, 0), EntryConfig(0, 0, 7, 0, 0)});
    const Zabro::MbbZabroTableConfig& config = *scripted;
    std::vector<std::pair<Kiv::U64, Kiv::U32>> seen;
    EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    for (bool found = config.first(cursor, hint); found;
         found = config.next(cursor.key(), cursor, hint)) {
        seen.emplace_back(cursor.key(), cursor.sdkEntryHandle());
    }
    EXPECT_EQ(seen, (std::vector<std::pair<Kiv::U64, Kiv::U32>>{{5, 50}, {9, 90}, {0, 7}}));
    EXPECT_EQ(scripted->afterKeys, (std::vector<Kiv::U64>{5, 9, 0}));
}

TEST_F(DoublesTest, ScriptedCorruptionThrowsAtItsRecordAndIsOnlyLogged) {
    const auto scripted = ScriptedTableConfig::ScriptedTableConfigIs(
        kDevice, kPipe, {EntryConfig(1, 0, 10, 0, 0), EntryConfig(2, 0, 20, 0, 0)}, 1);
    Zabro::MbbZabroTableConfig& config = *scripted;
    EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    ASSERT_TRUE(config.first(cursor, hint));
    EXPECT_THROW(config.next(1, cursor, hint), Dorvu::CorruptionDetectedException);
    config.doCorruptionDetected("bad");
    EXPECT_EQ(scripted->corruptions, (std::vector<Dorvu::String>{"bad"}));
    EXPECT_EQ(scripted->corruptionsDetected(), 0u) << "the real reaction is not reached";
}

TEST_F(DoublesTest, RecordingKeyManagerLogsRequestsMadeThroughTheBase) {
    const auto recording = RecordingKeyManager::RecordingKeyManagerIs(
        Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, 16));
    MbbZabroKey::ZabroKeyManager& keys = *recording;
    const auto match = TestMatchSpec::TestMatchSpecIs(1);
    const auto key = keys.alloc(match, false);
    keys.populate(0, match);
    keys.highestAllocatedKeyIs(9);
    keys.free(key);

    using Call = RecordingKeyManager::Call;
    EXPECT_EQ(recording->calls, (std::vector<Call>{{"alloc", 1, match},
                                                   {"populate", 0, match},
                                                   {"highestAllocatedKeyIs", 9, nullptr},
                                                   {"free", 1, nullptr}}));
    EXPECT_EQ(keys.highestAllocatedKey(), 9u);
    EXPECT_EQ(keys.recordCount(), 0u);
}

TEST_F(DoublesTest, KeyManagerUsesTheTableConfigItIsGiven) {
    const auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, 16);
    const auto keys = MbbZabroKey::zabroKeyManagerFactory(config);
    EXPECT_EQ(keys->mbbZabroTableConfig(), config);
    keys->alloc(TestMatchSpec::TestMatchSpecIs(1), false);
    EXPECT_EQ(config->recordCount(), 1u);
    EXPECT_THROW(MbbZabroKey::zabroKeyManagerFactory(nullptr), Kiv::Exception);
}

}  // namespace
}  // namespace ZabroTest
