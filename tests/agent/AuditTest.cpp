// audit and audit --repair, run as their own processes, after the chip or
// the key records were changed behind the agent's back.
#include <functional>

#include "AgentFixture.h"
#include "chip/ChipDevice.h"
#include "support/RawSegment.h"

namespace AgentTest {
namespace {

struct Sabotage {
    const char* name;
    // Changes the chip or the records of a device holding entries 1 and 2.
    std::function<void(AgentFixture&)> apply;
    std::string finding;  // what audit must report
    std::string repair;   // what --repair must say it did
    std::size_t entriesAfterRepair;
};

Zabro::MbbPostcodef::EntryConfig firstRecord(AgentFixture& f) {
    Zabro::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    EXPECT_TRUE(f.keyRecords()->first(record, hint));
    return record;
}

const Sabotage kSabotages[] = {
    {"EntryAddedOnTheChip",
     [](AgentFixture& f) {
         uint32_t handle = 0;
         ASSERT_EQ(f.chip().entryAdd(Chip::kAllPipes, {7, 7000, 443}, {Chip::Action::Hit, 6, 1, 2},
                                     &handle),
                   Chip::kSuccess);
     },
     "orphan: chip entry 0x00000003 (ingMdNatKeyId=7 l4PortHdrDstPort=443 l4PortHdrSrcPort=7000 "
     "action=twiceNatAddrPortHit prot=6 rwId=1 nextHop=2) is named by no key record",
     "repair: deleted chip entry 0x00000003", 2},
    {"KeyRecordDropped",
     [](AgentFixture& f) { ASSERT_TRUE(f.keyRecords()->recordDel(firstRecord(f).key())); },
     "orphan: chip entry 0x00000001 (ingMdNatKeyId=1 l4PortHdrDstPort=80 l4PortHdrSrcPort=1025 "
     "action=twiceNatAddrPortHit prot=6 rwId=5 nextHop=2) is named by no key record",
     "repair: deleted chip entry 0x00000001", 1},
    {"EntryDeletedOnTheChip",
     [](AgentFixture& f) {
         ASSERT_EQ(f.chip().entryDelete(firstRecord(f).sdkEntryHandle(), Chip::kAnyPipe),
                   Chip::kSuccess);
     },
     "record without entry: key 1 names handle 0x00000001, which no chip entry has",
     "repair: freed key 1", 1},
    {"ChipRecordDamaged",
     [](AgentFixture& f) {
         const uint32_t handle = firstRecord(f).sdkEntryHandle();
         const TestSupport::RawSegment raw(Chip::segmentName(0));
         const auto& header = *reinterpret_cast<const Chip::SegmentHeader*>(raw.base());
         auto* records = reinterpret_cast<Chip::EntryRecord*>(raw.base() + header.recordsOffset);
         records[(handle & Chip::kHandleIndexMask) - 1].natKeyId ^= 0x100;
     },
     "bad chip record 0: checksum mismatch", "repair: cleared bad chip record 0", 1},
};

class AuditTest : public AgentFixture,
                  public ::testing::WithParamInterface<std::tuple<const char*, Sabotage>> {};

TEST_P(AuditTest, FindsWhatWasDoneBehindItsBackAndRepairRemovesIt) {
    backend_ = std::get<0>(GetParam());
    const Sabotage& sabotage = std::get<1>(GetParam());
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2)})).status, 0);
    sabotage.apply(*this);
    Chip::close(0);

    const AgentResult first = exited(1, agent({"audit"}));
    EXPECT_HAS(first.out, sabotage.finding);
    EXPECT_HAS(first.out, "audit: 1 finding");
    // Readers store nothing, their resync neither: a second audit finds the same.
    agent({"show"});
    EXPECT_EQ(agent({"audit"}).out, first.out);

    const AgentResult repaired = exited(0, agent({"audit", "--repair"}));
    EXPECT_HAS(repaired.out, sabotage.repair);
    // A clean audit after it means the records and the chip agree again.
    EXPECT_EQ(agent({"audit"}).status, 0);
    EXPECT_EQ(chip().entryCount(), sabotage.entriesAfterRepair);
}

INSTANTIATE_TEST_SUITE_P(Sabotages, AuditTest,
                         ::testing::Combine(::testing::ValuesIn(kBackends),
                                            ::testing::ValuesIn(kSabotages)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace AgentTest
