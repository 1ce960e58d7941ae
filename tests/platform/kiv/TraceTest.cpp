// Trace handles: lines appear only for levels that are on, set by the API or
// by the environment (KIV_TRACE, KIV_TRACE_FILE) of a fresh process.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kiv/Format.h"
#include "kiv/Trace.h"

namespace KivTest {
namespace {

class TraceTest : public ::testing::Test {
  protected:
    TraceTest() {
        Kiv::TraceHandle::sinkIs(
            [this](const Kiv::TraceHandle& h, int level, std::string_view line) {
                lines_.push_back(Kiv::_fmt("%s/%d/%.*s", h.name(), level,
                                           static_cast<int>(line.size()), line.data()));
            });
    }
    ~TraceTest() override { Kiv::TraceHandle::sinkIs({}); }

    std::vector<std::string> lines_;
};

TEST_F(TraceTest, LinesAppearOnlyForLevelsThatAreOn) {
    Kiv::TraceHandle handle("KivTest.trace");
    int built = 0;
    const auto note = [&built](int level) {
        ++built;
        return level;
    };
    for (const int setting : {-1, 0, 3, 9}) {
        lines_.clear();
        built = 0;
        handle.levelIs(setting);
        EXPECT_EQ(handle.level(), setting);
        for (int level = 0; level <= Kiv::TraceHandle::kMaxLevel; ++level) {
            KIV_TRACE(handle, level, "line " << note(level));
        }
        std::vector<std::string> expected;
        for (int level = 0; level <= setting; ++level) {
            expected.push_back(Kiv::_fmt("KivTest.trace/%d/line %d", level, level));
        }
        EXPECT_EQ(lines_, expected);
        EXPECT_EQ(built, setting + 1) << "a message was built for a level that is off";
    }
}

TEST_F(TraceTest, HandlesAreFoundByNameWhileTheyLive) {
    {
        Kiv::TraceHandle first("KivTest.first");
        Kiv::TraceHandle second("KivTest.second");
        EXPECT_EQ(Kiv::TraceHandle::named("KivTest.second"), &second);
        EXPECT_EQ(Kiv::TraceHandle::named("KivTest.first"), &first);
    }
    EXPECT_EQ(Kiv::TraceHandle::named("KivTest.first"), nullptr);
}

struct ChildOutput {
    std::string out;
    std::string err;
    int status;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the helper with exactly `env` as its environment.
ChildOutput runChild(std::vector<std::string> env, std::vector<std::string> args) {
    const std::string base = ::testing::TempDir() + "kiv_trace_" + std::to_string(::getpid());
    args.insert(args.begin(), KIV_TRACE_CHILD);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (base + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, (base + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data()) == 0) {
        ::waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&files);
    ChildOutput output{readFile(base + ".out"), readFile(base + ".err"), status};
    ::unlink((base + ".out").c_str());
    ::unlink((base + ".err").c_str());
    return output;
}

TEST(TraceEnvironmentTest, SettingsAreReadFromKivTrace) {
    const struct {
        const char* setting;
        std::vector<std::string> args;
        const char* levels;
        const char* lines;
    } cases[] = {
        {nullptr, {"Alpha:0:zero", "Alpha:9:nine"}, "Alpha=-1\n", ""},
        {"Alpha=3",
         {"Alpha:3:on", "Alpha:4:off", "Beta:0:other"},
         "Alpha=3\nBeta=-1\n",
         "Alpha[3]: on\n"},
        {"Alpha=0", {"Alpha:0:zero", "Alpha:1:one"}, "Alpha=0\n", "Alpha[0]: zero\n"},
        {"*=2,Beta=7",
         {"Alpha:2:a2", "Alpha:3:a3", "Beta:7:b7", "Beta:8:b8"},
         "Alpha=2\nBeta=7\n",
         "Alpha[2]: a2\nBeta[7]: b7\n"},
        {"Alpha=x,=3,Beta=5,Beta=12,Gamma,Alpha:4",
         {"Alpha:0:a", "Beta:5:b", "Gamma:0:c"},
         "Alpha=-1\nBeta=5\nGamma=-1\n",
         "Beta[5]: b\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> env;
        if (c.setting) {
            env.push_back(std::string("KIV_TRACE=") + c.setting);
        }
        const ChildOutput child = runChild(env, c.args);
        EXPECT_EQ(child.status, 0);
        EXPECT_EQ(child.out, c.levels) << (c.setting ? c.setting : "unset");
        EXPECT_EQ(child.err, c.lines) << (c.setting ? c.setting : "unset");
    }
}

TEST(TraceEnvironmentTest, KivTraceFileReceivesTheLinesAppended) {
    const std::string path = ::testing::TempDir() + "kiv_trace_file_" + std::to_string(::getpid());
    std::ofstream(path) << "earlier line\n";
    const ChildOutput child = runChild({"KIV_TRACE=Alpha=9", "KIV_TRACE_FILE=" + path},
                                       {"Alpha:9:first", "Alpha:1:second"});
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.err, "");
    EXPECT_EQ(readFile(path), "earlier line\nAlpha[9]: first\nAlpha[1]: second\n");
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace KivTest
