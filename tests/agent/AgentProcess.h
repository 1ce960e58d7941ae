#pragma once
// Runs the natagent binary as its own process, feeds it standard input and
// collects its exit status and both outputs.

#include <string>
#include <vector>

namespace AgentTest {

struct AgentResult {
    int status = -1;  // exit status; 128 + signal when it died of one
    std::string out;
    std::string err;
};

// `env` entries ("NAME=value") are added to this process's environment.
AgentResult runAgent(const std::vector<std::string>& args, const std::string& input = "",
                     const std::vector<std::string>& env = {});

}  // namespace AgentTest
