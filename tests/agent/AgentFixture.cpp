#include "AgentFixture.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

namespace AgentTest {

namespace {

constexpr unsigned kDevicesUsed = 2;
constexpr unsigned kAllPipes = 0xFFFF;
constexpr unsigned kPipes = 4;

}  // namespace

void AgentFixture::SetUp() {
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

void AgentFixture::TearDown() {
    wipe();
    std::filesystem::remove_all(dir_);
}

void AgentFixture::wipe() {
    for (unsigned device = 0; device < kDevicesUsed; ++device) {
        Chip::wipe(device);
        Zabro::MbbZabroTableConfig::segmentWipe(static_cast<Kiv::U8>(device), kAllPipes);
        for (unsigned pipe = 0; pipe < kPipes; ++pipe) {
            Zabro::MbbZabroTableConfig::segmentWipe(static_cast<Kiv::U8>(device),
                                                    static_cast<Kiv::U16>(pipe));
        }
    }
}

AgentResult AgentFixture::agent(std::vector<std::string> args, const std::string& input) {
    args.insert(args.begin(), {"--backend", backend_});
    return runAgent(args, input, {"OLVANE_SHM_PREFIX=" + prefix_});
}

std::string AgentFixture::writeFile(const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path) << text;
    return path.string();
}

std::vector<std::string> AgentFixture::shownEntries(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"show", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const AgentResult shown = agent(args);
    EXPECT_EQ(shown.status, 0) << shown.err;
    std::vector<std::string> entries;
    std::istringstream in(shown.out);
    for (std::string line; std::getline(in, line);) {
        entries.push_back(line.substr(0, line.find(",\"handle\":")));
    }
    return entries;
}

Zabro::MbbZabroTableConfig::Ptr AgentFixture::keyRecords() {
    return Zabro::mbbZabroTableConfigFactory(0, kAllPipes);
}

Zabro::MbbPostcodef::EntryConfig AgentFixture::firstRecord() {
    Zabro::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    EXPECT_TRUE(keyRecords()->first(record, hint));
    return record;
}

std::string keyFields(unsigned i) {
    return "ingMdNatKeyId=" + std::to_string(i) + " l4PortHdrSrcPort=" + std::to_string(1024 + i) +
           " l4PortHdrDstPort=80";
}

std::string addLine(unsigned i, const std::string& action) {
    return "add " + keyFields(i) + " " + action;
}

std::string lines(const std::vector<std::string>& text) {
    std::string joined;
    for (const std::string& line : text) {
        joined += line + "\n";
    }
    return joined;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool hasRow(const std::string& text, const std::vector<std::string>& words) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream row(line);
        std::vector<std::string> found;
        for (std::string word; row >> word;) {
            found.push_back(word);
        }
        if (found == words) {
            return true;
        }
    }
    return false;
}

}  // namespace AgentTest
