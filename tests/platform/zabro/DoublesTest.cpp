// The stand-ins other suites drive the key manager with, reached through their bases.

#include <gtest/gtest.h>

#include "TestMatchSpec.h"
#include "ZabroDoubles.h"
#include "ZabroTestSupport.h"

namespace ZabroTest {
namespace {

using Zabro::MbbPostcodef::EntryConfig;
using DoublesTest = KeySegmentTest;

TEST_F(DoublesTest, ScriptedWalkHandsOutRecordsInScriptOrderThenItsCorruption) {
    const auto scripted = ScriptedTableConfig::ScriptedTableConfigIs(
        kDevice, kPipe, {EntryConfig(5, 0, 50, 0, 0), EntryConfig(0, 0, 7, 0, 0)}, 2);
    Zabro::MbbZabroTableConfig& config = *scripted;
    EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    ASSERT_TRUE(config.first(cursor, hint));
    EXPECT_EQ(cursor.sdkEntryHandle(), 50u);
    ASSERT_TRUE(config.next(5, cursor, hint));
    EXPECT_EQ(cursor.key(), 0u);
    EXPECT_THROW(config.next(0, cursor, hint), Dorvu::CorruptionDetectedException);
    EXPECT_EQ(scripted->afterKeys, (std::vector<Kiv::U64>{5, 0}));
    config.doCorruptionDetected("bad");
    EXPECT_EQ(scripted->corruptions, (std::vector<Dorvu::String>{"bad"}));
    EXPECT_EQ(scripted->corruptionsDetected(), 0u) << "the real reaction is not reached";
}

TEST_F(DoublesTest, RecordingKeyManagerLogsRequestsAndKeepsKeysInTheConfigItIsGiven) {
    const auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, 16);
    const auto recording = RecordingKeyManager::RecordingKeyManagerIs(config);
    MbbZabroKey::ZabroKeyManager& keys = *recording;
    const auto match = BfnTableTest::TestMatchSpec::TestMatchSpecIs(1);
    EXPECT_EQ(keys.alloc(match, false), 1u);
    EXPECT_EQ(config->recordCount(), 1u);
    keys.populate(0, match);
    keys.highestAllocatedKeyIs(9);
    keys.free(1);
    EXPECT_EQ(recording->calls,
              (std::vector<RecordingKeyManager::Call>{{"alloc", 1, match},
                                                      {"populate", 0, match},
                                                      {"highestAllocatedKeyIs", 9, nullptr},
                                                      {"free", 1, nullptr}}));
    EXPECT_EQ(config->highestAllocatedKey(), 9u);
    EXPECT_EQ(config->recordCount(), 0u);
    EXPECT_THROW(MbbZabroKey::zabroKeyManagerFactory(nullptr), Kiv::Exception);
}

}  // namespace
}  // namespace ZabroTest
