// The README's examples, run as they stand: each "natagent-file NAME" block
// is written to NAME, then each "sh example" block runs line by line with
// natagent on the PATH; every line must succeed.
#include <fstream>
#include <sstream>

#include "AgentFixture.h"

namespace AgentTest {
namespace {

struct Block {
    std::string info;  // the words after the opening fence
    std::string text;
};

std::vector<Block> fencedBlocks(const std::string& path) {
    std::ifstream in(path);
    std::vector<Block> blocks;
    Block* open = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("```")) {
            if (open != nullptr) {
                open = nullptr;
            } else {
                open = &blocks.emplace_back(Block{line.substr(3), ""});
            }
        } else if (open != nullptr) {
            open->text += line + "\n";
        }
    }
    return blocks;
}

using ReadmeTest = AgentFixture;

TEST_F(ReadmeTest, ExamplesRun) {
    Chip::wipe(0);
    const std::string bin = std::filesystem::path(NATAGENT_BINARY).parent_path().string();
    unsigned commands = 0;
    for (const Block& block : fencedBlocks(README_PATH)) {
        if (block.info.starts_with("natagent-file ")) {
            writeFile(block.info.substr(14), block.text);
            continue;
        }
        if (block.info != "sh example") {
            continue;
        }
        std::istringstream in(block.text);
        for (std::string line; std::getline(in, line); ++commands) {
            EXPECT_EQ(shell("cd '" + dir_.string() + "' && PATH='" + bin + "':$PATH && (" + line +
                            ") >/dev/null 2>err"),
                      0)
                << line << "\n"
                << readFile(dir_ / "err");
        }
    }
    EXPECT_GT(commands, 10u) << "the README lost its examples";
}

}  // namespace
}  // namespace AgentTest
