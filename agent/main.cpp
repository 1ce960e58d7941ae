// natagent: the forwarding agent of the twiceNatAddrPort table. See --help.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "AgentError.h"
#include "BfTwiceNatAddrPort/Version.h"
#include "Commands.h"
#include "Options.h"
#include "SdkFailure.h"

namespace {

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

// The runtime falls back to stderr when KIV_TRACE_FILE cannot be opened; an
// operator who asked for a trace file hears of it before anything runs.
void checkTraceFile() {
    const char* path = std::getenv("KIV_TRACE_FILE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        throw NatAgent::InputError(
            std::string("cannot open KIV_TRACE_FILE ") + path + ": " +
            (errno == ELOOP ? "a symbolic link, not followed" : std::strerror(errno)));
    }
    ::close(fd);
}

int run(const NatAgent::Options& options) {
    checkTraceFile();
    using NatAgent::Command;
    switch (options.command) {
        case Command::Program:
            return NatAgent::runProgram(options);
        case Command::Sync:
        case Command::Diff:
            return NatAgent::runSync(options);
        case Command::Get:
            return NatAgent::runGet(options);
        case Command::Flush:
            return NatAgent::runFlush(options);
        case Command::Init:
            return NatAgent::runInit(options);
        case Command::ResetKeys:
            return NatAgent::runResetKeys(options);
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
    return NatAgent::kExitInput;
}

// Whatever was written to standard output must have arrived: a full disk or
// a closed pipe is a failure, not a success with lost output.
int checkedOutput(int status) {
    errno = 0;
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout) {
        std::cerr << "natagent: cannot write to standard output"
                  << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << '\n';
        return status == NatAgent::kExitOk ? NatAgent::kExitFailed : status;
    }
    return status;
}

int guarded(const NatAgent::Options& options) {
    try {
        return run(options);
    } catch (const NatAgent::UsageError& e) {
        std::cerr << "natagent: " << e.what() << " (see natagent --help)\n";
        return NatAgent::kExitInput;
    } catch (const NatAgent::InputError& e) {
        std::cerr << "natagent: " << e.what() << '\n';
        return NatAgent::kExitInput;
    } catch (const NatAgent::AgentError& e) {
        std::cerr << "natagent: " << e.what() << '\n';
        return NatAgent::kExitState;
    } catch (...) {
        std::cerr << "natagent: " << NatAgent::currentFailure().text() << '\n';
    }
    return NatAgent::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    NatAgent::Options options;
    try {
        options = NatAgent::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const NatAgent::UsageError& e) {
        std::cerr << "natagent: " << e.what() << " (see natagent --help)\n";
        return NatAgent::kExitInput;
    }
    if (options.help) {
        std::cout << NatAgent::helpText();
        return checkedOutput(NatAgent::kExitOk);
    }
    if (options.version) {
        std::cout << "natagent " << BfTwiceNatAddrPort::kVersion << '\n';
        return checkedOutput(NatAgent::kExitOk);
    }
    if (options.device.trace) {
        traceFromStart();
    }
    return checkedOutput(guarded(options));
}
