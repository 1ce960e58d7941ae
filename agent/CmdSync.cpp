// sync FILE: make the installed table what FILE says; diff FILE: only say
// how they differ.
#include <iostream>

#include "AgentError.h"
#include "Audit.h"
#include "Commands.h"
#include "InputLines.h"
#include "ProgramRun.h"
#include "Progress.h"
#include "SyncPlan.h"

namespace NatAgent {

namespace {

// Chip entries that no key record names (left by a crash between the chip
// add and the record) and records without their entry. A sync removes them
// before it plans, so the file's entries are added afresh; a read-only run
// only counts them.
std::uint64_t clearLeftovers(AgentDevice& device, bool readOnly) {
    AuditReport report = audit(device);
    if (!report.walkComplete) {
        throw AgentError("the key records of device " + std::to_string(device.deviceId()) + ", " +
                         device.pipeText() + " fail their check; clear them with natagent " +
                         "reset-keys --yes and sync again");
    }
    std::erase_if(report.findings,
                  [](const AuditFinding& f) { return f.kind == AuditFinding::Kind::Bookkeeping; });
    if (readOnly || report.findings.empty()) {
        return report.findings.size();
    }
    const RepairReport repaired = repair(device, report);
    if (!repaired.failed.empty()) {
        throw AgentError("cannot clear what a crash left: " + repaired.failed.front());
    }
    return report.findings.size();
}

void printPlan(const TableSchema& schema, const SyncPlan& plan, std::uint64_t leftovers) {
    ProgramCounts counts;
    for (const SyncStep& change : plan.steps) {
        std::cout << syncLine(schema, change) << '\n';
        countPlanned(change.step.kind, counts);
    }
    std::cout << counts.added << " to add, " << counts.modified << " to modify, " << counts.deleted
              << " to delete, " << counts.defaults << " default to set";
    if (leftovers > 0) {
        std::cout << "; " << leftovers << " chip entries or key records left by a crash to clear";
    }
    std::cout << '\n';
}

// Undoes the applied changes, last first; false when an undo step failed.
bool rollBack(AgentDevice& device, const std::vector<SyncStep>& applied, unsigned retries) {
    Programmer undo(device, retries);
    bool ok = true;
    for (auto it = applied.rbegin(); it != applied.rend(); ++it) {
        const std::optional<Step> step = undoStep(device.schema(), *it);
        std::optional<SdkFailure> failure;
        if (!step || (failure = undo.apply(*step))) {
            std::cerr << "natagent: rollback of " << syncLine(device.schema(), *it)
                      << " failed: " << (step ? failure->text() : "its earlier fields are unknown")
                      << '\n';
            ok = false;
        }
    }
    return ok;
}

}  // namespace

int runSync(const Options& options) {
    const bool readOnly = options.command == Command::Diff || options.dryRun;
    InputFile input(options.input);
    AgentDevice device(options.device);
    const std::uint64_t leftovers = clearLeftovers(device, readOnly);
    const SyncPlan plan = planSync(device, input.stream());
    input.checkRead();
    for (const Problem& p : plan.problems) {
        std::cerr << input.name() << ':' << p.line << ": " << p.message << '\n';
    }
    if (!plan.problems.empty()) {
        std::cerr << "natagent: " << plan.problems.size() << " bad line"
                  << (plan.problems.size() == 1 ? "" : "s") << " in " << input.name()
                  << "; nothing changed\n";
        return kExitInput;
    }
    if (readOnly) {
        if (!options.quiet) {
            printPlan(device.schema(), plan, leftovers);
        }
        const bool differs = !plan.steps.empty() || leftovers > 0;
        return options.command == Command::Diff && differs ? kExitFailed : kExitOk;
    }

    Programmer programmer(device, options.retries);
    std::vector<SyncStep> applied;
    ProgramReport report;
    {
        ProgressBar progress(options.quiet || options.noProgress ? "" : "syncing",
                             options.quiet || options.noProgress ? 0 : plan.steps.size());
        for (const SyncStep& change : plan.steps) {
            if (std::optional<SdkFailure> failure = programmer.apply(change.step)) {
                std::cerr << "natagent: " << syncLine(device.schema(), change)
                          << " failed: " << failure->text() << '\n';
                report.failedLines.push_back(change.step.line);
                report.notRun = plan.steps.size() - applied.size() - 1;
                break;
            }
            applied.push_back(change);
            progress.advance();
        }
    }
    report.counts = programmer.counts();
    const bool failed = report.counts.failed > 0;
    std::string summary = summaryText(report);
    if (failed && options.atomic) {
        summary += rollBack(device, applied, options.retries)
                       ? "; rolled back, the table is as it was before the run"
                       : "; rollback failed, the table is partly changed";
    }
    if (!options.quiet || failed) {
        (failed ? std::cerr : std::cout)
            << "sync: "
            << (leftovers > 0 ? std::to_string(leftovers) + " left by a crash cleared, " : "")
            << summary << '\n';
    }
    return failed ? kExitFailed : kExitOk;
}

}  // namespace NatAgent
