// Trace lines only for levels that are on, set by the API or by KIV_TRACE (and
// KIV_TRACE_FILE) in a fresh process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "kiv/Trace.h"

namespace KivTest {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// Settings of -1, 0 and 9 are tried through KIV_TRACE below.
TEST(TraceTest, LinesAreBuiltAndWrittenOnlyForLevelsThatAreOn) {
    std::vector<std::string> lines;
    Kiv::TraceHandle::sinkIs([&lines](const Kiv::TraceHandle& h, int level, std::string_view line) {
        lines.push_back(h.name() + ("/" + std::to_string(level) + "/").append(line));
    });
    int built = 0;
    {
        Kiv::TraceHandle handle("KivTest.trace");
        handle.levelIs(2);
        for (int level = 0; level <= Kiv::TraceHandle::kMaxLevel; ++level) {
            KIV_TRACE(handle, level, "line " << ++built);
        }
    }
    EXPECT_EQ(Kiv::TraceHandle::named("KivTest.trace"), nullptr);
    Kiv::TraceHandle::sinkIs({});
    EXPECT_EQ(lines, (std::vector<std::string>{"KivTest.trace/0/line 1", "KivTest.trace/1/line 2",
                                               "KivTest.trace/2/line 3"}));
    EXPECT_EQ(built, 3) << "a message was built for a level that is off";
}

// What the helper, run with exactly `env` as its environment, wrote on stdout and stderr.
std::string runChild(const std::string& env, const std::string& args) {
    const std::string command = "env -i " + env + " " KIV_TRACE_CHILD " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(pipe ? ::pclose(pipe) : -1, 0) << command;
    return out;
}

// Takes off each line's UTC timestamp and process id, checking their form.
std::string withoutStamps(const std::string& text) {
    static const std::regex stamp(R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z \d+ )");
    return std::regex_replace(text, stamp, "$1");
}
std::string fileText(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {}};
}

TEST(TraceEnvironmentTest, SettingsAreReadFromKivTraceAndLinesGoToKivTraceFile) {
    const struct {
        const char* env;
        const char* args;
        const char* output;  // levels on creation and the lines, in order
    } cases[] = {
        {"", "Alpha:0:zero Alpha:9:nine", "Alpha=-1\n"},
        {"KIV_TRACE=Alpha=3", "Alpha:3:on Alpha:4:off Beta:0:other",
         "Alpha=3\nAlpha[3]: on\nBeta=-1\n"},
        {"KIV_TRACE=Alpha=0", "Alpha:0:zero Alpha:1:one", "Alpha=0\nAlpha[0]: zero\n"},
        {"KIV_TRACE='*=2,Beta=7'", "Alpha:2:a2 Alpha:3:a3 Beta:7:b7 Beta:8:b8",
         "Alpha=2\nAlpha[2]: a2\nBeta=7\nBeta[7]: b7\n"},
        {"KIV_TRACE='Alpha=x,=3,Beta=5,Beta=12,Gamma,Alpha:4'", "Alpha:0:a Beta:5:b Gamma:0:c",
         "Alpha=-1\nBeta=5\nBeta[5]: b\nGamma=-1\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutStamps(runChild(c.env, c.args)), c.output) << c.env;
    const std::string path = ::testing::TempDir() + "kiv_trace_file_" + std::to_string(::getpid());
    std::ofstream(path) << "earlier line\n";
    EXPECT_EQ(runChild("KIV_TRACE=Alpha=9 KIV_TRACE_FILE=" + path, "Alpha:9:first Alpha:1:second"),
              "Alpha=9\n");
    EXPECT_EQ(withoutStamps(fileText(path)), "earlier line\nAlpha[9]: first\nAlpha[1]: second\n")
        << "appended, each line stamped";
    // An unopenable file, and a symbolic link (not followed): the lines go to stderr, saying why.
    const std::string link = path + ".link";
    std::ofstream(path) << "target\n";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    for (const auto& [file, why] :
         {std::pair<std::string, std::string>{"/nonexistent/trace", "No such file"},
          {link, "a symbolic link, not followed"}}) {
        EXPECT_THAT(runChild("KIV_TRACE=Alpha=9 KIV_TRACE_FILE=" + file, "Alpha:9:kept"),
                    AllOf(HasSubstr("kiv: cannot open KIV_TRACE_FILE " + file + ": " + why),
                          HasSubstr("Alpha[9]: kept")));
    }
    EXPECT_EQ(fileText(path), "target\n") << "the link's target is untouched";
    ::unlink(link.c_str());
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace KivTest
