// The agent killed at random points (SIGKILL, some SIGTERM) while it streams a
// long random stream of lines, during init, its start-up resync and audit
// --repair, and restarted each time: the state must open, what the table holds
// must be the stream applied up to some line (nothing committed lost or
// doubled), the restart must write nothing to the chip, and the rest of the
// stream must then complete. Prints one summary line per backend.
#include <cstdio>
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
        if (line.starts_with("default ")) {
            defaultLine = line;
        } else if (line.starts_with("del ")) {
            entries.erase(key);
        } else if (!line.starts_with("#")) {
            entries[key] = line;
        }
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

struct Figures {
    unsigned kills = 0, terms = 0, refusals = 0, lost = 0, orphans = 0, resyncWrites = 0;
};

class CrashRestartTest : public AgentBackendTest {
  protected:
    void killAfter(BackgroundAgent&& agent, unsigned maxMicros) {
        ::usleep(random_() % maxMicros);
        const bool term = random_() % 5 == 0;
        if (!agent.poll()) {
            agent.stop(term ? SIGTERM : SIGKILL);
            ++figures_.kills;
            figures_.terms += term ? 1 : 0;
        }
    }
    // A failed run that should have succeeded: a refusal to open the state.
    void refused(const AgentResult& run) {
        ++figures_.refusals;
        ADD_FAILURE() << run.err;
    }

    std::mt19937 random_{std::string(GetParam()) == "pd" ? 11u : 12u};
    Figures figures_;
};

TEST_P(CrashRestartTest, KilledAnywhereTheAgentRestartsWithNothingCommittedLost) {
    // First-time setup killed part-way: the device then either is not there or opens.
    for (unsigned i = 0; i < kInitKills; ++i) {
        killAfter(BackgroundAgent({"--device", "1", "--capacity", "256", "init"}, "/dev/null"),
                  3000);
        const AgentResult shown = agent({"--device", "1", "show"});
        if (shown.status != 0 && !contains(shown.err, "device 1 does not exist")) {
            refused(shown);
        }
        Chip::wipe(1);
        Zabro::MbbZabroTableConfig::segmentWipe(1, 0xFFFF);
    }

    const Chip::Device& watched = chip();  // mapped before any agent writes
    const std::vector<std::string> stream = randomStream(random_, kKills * 600);
    Table model;
    std::size_t done = 0;
    for (unsigned cycle = 0; done < stream.size() && !HasFailure(); ++cycle) {
        const bool last = figures_.kills >= kKills;  // the rest runs to its end
        const auto from = stream.begin() + static_cast<std::ptrdiff_t>(done);
        const std::vector<std::string> chunk(
            from, last
                      ? stream.end()
                      : from + static_cast<std::ptrdiff_t>(std::min(kChunk, stream.size() - done)));
        const std::string file = writeFile("stream.txt", lines(chunk));
        if (cycle % 10 == 9) {
            killAfter(BackgroundAgent(withBackend({"audit", "--repair"}), "/dev/null"), 2000);
        }
        if (last) {
            EXPECT_EQ(BackgroundAgent(withBackend({"program", "--stream"}), file).wait(), 0);
        } else {
            killAfter(BackgroundAgent(withBackend({"program", "--stream"}), file), 4000);
        }

        // A writer that changes nothing: it opens the state, adopts what a
        // kill left and resyncs, without writing to the chip.
        const std::vector<std::uint32_t> before = watched.entryHandles(Chip::kAllPipes);
        const AgentResult restart = agent({"program"});
        if (restart.status != 0) {
            refused(restart);
        }
        unsigned adopted = 0;
        if (std::sscanf(restart.err.c_str(), "natagent: adopted %u", &adopted) == 1) {
            figures_.orphans += adopted;
        }
        figures_.resyncWrites += watched.entryHandles(Chip::kAllPipes) != before ? 1 : 0;

        // The table must be the stream applied up to some line of the chunk;
        // the latest such line is where the stream goes on.
        Table shown;
        std::istringstream in(agent({"show"}).out);
        for (std::string line; std::getline(in, line);) {
            shown.apply(line);
        }
        Table probe = model;
        std::optional<std::size_t> applied;
        for (std::size_t k = 0; k <= chunk.size(); ++k) {
            applied = probe == shown ? std::optional(k) : applied;
            if (k < chunk.size()) {
                probe.apply(chunk[k]);
            }
        }
        if (!applied) {
            ++figures_.lost;
            ADD_FAILURE() << "the table is no state of the stream after line " << done;
            break;
        }
        for (std::size_t k = 0; k < *applied; ++k) {
            model.apply(chunk[k]);
        }
        done += *applied;
        ASSERT_LT(cycle, 20 * kKills) << "the stream makes no progress";
    }
    const Figures& f = figures_;
    std::printf(
        "crash-restart %s: %u kills (%u SIGTERM), %u refusals to open, %u entries lost, "
        "%u orphans recognised, %u resyncs that wrote to the chip\n",
        GetParam(), f.kills, f.terms, f.refusals, f.lost, f.orphans, f.resyncWrites);
    EXPECT_GE(f.kills, kKills);
    EXPECT_EQ(f.refusals + f.lost + f.resyncWrites, 0u);
    EXPECT_EQ(done, stream.size()) << "the rest of the stream did not complete";
    EXPECT_EQ(agent({"audit"}).status, 0);
}

AGENT_BACKENDS(CrashRestartTest);

}  // namespace
}  // namespace AgentTest
