// sync and diff against the installed table, round trips through show, the
// read-only and filtering commands, flush, convergence after a crash, and one
// writer at a time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AgentFixture.h"

#include "chip/ChipDevice.h"

namespace AgentTest {
namespace {

const std::vector<std::string> kEveryAction = {
    addLine(1),
    addLine(2, "action=onMiss"),
    addLine(3, "action=twiceNatAddrPortHitDynamic rwId=65535 prot=255 nextHop=65535"),
    addLine(4, "action=twiceNatAddrPortHitEcmp rwId=0 prot=0 ecmpGroup=1"),
    addLine(5, "action=twiceNatAddrPortHitEcmpDynamic rwId=7 prot=17 ecmpGroup=9"),
    "default action=twiceNatAddrPortHit rwId=1 prot=1 nextHop=1"};

class SyncTest : public AgentBackendTest {};

// A second process reads every action's fields back, and what show prints,
// in either format, is a table sync accepts and finds equal. Then get,
// filters and stats over a chip of 100 entries, and flush.
TEST_P(SyncTest, ReadCommandsAndShowOutputSyncedBackThenFlush) {
    Chip::wipe(0);
    ASSERT_EQ(agent({"--capacity", "100", "init"}).status, 0);
    ASSERT_EQ(agent({"program"}, lines(kEveryAction)).status, 0);
    EXPECT_EQ(
        shownEntries(),
        (std::vector<std::string>{
            R"({"default":true,"action":"twiceNatAddrPortHit","prot":1,"rwId":1,"nextHop":1)",
            R"({"ingMdNatKeyId":1,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1025,"action":"twiceNatAddrPortHit","prot":6,"rwId":5,"nextHop":2)",
            R"({"ingMdNatKeyId":2,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1026,"action":"onMiss")",
            R"({"ingMdNatKeyId":3,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1027,"action":"twiceNatAddrPortHitDynamic","prot":255,"rwId":65535,"nextHop":65535)",
            R"({"ingMdNatKeyId":4,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1028,"action":"twiceNatAddrPortHitEcmp","prot":0,"rwId":0,"ecmpGroup":1)",
            R"({"ingMdNatKeyId":5,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1029,"action":"twiceNatAddrPortHitEcmpDynamic","prot":17,"rwId":7,"ecmpGroup":9)"}));
    const std::vector<std::string> shows[] = {{"show"}, {"show", "--json"}};
    for (const std::vector<std::string>& show : shows) {
        const AgentResult shown = agent(show);
        ASSERT_EQ(shown.status, 0) << shown.err;
        const AgentResult synced = exited(0, agent({"sync", "-"}, shown.out));
        EXPECT_EQ(synced.out, "sync: nothing changed\n") << shown.out;
    }
    const std::string table = agent({"show", "--table"}).out;
    EXPECT_HAS(rows(table), "\n1 80 1025 twiceNatAddrPortHit prot=6 rwId=5 nextHop=2 0x00000001\n");
    EXPECT_HAS(table, "\ndevice 0, all pipes: 5 entries and the default entry\n");

    const AgentResult got = exited(
        0, agent({"get", "ingMdNatKeyId=3", "l4PortHdrSrcPort=1027", "l4PortHdrDstPort=80"}));
    EXPECT_HAS(got.out,
               "\nadd ingMdNatKeyId=3 l4PortHdrDstPort=80 l4PortHdrSrcPort=1027 "
               "action=twiceNatAddrPortHitDynamic prot=255 rwId=65535 "
               "nextHop=65535\n");
    const AgentResult hits = agent({"show", "--json", "prot=0", "action=twiceNatAddrPortHitEcmp"});
    EXPECT_EQ(std::count(hits.out.begin(), hits.out.end(), '\n'), 1) << hits.out;
    EXPECT_HAS(hits.out, "\"ingMdNatKeyId\":4,");

    ASSERT_EQ(agent({"program"}, lines({addLine(6)})).status, 0);
    const std::string stats = agent({"stats"}).out;
    const bool pd = GetParam() == std::string("pd");
    for (const char* row :
         {pd ? "device 0, all pipes, backend PD" : "device 0, all pipes, backend BfRt",
          "twiceNatAddrPortHit 2 33.3%", "chip entries, all scopes 6 6.0%", "keys allocated 7 6.0%",
          "default entry: action=twiceNatAddrPortHit prot=1 rwId=1 nextHop=1"}) {
        EXPECT_HAS(rows(stats), "\n" + std::string(row) + "\n");
    }
    const std::string json = agent({"stats", "--json"}).out;
    for (const char* part : {"\"entries\":6,", "\"twiceNatAddrPortHit\":2,",
                             "\"chipCapacity\":100,", "\"keysAllocated\":7,"}) {
        EXPECT_HAS(json, part);
    }

    const AgentResult flushed = exited(0, agent({"flush", "--yes"}));
    EXPECT_EQ(flushed.out, "flush: 6 deleted, 1 default set\n");
    EXPECT_EQ(agent({"show"}).out, "# device 0, all pipes: 0 entries\n");
    EXPECT_EQ(keyRecords()->recordCount(), 0u);
}

TEST_P(SyncTest, PlansTheFewestStepsDeletesFirstAndDryRunChangesNothing) {
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2), addLine(3)})).status, 0);
    const std::string file =
        writeFile("want.txt", lines({"# wanted", addLine(1), addLine(2, "action=onMiss"),
                                     addLine(4), "default action=onMiss"}));
    const std::vector<std::string> before = shownEntries();

    const AgentResult diff = exited(1, agent({"diff", file}));
    const std::vector<std::string> marks = {"- add ingMdNatKeyId=3", "~ add ingMdNatKeyId=2",
                                            "+ add ingMdNatKeyId=4", "~ default action=onMiss",
                                            "1 to add, 1 to modify, 1 to delete, 1 default"};
    std::size_t at = 0;
    for (const std::string& mark : marks) {
        const std::size_t found = diff.out.find(mark, at);
        EXPECT_NE(found, std::string::npos) << mark << " in order in\n" << diff.out;
        at = found == std::string::npos ? at : found;
    }
    const AgentResult dry = exited(0, agent({"sync", "--dry-run", file}));
    EXPECT_EQ(dry.out, diff.out);
    EXPECT_EQ(shownEntries(), before);

    const AgentResult synced = exited(0, agent({"sync", file}));
    EXPECT_EQ(synced.out, "sync: 1 added, 1 modified, 1 deleted, 1 default set\n");
    EXPECT_EQ(agent({"diff", "-q", file}).status, 0);
    EXPECT_EQ(agent({"audit"}).status, 0);
}

