// The agent killed at random points (SIGKILL, some SIGTERM) in init, in a long
// random stream of lines and in audit --repair, and restarted: the state opens,
// the table is the stream applied up to some line, the restart writes nothing
// to the chip, and the rest of the stream completes.
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "AgentFixture.h"
#include "chip/ChipDevice.h"

namespace AgentTest {
namespace {

constexpr unsigned kKills = 100;  // per backend
constexpr unsigned kInitKills = 8;
constexpr unsigned kKeys = 48;
constexpr std::size_t kChunk = 1500;  // lines given to one run

// The table as show prints it: the add line of each key, and the default line.
struct Table {
    std::map<unsigned, std::string> entries;
    std::string defaultLine;
    bool operator==(const Table&) const = default;

    void apply(const std::string& line) {
        const unsigned key = static_cast<unsigned>(std::atoi(line.c_str() + line.find('=') + 1));
        if (line.starts_with("default "))
            defaultLine = line;
        else if (line.starts_with("del "))
            entries.erase(key);
        else if (!line.starts_with("#"))
            entries[key] = line;
    }
};

// Lines in the order show prints fields, over a few keys so that adds,
// modifies and deletes all happen; a delete only of a key the stream added.
std::vector<std::string> randomStream(std::mt19937& random, std::size_t count) {
    std::vector<std::string> lines;
    Table model;
    auto number = [&random](unsigned max) { return std::to_string(random() % (max + 1)); };
    while (lines.size() < count) {
        const unsigned key = 1 + random() % kKeys;
        const unsigned pick = random() % 10;
        const std::string action =
            pick < 3   ? "action=onMiss"
            : pick < 6 ? "action=twiceNatAddrPortHit prot=" + number(255) +
                             " rwId=" + number(65535) + " nextHop=" + number(65535)
                       : "action=twiceNatAddrPortHitEcmp prot=" + number(255) +
                             " rwId=" + number(65535) + " ecmpGroup=" + number(65535);
        const std::string line =
            pick == 9 ? "default " + action
            : pick == 8 && model.entries.count(key) > 0
                ? "del " + keyFields(key)
                : "add ingMdNatKeyId=" + std::to_string(key) + " l4PortHdrDstPort=80 " +
                      "l4PortHdrSrcPort=" + std::to_string(1024 + key) + " " + action;
        model.apply(line);
        lines.push_back(line);
    }
    return lines;
}

class CrashRestartTest : public AgentBackendTest {
  protected:
    void killAfter(BackgroundAgent&& agent, unsigned maxMicros) {
        ::usleep(random_() % maxMicros);
        const bool term = random_() % 5 == 0;
        if (!agent.poll()) {
            agent.kill(term ? SIGTERM : SIGKILL);
            ++kills_;
        }
    }

    std::mt19937 random_{std::string(GetParam()) == "pd" ? 11u : 12u};
    unsigned kills_ = 0;
};

TEST_P(CrashRestartTest, KilledAnywhereTheAgentRestartsWithNothingCommittedLost) {
    // First-time setup killed part-way: the device then either is not there or opens.
    for (unsigned i = 0; i < kInitKills; ++i) {
        killAfter(BackgroundAgent({"--device", "1", "--capacity", "256", "init"}, "/dev/null"),
                  3000);
        const AgentResult shown = agent({"--device", "1", "show"});
        EXPECT_TRUE(shown.status == 0 || contains(shown.err, "device 1 does not exist"))
            << shown.err;
        Chip::wipe(1);
        Zabro::MbbZabroTableConfig::segmentWipe(1, 0xFFFF);
    }

    const Chip::Device& watched = chip();  // mapped before any agent writes
    const std::vector<std::string> stream = randomStream(random_, kKills * 600);
    Table model;
    std::size_t done = 0;
    for (unsigned cycle = 0; done < stream.size() && !HasFailure(); ++cycle) {
        const bool last = kills_ >= kKills;  // the rest runs to its end
        const std::size_t rest = stream.size() - done, size = last ? rest : std::min(kChunk, rest);
        const std::vector<std::string> chunk(stream.begin() + std::ptrdiff_t(done),
                                             stream.begin() + std::ptrdiff_t(done + size));
        const std::string file = writeFile("stream.txt", lines(chunk));
        if (cycle % 10 == 9)
            killAfter(BackgroundAgent(withBackend({"audit", "--repair"}), "/dev/null"), 2000);
        BackgroundAgent streaming(withBackend({"program", "--stream"}), file);
        if (last)
            EXPECT_EQ(streaming.exitCode(), 0);
        else
            killAfter(std::move(streaming), 4000);

        // A writer that changes nothing: it opens the state, adopts what a
        // kill left and resyncs, without writing to the chip.
        const std::vector<std::uint32_t> before = watched.entryHandles(Chip::kAllPipes);
        exited(0, agent({"program"}));
        EXPECT_EQ(watched.entryHandles(Chip::kAllPipes), before) << "a restart wrote to the chip";

        // The table must be the stream applied up to some line of the chunk;
        // the latest such line is where the stream goes on.
        Table shown;
        std::istringstream in(agent({"show"}).out);
        for (std::string line; std::getline(in, line);) shown.apply(line);
        Table probe = model;
        std::optional<std::size_t> applied;
        for (std::size_t k = 0; k <= chunk.size(); ++k) {
            applied = probe == shown ? std::optional(k) : applied;
            if (k < chunk.size())
                probe.apply(chunk[k]);
        }
        if (!applied) {
            ADD_FAILURE() << "the table is no state of the stream after line " << done;
            break;
        }
        for (std::size_t k = 0; k < *applied; ++k) model.apply(chunk[k]);
        done += *applied;
        ASSERT_LT(cycle, 20 * kKills) << "the stream makes no progress";
    }
    EXPECT_GE(kills_, kKills);
    EXPECT_EQ(done, stream.size()) << "the rest of the stream did not complete";
    exited(0, agent({"audit"}));
}

AGENT_BACKENDS(CrashRestartTest);

}  // namespace
}  // namespace AgentTest
