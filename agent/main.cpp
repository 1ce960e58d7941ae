// natagent: the forwarding agent of the twiceNatAddrPort table. See --help.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "AgentError.h"
#include "Commands.h"
#include "Options.h"
#include "SdkFailure.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr const char* kSelf = "/proc/self/exe";

// The library creates its trace handle on first use; asking the runtime
// before any handle exists makes --trace cover the factory's lines too.
void traceFromStart() {
    std::string spec = "BfTwiceNatAddrPort=9";
    if (const char* existing = std::getenv("KIV_TRACE"); existing != nullptr && *existing) {
        spec = std::string(existing) + "," + spec;
    }
    ::setenv("KIV_TRACE", spec.c_str(), 1);
}

int run(const NatAgent::Options& options) {
    using NatAgent::Command;
    switch (options.command) {
        case Command::Program:
            return NatAgent::runProgram(options);
        case Command::Show:
            return NatAgent::runShow(options);
        case Command::Stats:
            return NatAgent::runStats(options);
        case Command::Audit:
            return NatAgent::runAudit(options);
        case Command::Demo:
            return NatAgent::runDemo(options, kSelf);
        case Command::None:
            break;
    }
    return kUsageStatus;
}

}  // namespace

int main(int argc, char** argv) {
    NatAgent::Options options;
    try {
        options = NatAgent::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const NatAgent::UsageError& e) {
        std::cerr << "natagent: " << e.what() << " (see natagent --help)\n";
        return kUsageStatus;
    }
    if (options.help) {
        std::cout << NatAgent::helpText();
        return 0;
    }
    if (options.device.trace) {
        traceFromStart();
    }
    try {
        return run(options);
    } catch (const NatAgent::AgentError& e) {
        std::cerr << "natagent: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "natagent: " << NatAgent::currentFailure().text() << '\n';
    }
    return 1;
}
