#pragma once
// The agent's suites run natagent as its own process. Each test has its own
// shared-memory prefix (so it meets no other test's segments) and folder,
// and reaches the chip and the key records directly for sabotage and checks.

#include <gtest/gtest.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chip/ChipRegistry.h"
#include "zabro/MbbZabroTableConfig.h"

namespace AgentTest {

inline constexpr const char* kBackends[] = {"pd", "bfrt"};

struct AgentResult {
    int status = -1;  // exit status; 128 + signal when it died of one
    std::string out;
    std::string err;
};

// natagent started with `args` and its standard streams on these files; killed when this goes.
class BackgroundAgent {
  public:
    BackgroundAgent(std::vector<std::string> args, const std::string& in,
                    const std::string& out = "/dev/null", const std::string& err = "/dev/null");
    ~BackgroundAgent() { stop(SIGKILL); }
    BackgroundAgent(const BackgroundAgent&) = delete;
    BackgroundAgent& operator=(const BackgroundAgent&) = delete;

    pid_t pid() const { return pid_; }
    std::optional<int> poll() { return reap(WNOHANG); }  // the status once it has ended
    int stop(int signal) {  // sends `signal` unless it has ended; the status
        if (!poll())
            ::kill(pid_, signal);
        return wait();
    }
    int wait() { return reap(0).value_or(-1); }

  private:
    std::optional<int> reap(int options);
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class AgentFixture : public ::testing::Test {
  public:
    // The chip of device 0 in this process; close it before the agent writes to it.
    Chip::Device& chip() { return Chip::open(0); }
    // The key records of device 0, all pipes, opened in this process.
    Zabro::MbbZabroTableConfig::Ptr keyRecords() {
        return Zabro::mbbZabroTableConfigFactory(0, 0xFFFF);
    }

  protected:
    void SetUp() override;
    void TearDown() override;

    // natagent with `input` on its standard input; agent() puts the test's backend first.
    AgentResult run(const std::vector<std::string>& args, const std::string& input = "");
    AgentResult agent(std::vector<std::string> args, const std::string& input = "") {
        return run(withBackend(std::move(args)), input);
    }
    std::vector<std::string> withBackend(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--backend", backend_});
        return args;
    }
    std::string writeFile(const std::string& name, const std::string& text);
    // `show --json` of the device, without the handles: one line per entry.
    std::vector<std::string> shownEntries(const std::vector<std::string>& extra = {});

    std::string backend_ = "bfrt";
    std::string prefix_;
    std::filesystem::path dir_;
};

class AgentBackendTest : public AgentFixture, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        AgentFixture::SetUp();
        backend_ = GetParam();
    }
};

#define AGENT_BACKENDS(suite)                                                 \
    INSTANTIATE_TEST_SUITE_P(Backends, suite, ::testing::ValuesIn(kBackends), \
                             [](const auto& info) { return std::string(info.param); })

// The key fields, and the add line, of entry `i` of a small test table.
inline std::string keyFields(unsigned i) {
    return "ingMdNatKeyId=" + std::to_string(i) + " l4PortHdrSrcPort=" + std::to_string(1024 + i) +
           " l4PortHdrDstPort=80";
}
inline std::string addLine(
    unsigned i, const std::string& action = "action=twiceNatAddrPortHit rwId=5 prot=6 nextHop=2") {
    return "add " + keyFields(i) + " " + action;
}
// Lines of text joined, each ended by a newline.
std::string lines(const std::vector<std::string>& text);
std::string readFile(const std::filesystem::path& path);
inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
// EXPECT_HAS(text, part): a failure shows the whole text.
inline ::testing::AssertionResult hasPart(const char* textExpression, const char*,
                                          const std::string& text, const std::string& part) {
    if (contains(text, part))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << textExpression << " lacks \"" << part << "\":\n"
                                         << text;
}
#define EXPECT_HAS(text, part) EXPECT_PRED_FORMAT2(::AgentTest::hasPart, text, part)
// `text` with each line's blanks made single spaces, none at either end, and a
// newline first: a row with words A and B is then "\nA B\n" in it.
std::string rows(const std::string& text);
// `command` run by the shell: its exit status, -1 when it did not exit.
int shell(const std::string& command);

}  // namespace AgentTest
