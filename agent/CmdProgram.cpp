// program: apply operation lines from a file or standard input.
#include <fstream>
#include <iostream>

#include "AgentError.h"
#include "Commands.h"
#include "ProgramRun.h"

namespace NatAgent {

int runProgram(const Options& options) {
    std::ifstream file;
    std::istream* in = &std::cin;
    ProgramSettings settings;
    if (options.input != "-") {
        file.open(options.input);
        if (!file) {
            throw AgentError("cannot read " + options.input);
        }
        in = &file;
        settings.source = options.input;
    }
    settings.keepGoing = options.keepGoing;
    settings.retries = options.retries;
    if (!options.stream) {
        settings.progressLabel = "programming";
    }
    AgentDevice& device = deviceUntilExit(options.device);
    device.table();
    const ProgramReport report = options.stream ? programStream(device, *in, settings, std::cerr)
                                                : programBatch(device, *in, settings, std::cerr);
    if (report.problems > 0 && !options.stream) {
        std::cerr << "natagent: " << report.problems << " bad line"
                  << (report.problems == 1 ? "" : "s") << " in " << settings.source
                  << "; nothing programmed\n";
        return 1;
    }
    std::cout << "program: " << summaryText(report) << '\n';
    return report.ok() ? 0 : 1;
}

}  // namespace NatAgent
