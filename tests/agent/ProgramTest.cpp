// program, run as its own process: checking a whole file before anything is
// programmed, SDK failures per line, identity of installed entries across
// processes, the default entry across restarts.
#include "AgentFixture.h"
#include "chip/ChipDevice.h"

namespace AgentTest {
namespace {

struct BadLine {
    const char* name;
    std::string line;
    std::string message;  // part of what the agent must say about it
};

const BadLine kBadLines[] = {
    {"UnknownField", addLine(7, "action=twiceNatAddrPortHit rwId=5 prot=6 nextHop=2 rwid=5"),
     "unknown field 'rwid'"},
    {"FieldOfAnotherAction", addLine(7, "action=twiceNatAddrPortHit rwId=5 prot=6 ecmpGroup=2"),
     "unknown field 'ecmpGroup' for action twiceNatAddrPortHit"},
    {"UnknownAction", addLine(7, "action=twiceNatAddrPortMiss"), "unknown action"},
    {"OutOfRange", addLine(7, "action=twiceNatAddrPortHit rwId=5 prot=256 nextHop=2"), "0 to 255"},
    {"KeyOutOfRange", "del ingMdNatKeyId=65536 l4PortHdrSrcPort=1 l4PortHdrDstPort=1",
     "0 to 65535"},
    {"NotANumber", addLine(7, "action=twiceNatAddrPortHit rwId=five prot=6 nextHop=2"), "five"},
    {"Malformed", "add ingMdNatKeyId", "expected name=value"},
    {"UnknownOperation", "ad " + keyFields(7), "unknown operation 'ad'"},
    {"MissingField", addLine(7, "action=twiceNatAddrPortHit rwId=5 prot=6"), "missing nextHop"},
    {"MissingKeyField", "del ingMdNatKeyId=1 l4PortHdrSrcPort=1025", "missing l4PortHdrDstPort"},
    {"DuplicateKey", addLine(3, "action=onMiss"), "already used on line 1"},
    {"DeleteNotInstalled", "del " + keyFields(9), "no installed entry"},
    {"ParametersForOnMiss", addLine(7, "action=onMiss rwId=1"), "it takes none"},
    {"KeyFieldOnDefault", "default ingMdNatKeyId=1 action=onMiss", "default takes no key field"},
};

// Lines are checked before the backend is reached, so one backend will do.
class BadLineTest : public AgentFixture, public ::testing::WithParamInterface<BadLine> {};

TEST_P(BadLineTest, ChangesNothingAndNamesTheLine) {
    const BadLine& bad = GetParam();
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2)})).status, 0);
    const std::vector<std::string> before = shownEntries();
    // A modify, an add, a delete and a default around the bad line on line 4.
    const std::string file =
        writeFile("ops.txt", lines({addLine(3, "action=onMiss"), addLine(1, "action=onMiss"),
                                    "del " + keyFields(2), bad.line, "default action=onMiss"}));

    const AgentResult run = agent({"program", file});

    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, file + ":4: ")) << run.err;
    EXPECT_TRUE(contains(run.err, bad.message)) << run.err;
    EXPECT_TRUE(contains(run.err, "nothing programmed")) << run.err;
    EXPECT_EQ(shownEntries(), before);
}

INSTANTIATE_TEST_SUITE_P(Lines, BadLineTest, ::testing::ValuesIn(kBadLines),
                         [](const auto& info) { return std::string(info.param.name); });

class ProgramTest : public AgentBackendTest {};

