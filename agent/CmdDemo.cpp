// demo: program a generated table on a wiped chip, then restart as a new
// process that resyncs and checks it (DemoVerify.cpp).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "AgentError.h"
#include "Commands.h"
#include "DemoPlan.h"
#include "DemoVerify.h"
#include "Output.h"
#include "ProgramRun.h"

extern char** environ;

namespace NatAgent {

namespace {

// Starts `self` with `args`.
pid_t spawnSelf(const std::string& self, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string name = "natagent";
    argv.push_back(name.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::cout.flush();
    pid_t pid = 0;
    if (const int error =
            ::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ)) {
        throw AgentError("cannot start " + self + ": " + std::strerror(error));
    }
    return pid;
}

// The exit status of `pid`, or 1 when it died of a signal.
int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw AgentError(std::string("waiting for the restarted agent: ") +
                             std::strerror(errno));
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// One phase of programming, timed; false when any line failed.
bool programPhase(AgentDevice& device, const char* what, const std::vector<std::string>& lines,
                  const std::string& progressLabel) {
    const std::string text = joinLines(lines);
    ProgramSettings settings;
    settings.source = std::string("demo ") + what;
    settings.progressLabel = progressLabel;
    const Stopwatch watch;
    const ProgramReport report = programBatch(device, text, settings, std::cerr);
    const Seconds took = watch.elapsed();
    std::cout << "  " << what << ": " << summaryText(report) << " in " << durationText(took);
    if (lines.size() > 1) {
        std::cout << " (" << rateText(lines.size(), took) << ")";
    }
    std::cout << '\n';
    return report.ok();
}

void wipe(const DeviceOptions& options, SimControl::Control& control) {
    const std::string chip = control.deviceWipe(options.device);
    Zabro::MbbZabroTableConfig::segmentWipe(static_cast<Kiv::U8>(options.device),
                                            static_cast<Kiv::U16>(options.pipe));
    std::cout << "wiped " << chip << " and "
              << Zabro::MbbZabroTableConfig::segmentName(static_cast<Kiv::U8>(options.device),
                                                         static_cast<Kiv::U16>(options.pipe))
              << '\n';
}

}  // namespace

int runDemo(const Options& options, const std::string& self) {
    if (options.verifyOnly) {
        return verifyDemo(options);
    }
    const Stopwatch total;
    std::cout << "natagent demo: " << options.entries << " entries from seed " << options.seed
              << '\n';
    // The chip is wiped and created through the simulator's control, which a PD
    // library over hardware does not offer: the demo then stops here, saying
    // why. The library stays open for the whole run, so the chip stays loaded
    // in between.
    const SharedLibrary pdLibrary(libraryPaths(options.device).pd);
    SimControl::Control& control = simControlFor(pdLibrary, "the demo");
    const Shm::WriterLock writer = lockWriter(options.device);
    SimControl::DeviceInfo found;
    if (!options.wipe && control.deviceExists(options.device.device) &&
        control.deviceInfo(options.device.device, &found) == 0 && found.entryCount > 0) {
        throw UsageError("device " + std::to_string(options.device.device) + " holds " +
                         std::to_string(found.entryCount) +
                         " entries; the demo wipes it only when given --wipe");
    }
    wipe(options.device, control);
    AgentDevice::create(pdLibrary, options.device);
    DeviceOptions holding = options.device;
    holding.lockHeld = true;
    const DemoPlan plan = makeDemoPlan(options.entries, options.seed);
    bool ok = true;
    {
        AgentDevice device(holding);
        device.table();
        std::cout << "device " << options.device.device << ", " << device.pipeText() << ", backend "
                  << device.backendName() << ", chip capacity "
                  << device.chipInfo().value_or(SimControl::DeviceInfo{}).capacity << '\n';
        std::cout << "generated " << plan.load.size() << " entries:";
        const char* separator = " ";
        for (const auto& [action, n] : plan.loadByAction) {
            std::cout << separator << action << ' ' << n;
            separator = ", ";
        }
        std::cout << '\n';
        ok = programPhase(device, "load", plan.load, "loading") &&
             programPhase(device, "modify", plan.modify, "modifying") &&
             programPhase(device, "delete", plan.remove, "deleting") &&
             programPhase(device, "default", {plan.defaultLine}, "");
        std::cout << "table: " << device.book().size() << " entries and the default entry; "
                  << device.chipInfo().value_or(SimControl::DeviceInfo{}).entryCount
                  << " chip entries, " << device.keys().recordCount() << " key records\n";
    }
    if (!ok) {
        std::cout << "demo failed: programming failed\n";
        return 1;
    }
    std::vector<std::string> args = deviceArguments(options.device);
    args.insert(args.end(), {"demo", "--verify-only", "--entries", std::to_string(options.entries),
                             "--seed", std::to_string(options.seed)});
    std::cout << "agent stopped; restarting as a new process\n";
    const pid_t pid = spawnSelf(self, args);
    const int status = waitFor(pid);
    std::cout << "restarted agent (pid " << pid << ") exited with " << status << '\n';
    std::cout << (status == 0 ? "demo passed" : "demo failed") << " in "
              << durationText(total.elapsed()) << '\n';
    return status == 0 ? 0 : 1;
}

}  // namespace NatAgent
