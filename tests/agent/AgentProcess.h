#pragma once
// Runs the natagent binary as its own process, feeds it standard input and
// collects its exit status and both outputs.

#include <functional>
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

// Starts the agent with standard input from `inputFile` and its output
// discarded, and kills it with SIGKILL as soon as `killNow` holds (polled
// every 100 microseconds). True when it was killed before it finished.
bool runAgentKilled(const std::vector<std::string>& args, const std::string& inputFile,
                    const std::vector<std::string>& env, const std::function<bool()>& killNow);

}  // namespace AgentTest
