#pragma once
// Programming a stream of operation lines: parse, plan, apply, report. Used
// by `program` and by the demo, which feeds it the lines it generates.
// Problems and failures are written to `errors` as they are found, each as
// "SOURCE:LINE: message".

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "AgentDevice.h"
#include "Programmer.h"

namespace NatAgent {

struct ProgramSettings {
    std::string source = "<stdin>";  // names the input in messages
    bool keepGoing = false;
    unsigned retries = 2;
    std::string progressLabel;  // empty: no progress bar
    bool dryRun = false;        // batch only: check, count the steps, apply none
};

struct ProgramReport {
    std::uint64_t problems = 0;  // lines that could not be planned
    ProgramCounts counts;
    std::vector<unsigned> failedLines;
    std::uint64_t notRun = 0;  // steps left when a failure stopped the run

    bool ok() const { return problems == 0 && counts.failed == 0; }
};

// Checks all lines of `text` first and programs nothing when one is wrong.
ProgramReport programBatch(AgentDevice& device, std::string_view text,
                           const ProgramSettings& settings, std::ostream& errors);
// Checks and applies one line at a time, against the table as it is then.
ProgramReport programStream(AgentDevice& device, std::istream& in, const ProgramSettings& settings,
                            std::ostream& errors);

// Counts a step as if it had been applied (dry runs, plans).
void countPlanned(StepKind kind, ProgramCounts& counts);

// "12 added, 3 modified, 1 deleted, 1 default set; 2 failed (lines 9, 10)"
std::string summaryText(const ProgramReport& report);

}  // namespace NatAgent
