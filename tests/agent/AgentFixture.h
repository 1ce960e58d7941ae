#pragma once
// The agent's suites run natagent as its own process. Each test has its own
// shared-memory prefix (so it meets no other test's segments) and folder,
// and reaches the chip and the key records directly for sabotage and checks.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <source_location>
#include <sstream>
#include <string>
#include <vector>

#include "chip/ChipRegistry.h"
#include "support/ChildProcess.h"
#include "zabro/MbbZabroTableConfig.h"

namespace AgentTest {

inline constexpr const char* kBackends[] = {"pd", "bfrt"};

struct AgentResult {
    int status = -1;  // exit status; -1 when a signal ended it
    std::string out;
    std::string err;
};

// natagent started with `args` and its standard streams on these files; killed when this goes.
class BackgroundAgent : public TestSupport::ChildProcess {
  public:
    BackgroundAgent(std::vector<std::string> args, const std::string& in,
                    const std::string& out = "/dev/null", const std::string& err = "/dev/null")
        : ChildProcess([&](int) {
              args.insert(args.begin(), NATAGENT_BINARY);
              std::vector<char*> argv;
              for (std::string& arg : args) argv.push_back(arg.data());
              argv.push_back(nullptr);
              int fd = 0;
              for (const std::string* path : {&in, &out, &err}) {
                  const int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
                  const int opened = ::open(path->c_str(), flags | O_CLOEXEC, 0600);
                  if (opened < 0 || ::dup2(opened, fd++) < 0)
                      ::_exit(126);
              }
              ::execv(NATAGENT_BINARY, argv.data());
              ::_exit(127);
          }) {}
};

// Lines of text joined, each ended by a newline.
inline std::string lines(const std::vector<std::string>& text) {
    std::string joined;
    for (const std::string& line : text) joined += line + "\n";
    return joined;
}
inline std::string readFile(const std::filesystem::path& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {}};
}

class AgentFixture : public ::testing::Test {
  public:
    // The chip of device 0 in this process; close it before the agent writes to it.
    Chip::Device& chip() { return Chip::open(0); }
    // The key records of device 0, all pipes, opened in this process.
    Zabro::MbbZabroTableConfig::Ptr keyRecords() {
        return Zabro::mbbZabroTableConfigFactory(0, 0xFFFF);
    }

  protected:
    void SetUp() override {
        static std::atomic<unsigned> counter{0};
        prefix_ = "natagent" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
        ::setenv("OLVANE_SHM_PREFIX", prefix_.c_str(), 1);
        dir_ = std::filesystem::temp_directory_path() / prefix_;
        std::filesystem::create_directories(dir_);
        wipe();
        // Device 0 exists, as after natagent init; device 1 is made where a test needs it.
        Chip::open(0);
        Chip::close(0);
    }
    void TearDown() override {
        wipe();
        std::filesystem::remove_all(dir_);
    }

    // natagent with `input` on its standard input; agent() puts the test's backend first.
    AgentResult run(const std::vector<std::string>& args, const std::string& input = "") {
        const std::filesystem::path out = dir_ / "stdout", err = dir_ / "stderr";
        const int status = BackgroundAgent(args, writeFile("stdin", input), out, err).exitCode();
        return {status, readFile(out), readFile(err)};
    }
    AgentResult agent(std::vector<std::string> args, const std::string& input = "") {
        return run(withBackend(std::move(args)), input);
    }
    std::vector<std::string> withBackend(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--backend", backend_});
        return args;
    }
    std::string writeFile(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name) << text;
        return (dir_ / name).string();
    }
    // `show --json` of the device, without the handles: one line per entry.
    std::vector<std::string> shownEntries(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"show", "--json"});
        const AgentResult shown = agent(extra);
        EXPECT_EQ(shown.status, 0) << shown.err;
        std::vector<std::string> entries;
        std::istringstream in(shown.out);
        for (std::string line; std::getline(in, line);)
            entries.push_back(line.substr(0, line.find(",\"handle\":")));
        return entries;
    }

    std::string backend_ = "bfrt";
    std::string prefix_;
    std::filesystem::path dir_;

  private:
    // Every chip and key-record segment a test may have made, gone.
    static void wipe() {
        for (Kiv::U8 device = 0; device < 2; ++device) {
            Chip::wipe(device);
            for (Kiv::U16 pipe : {0xFFFF, 0, 1, 2, 3})
                Zabro::MbbZabroTableConfig::segmentWipe(device, pipe);
        }
    }
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
inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
// EXPECT_HAS(text, part): a failure shows the whole text.
#define EXPECT_HAS(text, part) EXPECT_THAT(text, ::testing::HasSubstr(part))
// `result`, once checked to have exited with `status`; a failure names the line
// that ran the agent.
inline AgentResult exited(int status, AgentResult result,
                          std::source_location at = std::source_location::current()) {
    const ::testing::ScopedTrace trace(at.file_name(), static_cast<int>(at.line()), "");
    EXPECT_EQ(result.status, status) << result.out << result.err;
    return result;
}
// `text` with each line's blanks made single spaces, none at either end, and a
// newline first: a row with words A and B is then "\nA B\n" in it.
inline std::string rows(const std::string& text) {
    std::istringstream in(text);
    std::string result = "\n";
    for (std::string line; std::getline(in, line); result += "\n") {
        std::istringstream words(line);
        for (std::string word, blank; words >> word; blank = " ") result += blank + word;
    }
    return result;
}
// `command` run by the shell: its exit status, -1 when it did not exit.
inline int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace AgentTest
