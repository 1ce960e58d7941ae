// program and sync --atomic, run as their own processes: checking a whole
// file before anything is programmed, SDK failures per line, identity of
// installed entries and of the default entry across processes.
#include "AgentFixture.h"
#include "chip/ChipDevice.h"

namespace AgentTest {
namespace {

struct BadLine {
    const char* name;
    std::string line;
    std::string message;  // part of what the agent must say about it
};

// Lines the parser accepts but the table does not; what the parser refuses is
// tested with the parser.
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
    {"MissingField", addLine(7, "action=twiceNatAddrPortHit rwId=5 prot=6"), "missing nextHop"},
    {"MissingKeyField", "del ingMdNatKeyId=1 l4PortHdrSrcPort=1025", "missing l4PortHdrDstPort"},
    {"DuplicateKey", addLine(3, "action=onMiss"), "already used on line 1"},
    {"DeleteNotInstalled", "del " + keyFields(9), "no installed entry"},
    {"ParametersForOnMiss", addLine(7, "action=onMiss rwId=1"), "it takes none"},
    {"KeyFieldOnDefault", "default ingMdNatKeyId=1 action=onMiss", "default takes no key field"},
};

// Lines are checked before the backend is reached, so one backend will do.
class BadLineTest : public AgentFixture, public ::testing::WithParamInterface<BadLine> {};

TEST_P(BadLineTest, ChangesNothingAndEveryBadLineIsNamed) {
    const BadLine& bad = GetParam();
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2)})).status, 0);
    const std::vector<std::string> before = shownEntries();
    // A modify, an add, a delete and a default around the bad line on line 4,
    // and a second bad line, which is reported too.
    const std::string file = writeFile(
        "ops.txt",
        lines({addLine(3, "action=onMiss"), addLine(1, "action=onMiss"), "del " + keyFields(2),
               bad.line, "default action=onMiss", "", addLine(8, "action=onMiss x=")}));

    const AgentResult run = agent({"program", file});

    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, file + ":4: ")) << run.err;
    EXPECT_TRUE(contains(run.err, bad.message)) << run.err;
    EXPECT_TRUE(contains(run.err, file + ":7: field 'x' has no value")) << run.err;
    EXPECT_TRUE(contains(run.err, "natagent: 2 bad lines in " + file + "; nothing programmed"))
        << run.err;
    EXPECT_EQ(shownEntries(), before);
}

INSTANTIATE_TEST_SUITE_P(Lines, BadLineTest, ::testing::ValuesIn(kBadLines),
                         [](const auto& info) { return std::string(info.param.name); });

class ProgramTest : public AgentBackendTest {};

// A chip of 8 entries refuses the ninth: the library's exception names the
// line, and --keep-going decides whether the tenth is tried. A sync that does
// not fit fails part-way, and --atomic puts back what it did.
TEST_P(ProgramTest, TableFullIsReportedPerLineAndAtomicRollsBack) {
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

    // Deletes come first, so the sync frees two places before it runs out.
    const std::vector<std::string> before = shownEntries();
    std::vector<std::string> want = {addLine(1, "action=onMiss")};
    for (unsigned i = 4; i <= 14; ++i) {
        want.push_back(addLine(i));
    }
    const AgentResult atomic = agent({"sync", "--atomic", writeFile("big.txt", lines(want))});
    EXPECT_EQ(atomic.status, 1);
    EXPECT_TRUE(contains(atomic.err, "failed: BfTableFull")) << atomic.err;
    EXPECT_TRUE(contains(atomic.err, "rolled back, the table is as it was before the run"))
        << atomic.err;
    EXPECT_EQ(shownEntries(), before);
    EXPECT_EQ(agent({"audit"}).status, 0);
}

// An installed entry, and the default entry, are changed through their own
// match objects by later processes: a modify, not a second add, and no
// second key record. --stream applies each line as it comes.
TEST_P(ProgramTest, LaterProcessesChangeTheSameEntries) {
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2), "default action=onMiss"})).status,
              0);
    const AgentResult modify = agent(
        {"program"}, lines({addLine(1, "action=twiceNatAddrPortHitEcmp rwId=9 prot=17 ecmpGroup=4"),
                            "default action=twiceNatAddrPortHit rwId=1 prot=2 nextHop=3"}));
    EXPECT_EQ(modify.status, 0) << modify.err;
    EXPECT_EQ(modify.out, "program: 1 modified, 1 default set\n");
    const std::vector<std::string> shown = shownEntries();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_TRUE(contains(shown[1],
                         "\"action\":\"twiceNatAddrPortHitEcmp\",\"prot\":17,\"rwId\":9,"
                         "\"ecmpGroup\":4"))
        << shown[1];

    const AgentResult remove = agent(
        {"program"}, lines({"del " + keyFields(1),
                            "default action=twiceNatAddrPortHitDynamic rwId=4 prot=5 nextHop=6"}));
    EXPECT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(remove.out, "program: 1 deleted, 1 default set\n");

    const AgentResult stream =
        agent({"program", "--stream", "--keep-going"},
              lines({addLine(3), addLine(3, "action=onMiss"), "bogus", addLine(4)}));
    EXPECT_EQ(stream.status, 1);
    EXPECT_TRUE(contains(stream.err, "<stdin>:3: unknown operation 'bogus'")) << stream.err;
    EXPECT_TRUE(contains(stream.out, "2 added, 1 modified, 1 bad line")) << stream.out;

    EXPECT_EQ(agent({"audit"}).status, 0);
    EXPECT_EQ(keyRecords()->recordCount(), 4u) << "entries 2, 3, 4 and the default entry";
    const std::vector<std::string> after = shownEntries();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(
        after[0],
        R"({"default":true,"action":"twiceNatAddrPortHitDynamic","prot":5,"rwId":4,"nextHop":6)");
}

AGENT_BACKENDS(ProgramTest);

}  // namespace
}  // namespace AgentTest
