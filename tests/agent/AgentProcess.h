#pragma once
// Runs the natagent binary as its own process, feeds it standard input and
// collects its exit status and both outputs.

#include <sys/types.h>

#include <functional>
#include <optional>
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

// The agent in the background, standard input from `inputFile`, standard
// output to `outFile` (truncated), standard error discarded. One still
// running when this goes is killed.
class BackgroundAgent {
  public:
    BackgroundAgent(const std::vector<std::string>& args, const std::string& inputFile,
                    const std::vector<std::string>& env, const std::string& outFile = "/dev/null");
    ~BackgroundAgent();
    BackgroundAgent(const BackgroundAgent&) = delete;
    BackgroundAgent& operator=(const BackgroundAgent&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status (128 + signal when it died of one) once it has ended.
    std::optional<int> poll();
    // Sends `signal` unless it has ended, then waits for it: its status.
    int stop(int signal);
    int wait();

  private:
    pid_t pid_;
    std::optional<int> status_;
};

// Starts the agent as BackgroundAgent does and kills it with SIGKILL as soon
// as `killNow` holds (polled every 100 microseconds). True when it was
// killed before it finished.
bool runAgentKilled(const std::vector<std::string>& args, const std::string& inputFile,
                    const std::vector<std::string>& env, const std::function<bool()>& killNow);

}  // namespace AgentTest
