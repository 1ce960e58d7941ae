// program and sync --atomic, run as their own processes: checking a whole
// file before anything is programmed, SDK failures per line, identity of
// installed entries and of the default entry across processes.
#include "AgentFixture.h"
#include "chip/ChipDevice.h"

namespace AgentTest {
namespace {

// Every line the parser accepts but the table does not is named with its
// number, and nothing is programmed. Lines are checked before the backend is
// reached, so one backend will do; what the parser refuses is tested with it.
using ProgramCheckTest = AgentFixture;

TEST_F(ProgramCheckTest, EveryBadLineIsNamedAndNothingIsProgrammed) {
    const std::pair<std::string, std::string> bad[] = {
        // a line, part of what is said of it
        {addLine(7, "action=twiceNatAddrPortHit rwId=5 prot=6 nextHop=2 rwid=5"),
         "unknown field 'rwid'"},
        {addLine(8, "action=twiceNatAddrPortHit rwId=5 prot=6 ecmpGroup=2"),
         "unknown field 'ecmpGroup' for action twiceNatAddrPortHit"},
        {addLine(10, "action=twiceNatAddrPortMiss"), "unknown action"},
        {addLine(11, "action=twiceNatAddrPortHit rwId=5 prot=256 nextHop=2"), "0 to 255"},
        {"del ingMdNatKeyId=65536 l4PortHdrSrcPort=1 l4PortHdrDstPort=1", "0 to 65535"},
        {addLine(12, "action=twiceNatAddrPortHit rwId=five prot=6 nextHop=2"), "five"},
        {addLine(13, "action=twiceNatAddrPortHit rwId=5 prot=6"), "missing nextHop"},
        {"del ingMdNatKeyId=1 l4PortHdrSrcPort=1025", "missing l4PortHdrDstPort"},
        {addLine(3, "action=onMiss"), "already used on line 1"},
        {"del " + keyFields(9), "no installed entry"},
        {addLine(14, "action=onMiss rwId=1"), "it takes none"},
        {"default ingMdNatKeyId=1 action=onMiss", "default takes no key field"},
    };
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2)})).status, 0);
    const std::vector<std::string> before = shownEntries();
    // A modify, an add, a delete and a default before the bad lines.
    std::vector<std::string> text = {addLine(3, "action=onMiss"), addLine(1, "action=onMiss"),
                                     "del " + keyFields(2), "default action=onMiss", ""};
    for (const auto& [line, message] : bad) text.push_back(line);
    const std::string file = writeFile("ops.txt", lines(text));

    const AgentResult run = exited(2, agent({"program", file}));
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        const std::size_t at = run.err.find(file + ":" + std::to_string(i + 6) + ": ");
        ASSERT_NE(at, std::string::npos) << bad[i].first << " in\n" << run.err;
        EXPECT_HAS(run.err.substr(at, run.err.find('\n', at) - at), bad[i].second);
    }
    EXPECT_HAS(run.err, "natagent: 12 bad lines in " + file + "; nothing programmed");
    EXPECT_EQ(shownEntries(), before);
}

class ProgramTest : public AgentBackendTest {};

// A chip of 8 entries refuses the ninth: the library's exception names the
// line, and --keep-going decides whether the tenth is tried. A sync that does
// not fit fails part-way, and --atomic puts back what it did.
TEST_P(ProgramTest, TableFullIsReportedPerLineAndAtomicRollsBack) {
    std::vector<std::string> adds;
    for (unsigned i = 1; i <= 10; ++i) adds.push_back(addLine(i));
    const std::string file = writeFile("ten.txt", lines(adds));
    Chip::wipe(0);
    for (const char* device : {"0", "1"}) {
        ASSERT_EQ(agent({"--device", device, "--capacity", "8", "init"}).status, 0);
    }

    const AgentResult going = exited(1, agent({"program", "--keep-going", file}));
    EXPECT_HAS(going.err, file + ":9: add failed: BfTableFull (status 9): ");
    EXPECT_HAS(going.err, "Not enough space");
    EXPECT_HAS(going.out, "8 added, 2 failed (lines 9, 10)");

    const AgentResult stopping = exited(1, agent({"--device", "1", "program", file}));
    EXPECT_HAS(stopping.out, "8 added, 1 failed (line 9), 1 not run");
    EXPECT_EQ(shownEntries({"--device", "1"}).size(), 8u);

    // Deletes come first, so the sync frees two places before it runs out.
    const std::vector<std::string> before = shownEntries();
    std::vector<std::string> want = {addLine(1, "action=onMiss")};
    for (unsigned i = 4; i <= 14; ++i) want.push_back(addLine(i));
    const AgentResult atomic =
        exited(1, agent({"sync", "--atomic", writeFile("big.txt", lines(want))}));
    EXPECT_HAS(atomic.err, "rolled back, the table is as it was before the run");
    EXPECT_EQ(shownEntries(), before);
    EXPECT_EQ(agent({"audit"}).status, 0);
}

// An installed entry, and the default entry, are changed through their own
// match objects by later processes: a modify, not a second add, and no
// second key record. --stream applies each line as it comes.
TEST_P(ProgramTest, LaterProcessesChangeTheSameEntries) {
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2), "default action=onMiss"})).status,
              0);
    const AgentResult modify = exited(
        0, agent({"program"},
                 lines({addLine(1, "action=twiceNatAddrPortHitEcmp rwId=9 prot=17 ecmpGroup=4"),
                        "default action=twiceNatAddrPortHit rwId=1 prot=2 nextHop=3"})));
    EXPECT_EQ(modify.out, "program: 1 modified, 1 default set\n");
    const std::vector<std::string> shown = shownEntries();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_HAS(shown[1],
               "\"action\":\"twiceNatAddrPortHitEcmp\",\"prot\":17,\"rwId\":9,"
               "\"ecmpGroup\":4");

    const AgentResult remove = exited(
        0, agent({"program"},
                 lines({"del " + keyFields(1),
                        "default action=twiceNatAddrPortHitDynamic rwId=4 prot=5 nextHop=6"})));
    EXPECT_EQ(remove.out, "program: 1 deleted, 1 default set\n");

    const AgentResult stream =
        exited(1, agent({"program", "--stream", "--keep-going"},
                        lines({addLine(3), addLine(3, "action=onMiss"), "bogus", addLine(4)})));
    EXPECT_HAS(stream.err, "<stdin>:3: unknown operation 'bogus'");
    EXPECT_HAS(stream.out, "2 added, 1 modified, 1 bad line");

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
