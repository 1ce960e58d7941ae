// program: apply operation lines from a file or standard input.
#include <iostream>

#include "AgentError.h"
#include "Commands.h"
#include "InputLines.h"
#include "ProgramRun.h"

namespace NatAgent {

int runProgram(const Options& options) {
    InputFile input(options.input);
    ProgramSettings settings;
    settings.source = input.name();
    settings.keepGoing = options.keepGoing;
    settings.retries = options.retries;
    settings.dryRun = options.dryRun;
    if (!options.stream && !options.quiet && !options.noProgress) {
        settings.progressLabel = "programming";
    }
    AgentDevice& device = deviceUntilExit(options.device);
    device.table();
    const ProgramReport report =
        options.stream ? programStream(device, input.stream(), settings, std::cerr)
                       : programBatch(device, readAll(input.stream()), settings, std::cerr);
    input.checkRead();
    if (report.problems > 0 && !options.stream) {
        std::cerr << "natagent: " << report.problems << " bad line"
                  << (report.problems == 1 ? "" : "s") << " in " << settings.source
                  << "; nothing programmed\n";
        return kExitInput;
    }
    if (!options.quiet) {
        std::cout << (options.dryRun ? "program --dry-run: would be " : "program: ")
                  << summaryText(report) << (options.dryRun ? "; nothing changed" : "") << '\n';
    }
    return report.ok() ? kExitOk : kExitFailed;
}

}  // namespace NatAgent
