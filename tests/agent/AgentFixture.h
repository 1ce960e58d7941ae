#pragma once
// The fixture of the agent's suites: a shared-memory prefix of its own per
// test (so chips and key records never meet another test's), a folder for
// input files, the agent run with that prefix and the test's backend, and
// direct access to the chip and the key records for sabotage and checks.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AgentProcess.h"
#include "chip/ChipRegistry.h"
#include "zabro/MbbZabroTableConfig.h"

namespace AgentTest {

inline constexpr const char* kBackends[] = {"pd", "bfrt"};

class AgentFixture : public ::testing::Test {
  public:
    // The chip of `device` in this process; close it before the agent writes to it.
    Chip::Device& chip(unsigned device = 0) { return Chip::open(device); }
    // The key records of device 0, all pipes, opened in this process.
    Zabro::MbbZabroTableConfig::Ptr keyRecords();
    // The first key record's key and handle.
    Zabro::MbbPostcodef::EntryConfig firstRecord();

  protected:
    void SetUp() override;
    void TearDown() override;

    // The agent with the test's prefix and backend before `args`.
    AgentResult agent(std::vector<std::string> args, const std::string& input = "");
    std::string writeFile(const std::string& name, const std::string& text);

    // `show --json` of the device, without the handles: one line per entry.
    std::vector<std::string> shownEntries(const std::vector<std::string>& extra = {});

    std::string backend_ = "bfrt";
    std::string prefix_;
    std::filesystem::path dir_;

  private:
    void wipe();
};

class AgentBackendTest : public AgentFixture, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        AgentFixture::SetUp();
        backend_ = GetParam();
    }
};

// "add <key fields> <action fields>" for entry `i` of a small test table.
std::string addLine(
    unsigned i, const std::string& action = "action=twiceNatAddrPortHit rwId=5 prot=6 nextHop=2");
std::string keyFields(unsigned i);
// Lines of text joined, each ended by a newline.
std::string lines(const std::vector<std::string>& text);
bool contains(const std::string& text, const std::string& part);
// Whether a line of `text` consists of exactly these blank-separated words.
bool hasRow(const std::string& text, const std::vector<std::string>& words);

}  // namespace AgentTest
