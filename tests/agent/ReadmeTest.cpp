// The README's examples, run as they stand: each "natagent-file NAME" block
// is written to NAME, then each "sh example" block runs line by line with
// natagent on the PATH; every line must succeed.
#include <regex>
#include <sstream>

#include "AgentFixture.h"

namespace AgentTest {
namespace {

using ReadmeTest = AgentFixture;

TEST_F(ReadmeTest, ExamplesRun) {
    Chip::wipe(0);
    const std::string bin = std::filesystem::path(NATAGENT_BINARY).parent_path().string();
    const std::string readme = readFile(README_PATH);
    const std::regex block("(^|\n)```([^\n]*)\n([^`]*)```");
    unsigned commands = 0;
    for (std::sregex_iterator it(readme.begin(), readme.end(), block), end; it != end; ++it) {
        const std::string info = (*it)[2], text = (*it)[3];
        if (info.starts_with("natagent-file ")) {
            writeFile(info.substr(14), text);
        } else if (info == "sh example") {
            std::istringstream in(text);
            for (std::string line; std::getline(in, line); ++commands) {
                EXPECT_EQ(shell("cd '" + dir_.string() + "' && PATH='" + bin + "':$PATH && (" +
                                line + ") >/dev/null 2>err"),
                          0)
                    << line << "\n"
                    << readFile(dir_ / "err");
            }
        }
    }
    EXPECT_GT(commands, 10u) << "the README lost its examples";
}

}  // namespace
}  // namespace AgentTest
