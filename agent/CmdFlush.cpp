// flush: delete every installed entry and reset the default entry.
#include <unistd.h>

#include <iostream>
#include <string>

#include "AgentError.h"
#include "Commands.h"
#include "ProgramRun.h"

namespace NatAgent {

bool confirmed(const Options& options, const std::string& question) {
    if (options.yes) {
        return true;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        throw UsageError("this changes the device; give --yes, or run it at a terminal to confirm");
    }
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "yes";
}

int runFlush(const Options& options) {
    AgentDevice device(options.device);
    device.table();
    const std::string what = "device " + std::to_string(device.deviceId()) + ", " +
                             device.pipeText() + ": " + std::to_string(device.book().size()) +
                             " entries";
    if (!confirmed(options, "delete every entry of " + what + " and reset the default entry?")) {
        std::cerr << "natagent: flush not confirmed; nothing changed\n";
        return kExitFailed;
    }
    std::vector<Step> steps;
    for (const auto& [key, match] : device.book().entries()) {
        steps.push_back({0, StepKind::Delete, key, match, nullptr});
    }
    steps.push_back({0, StepKind::ResetDefault, 0, nullptr, nullptr});
    Programmer programmer(device, options.retries);
    ProgramReport report;
    for (const Step& step : steps) {
        if (std::optional<SdkFailure> failure = programmer.apply(step)) {
            std::cerr << "natagent: flush of "
                      << (step.kind == StepKind::ResetDefault ? "the default entry"
                                                              : device.schema().keyText(step.key))
                      << " failed: " << failure->text() << '\n';
        }
    }
    report.counts = programmer.counts();
    if (!options.quiet) {
        std::cout << "flush: " << summaryText(report) << '\n';
    }
    return report.ok() ? kExitOk : kExitFailed;
}

}  // namespace NatAgent
