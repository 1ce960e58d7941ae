// sync FILE: make the installed table what FILE says; diff FILE: only say
// how they differ.
#include <algorithm>
#include <iostream>
#include <unordered_set>

#include "AgentError.h"
#include "Audit.h"
#include "Commands.h"
#include "InputLines.h"
#include "ProgramRun.h"
#include "Progress.h"
#include "SyncPlan.h"

namespace NatAgent {

namespace {

// The keys FILE's add lines name, read ahead of the table so that entries a
// crash left on the chip can be adopted. Lines that do not parse are left to
// the planner, which reports them.
std::unordered_set<MatchKey> namedKeys(const TableSchema& schema, std::string_view text) {
    std::unordered_set<MatchKey> keys;
    InputParser parser;
    forEachLine(text, [&](std::string_view line, unsigned number) {
        try {
            const std::optional<ParsedLine> parsed = parser.parse(line, number);
            std::vector<Kiv::U64> values;
            for (const Kiv::AttributeInfo* field : schema.keyFields()) {
                const std::string_view* value = parsed ? parsed->field(field->name) : nullptr;
                if (value == nullptr) {
                    break;
                }
                values.push_back(parseNumber(std::string(*value), 0xFFFF, field->name));
            }
            if (parsed && parsed->verb == Verb::Add && values.size() == schema.keyFields().size()) {
                keys.insert(schema.keyOf(values));
            }
        } catch (const std::exception&) {
            // the planner reports it
        }
    });
    return keys;
}

struct Leftovers {
    std::uint64_t adopted = 0;  // chip entries FILE names, given a key record
    std::uint64_t cleared = 0;  // other chip entries without a record, records without an entry
};

// What a crash between a chip add and its key record (or a delete and the
// record's release) left behind. A sync adopts the chip entries FILE names,
// so they stay in place, and removes the rest before it plans; a read-only
// run only counts them.
Leftovers settleLeftovers(AgentDevice& device, std::string_view text, bool readOnly) {
    AuditReport report = audit(device);
    if (!report.walkComplete) {
        throw AgentError("the key records of device " + std::to_string(device.deviceId()) + ", " +
                         device.pipeText() + " fail their check; clear them with natagent " +
                         "reset-keys --yes and sync again");
    }
    std::erase_if(report.findings,
                  [](const AuditFinding& f) { return f.kind == AuditFinding::Kind::Bookkeeping; });
    Leftovers leftovers;
    if (readOnly) {
        leftovers.cleared = report.findings.size();
        return leftovers;
    }
    const std::unordered_set<MatchKey> named = namedKeys(device.schema(), text);
    leftovers.adopted = adoptOrphans(device, report, [&](const SdkEntry& entry) {
        return named.count(chipEntryKey(device.schema(), entry)) > 0;
    });
    leftovers.cleared = report.findings.size();
    if (!report.findings.empty()) {
        const RepairReport repaired = repair(device, report);
        if (!repaired.failed.empty()) {
            throw AgentError("cannot clear what a crash left: " + repaired.failed.front());
        }
    }
    return leftovers;
}

std::string leftoverText(const Leftovers& leftovers) {
    std::string text;
    if (leftovers.adopted > 0) {
        text += std::to_string(leftovers.adopted) + " adopted from the chip, ";
    }
    if (leftovers.cleared > 0) {
        text += std::to_string(leftovers.cleared) + " left by a crash cleared, ";
    }
    return text;
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
    const std::string text = readAll(input.stream());
    input.checkRead();
    AgentDevice device(options.device);
    const Leftovers leftovers = settleLeftovers(device, text, readOnly);
    const SyncPlan plan = planSync(device, text);
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
            printPlan(device.schema(), plan, leftovers.cleared);
        }
        const bool differs = !plan.steps.empty() || leftovers.cleared > 0;
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
        (failed ? std::cerr : std::cout) << "sync: " << leftoverText(leftovers) << summary << '\n';
    }
    return failed ? kExitFailed : kExitOk;
}

}  // namespace NatAgent