TEST_P(ProgramTest, EveryBadLineIsReportedNotOnlyTheFirst) {
    const AgentResult run =
        agent({"program"},
              lines({"# header", addLine(1, "action=nope"), "", addLine(2, "action=onMiss x=")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "<stdin>:2: unknown action 'nope'")) << run.err;
    EXPECT_TRUE(contains(run.err, "<stdin>:4: field 'x' has no value")) << run.err;
    EXPECT_TRUE(contains(run.err, "2 bad lines")) << run.err;
}

// A chip of 8 entries refuses the ninth: the library's exception names the
// line, and --keep-going decides whether the tenth is tried.
TEST_P(ProgramTest, TableFullIsReportedPerLine) {
    std::vector<std::string> adds;
    for (unsigned i = 1; i <= 10; ++i) {
        adds.push_back(addLine(i));
    }
    const std::string file = writeFile("ten.txt", lines(adds));
    Chip::wipe(0);
    for (const char* device : {"0", "1"}) {
        ASSERT_EQ(agent({"--device", device, "--capacity", "8", "init"}).status, 0);
    }

    const AgentResult going = agent({"program", "--keep-going", file});
    EXPECT_EQ(going.status, 1);
    EXPECT_TRUE(contains(going.err, file + ":9: add failed: BfTableFull (status 9): "))
        << going.err;
    EXPECT_TRUE(contains(going.err, file + ":10: add failed: BfTableFull")) << going.err;
    EXPECT_TRUE(contains(going.err, "Not enough space")) << going.err;
    EXPECT_TRUE(contains(going.out, "8 added, 2 failed (lines 9, 10)")) << going.out;

    const AgentResult stopping = agent({"--device", "1", "program", file});
    EXPECT_EQ(stopping.status, 1);
    EXPECT_TRUE(contains(stopping.err, ":9: add failed")) << stopping.err;
    EXPECT_FALSE(contains(stopping.err, ":10:")) << stopping.err;
    EXPECT_TRUE(contains(stopping.out, "8 added, 1 failed (line 9), 1 not run")) << stopping.out;
    EXPECT_EQ(shownEntries({"--device", "1"}).size(), 8u);
}

// The orphan window: an entry on the chip that no key record names, as a kill
// between the chip's add and the record leaves it. The next writer adopts it
// before its resync and says so; the line then modifies it in place.
TEST_P(ProgramTest, EntryACrashLeftWithoutARecordIsAdoptedAtStart) {
    uint32_t handle = 0;
    ASSERT_EQ(chip().entryAdd(Chip::kAllPipes, {1, 1025, 80}, {}, &handle), Chip::kSuccess);
    Chip::close(0);

    const AgentResult run = agent({"program"}, lines({addLine(1)}));

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "natagent: adopted 1 chip entry that a crash left without a key record\n");
    EXPECT_EQ(run.out, "program: 1 modified\n");
    EXPECT_EQ(keyRecords()->recordCount(), 1u);
    EXPECT_EQ(
        shownEntries(),
        std::vector<std::string>{
            R"({"ingMdNatKeyId":1,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1025,"action":"twiceNatAddrPortHit","prot":6,"rwId":5,"nextHop":2)"});
    const std::string json = agent({"show", "--json"}).out;
    EXPECT_TRUE(contains(json, "\"handle\":" + std::to_string(handle) + "}")) << json;
    EXPECT_EQ(agent({"audit"}).status, 0);
}

// An installed entry is changed through its own match object, also from a
// later process: a modify, not a second add, and no second key.
TEST_P(ProgramTest, LaterProcessesModifyAndDeleteTheSameEntry) {
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2)})).status, 0);

    const AgentResult modify =
        agent({"program"},
              lines({addLine(1, "action=twiceNatAddrPortHitEcmp rwId=9 prot=17 ecmpGroup=4")}));
    EXPECT_EQ(modify.status, 0) << modify.err;
    EXPECT_TRUE(contains(modify.out, "program: 1 modified")) << modify.out;
    const std::vector<std::string> shown = shownEntries();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(contains(shown[0],
                         "\"action\":\"twiceNatAddrPortHitEcmp\",\"prot\":17,\"rwId\":9,"
                         "\"ecmpGroup\":4"))
        << shown[0];

    const AgentResult remove = agent({"program"}, lines({"del " + keyFields(1)}));
    EXPECT_EQ(remove.status, 0) << remove.err;
    EXPECT_TRUE(contains(remove.out, "program: 1 deleted")) << remove.out;
    EXPECT_EQ(shownEntries().size(), 1u);
    EXPECT_EQ(keyRecords()->recordCount(), 1u);
    EXPECT_EQ(agent({"audit"}).status, 0);
}

// After a restart the default entry comes back under a read-back object;
// setting it again must not leave two key records naming it.
TEST_P(ProgramTest, DefaultEntrySetAgainAfterARestartKeepsOneRecord) {
    ASSERT_EQ(agent({"program"}, lines({"default action=onMiss"})).status, 0);
    ASSERT_EQ(
        agent({"program"}, lines({"default action=twiceNatAddrPortHit rwId=1 prot=2 nextHop=3"}))
            .status,
        0);
    ASSERT_EQ(agent({"program"},
                    lines({"default action=twiceNatAddrPortHitDynamic rwId=4 prot=5 nextHop=6"}))
                  .status,
              0);

    const AgentResult audit = agent({"audit"});
    EXPECT_EQ(audit.status, 0) << audit.out;
    EXPECT_EQ(keyRecords()->recordCount(), 1u);
    const std::vector<std::string> shown = shownEntries();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(
        shown[0],
        R"({"default":true,"action":"twiceNatAddrPortHitDynamic","prot":5,"rwId":4,"nextHop":6)");
}

TEST_P(ProgramTest, StreamAppliesEachLineAsItComes) {
    const AgentResult run =
        agent({"program", "--stream", "--keep-going"},
              lines({addLine(1), addLine(1, "action=onMiss"), "bogus", addLine(2)}));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "<stdin>:3: unknown operation 'bogus'")) << run.err;
    EXPECT_TRUE(contains(run.out, "2 added, 1 modified, 1 bad line")) << run.out;
    EXPECT_EQ(shownEntries().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Backends, ProgramTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace AgentTest