// What a kill leaves is finished at the next start. Chip entries that no key
// record names, as a kill between the chip's add and the record leaves them: a
// program adopts them all and says so, its line then modifying one in place; a
// sync adopts, where they are, those its file names, and removes the rest.
TEST_P(SyncTest, WhatACrashLeftIsAdoptedOrCleared) {
    auto orphan = [this](const Chip::EntryKey& key) {
        uint32_t handle = 0;
        EXPECT_EQ(chip().entryAdd(Chip::kAllPipes, key, {}, &handle), Chip::kSuccess);
        Chip::close(0);
        return handle;
    };
    const uint32_t first = orphan({1, 1025, 80});
    const AgentResult program = agent({"program"}, lines({addLine(1)}));
    EXPECT_EQ(program.err,
              "natagent: adopted 1 chip entry that a crash left without a key record\n");
    EXPECT_EQ(program.out, "program: 1 modified\n");
    EXPECT_EQ(agent({"show", "--json"}).out,
              R"({"ingMdNatKeyId":1,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1025,)"
              R"("action":"twiceNatAddrPortHit","prot":6,"rwId":5,"nextHop":2,"handle":)" +
                  std::to_string(first) + "}\n");

    const uint32_t named = orphan({2, 1026, 80});
    orphan({7, 7000, 443});
    const std::string file = writeFile("want.txt", lines({addLine(1), addLine(2), addLine(3)}));
    const AgentResult synced = exited(0, agent({"sync", file}));
    EXPECT_HAS(synced.out, "1 adopted from the chip, 1 left by a crash cleared, ");
    // reset-keys clears the records and leaves the entries, which a sync adopts.
    EXPECT_EQ(agent({"reset-keys", "--yes"}).status, 0);
    EXPECT_HAS(agent({"sync", file}).out, "sync: 3 adopted from the chip, ");
    EXPECT_EQ(agent({"diff", file}).status, 0);
    EXPECT_EQ(agent({"audit"}).status, 0);
    EXPECT_HAS(agent({"show", "--json", "ingMdNatKeyId=2"}).out,
               "\"handle\":" + std::to_string(named) + "}");
    EXPECT_EQ(chip().entryCount(), 3u);  // the clean audit puts a record on each

    // A default set records the entry under the table's default match spec, then
    // frees the record of its previous match object: a kill between the two
    // leaves two records naming the default entry, and the next start frees one.
    Chip::close(0);
    ASSERT_EQ(agent({"program"}, lines({"default action=onMiss"})).status, 0);
    keyRecords()->sdkEntryHandleIs(keyRecords()->recordAlloc().key(),
                                   chip().defaultEntryHandle(Chip::kAllPipes));
    Chip::close(0);
    EXPECT_EQ(agent({"program"}).err,
              "natagent: freed 1 extra key record of the default entry that a crash left\n");
    EXPECT_EQ(agent({"audit"}).status, 0);
    EXPECT_EQ(keyRecords()->recordCount(), 4u);
}

// One writer per device and pipe: while one agent streams lines from a pipe
// the test keeps open, other writers are refused at once with --wait 0,
// naming the holder, and the first loses nothing.
TEST_P(SyncTest, SecondWriterIsRefusedAndNothingIsLost) {
    const std::string fifo = (dir_ / "feed").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int feed = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // the agent's open will not block
    ASSERT_GE(feed, 0);
    auto send = [feed](const std::string& text) {
        ASSERT_EQ(::write(feed, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    };
    // Mapped before the agent starts, so it sees the agent's entries live; its
    // own counts would be stale until this process opened the chip again.
    const Chip::Device& watched = chip();
    BackgroundAgent first(withBackend({"program", "--stream"}), fifo);
    send(lines({addLine(1)}));
    while (watched.entryHandles(Chip::kAllPipes).empty() && !first.poll()) ::usleep(100);
    const std::pair<const char*, const char*> writers[] = {
        {"program", "-"}, {"audit", "--repair"}, {"flush", "--yes"}, {"reset-keys", "--yes"}};
    for (const auto& [command, option] : writers) {
        const AgentResult second = agent({"--wait", "0", command, option}, lines({addLine(7)}));
        EXPECT_EQ(second.status, 3) << command;
        EXPECT_HAS(second.err, "held by pid " + std::to_string(first.pid()));
    }
    send(lines({addLine(2), addLine(3)}));
    ::close(feed);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(agent({"audit"}).status, 0);
    EXPECT_EQ(shownEntries().size(), 3u);
}

AGENT_BACKENDS(SyncTest);

}  // namespace
}  // namespace AgentTest
