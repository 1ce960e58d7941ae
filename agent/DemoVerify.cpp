#include "DemoVerify.h"

#include <unistd.h>

#include <iostream>
#include <map>
#include <sstream>

#include "Audit.h"
#include "DemoPlan.h"
#include "Output.h"
#include "Plan.h"
#include "ReadBack.h"

namespace NatAgent {

namespace {

struct Expected {
    std::map<MatchKey, EntryFields> entries;
    std::optional<EntryFields> defaultEntry;
};

// The plan's final lines, planned against an empty book: their field values.
Expected expectedTable(const TableSchema& schema, const DemoPlan& plan) {
    const EntryBook empty;
    Planner planner(schema, empty, true);
    Expected expected;
    std::vector<Problem> problems;
    unsigned number = 0;
    auto take = [&](const std::string& text) -> std::optional<Step> {
        std::optional<ParsedLine> line = parseLine(text, ++number);
        return line ? planner.plan(*line, problems) : std::nullopt;
    };
    for (const std::string& text : plan.final) {
        if (std::optional<Step> step = take(text)) {
            expected.entries[step->key] = schema.fieldsOf(*step->match, *step->action);
        }
    }
    if (std::optional<Step> step = take(plan.defaultLine)) {
        expected.defaultEntry = schema.fieldsOf(*schema.newMatch(), *step->action);
        expected.defaultEntry->key = 0;
    }
    return expected;
}

struct Comparison {
    std::uint64_t equal = 0;
    std::uint64_t differ = 0;
    std::uint64_t unexpected = 0;
    std::uint64_t missing = 0;
    bool defaultEqual = false;
    std::vector<std::string> examples;
};

Comparison compare(const TableSchema& schema, const Expected& expected,
                   const std::vector<ReadBackEntry>& found) {
    constexpr std::size_t kExamples = 5;
    Comparison c;
    std::uint64_t matched = 0;
    for (const ReadBackEntry& e : found) {
        if (e.isDefault) {
            c.defaultEqual = e.fields && expected.defaultEntry &&
                             e.fields->actionType == expected.defaultEntry->actionType &&
                             e.fields->params == expected.defaultEntry->params;
            continue;
        }
        auto want = expected.entries.find(e.key);
        if (want == expected.entries.end()) {
            ++c.unexpected;
            continue;
        }
        ++matched;
        if (e.fields && *e.fields == want->second) {
            ++c.equal;
        } else {
            ++c.differ;
            if (c.examples.size() < kExamples) {
                c.examples.push_back(schema.keyText(e.key) + ": expected " +
                                     schema.actionText(want->second) + ", found " +
                                     (e.fields ? schema.actionText(*e.fields) : "nothing"));
            }
        }
    }
    c.missing = expected.entries.size() - matched;
    return c;
}

}  // namespace

int verifyDemo(const Options& options) {
    std::cout << "restarted agent, pid " << ::getpid() << '\n';
    AgentDevice device(options.device);
    SimControl::Control& control = device.simControlFor("the demo's restart check");
    control.callCountingIs(true);
    const Stopwatch resyncWatch;
    device.table();
    const Seconds resyncTook = resyncWatch.elapsed();
    control.callCountingIs(false);
    const SimControl::CallCounts calls = control.callCounts();

    std::cout << "  resync (" << device.backendName() << "): " << device.book().size()
              << " entries and " << (device.book().restoredDefault() ? "the" : "no")
              << " default entry from " << device.keys().recordCount() << " key records in "
              << durationText(resyncTook) << " ("
              << rateText(device.keys().recordCount(), resyncTook) << ")\n";
    std::cout << "  chip calls during resync: " << calls.reads << " reads, " << calls.adds
              << " add, " << calls.modifies << " modify, " << calls.deletes << " delete, "
              << calls.other << " other (key and data objects, table setup)\n";

    const Stopwatch checkWatch;
    const Expected expected =
        expectedTable(device.schema(), makeDemoPlan(options.entries, options.seed));
    const Comparison c = compare(device.schema(), expected, readBackEntries(device));
    std::cout << "  check: " << c.equal << " of " << expected.entries.size()
              << " entries came back with equal fields, " << c.differ << " differ, " << c.missing
              << " missing, " << c.unexpected << " unexpected; default entry "
              << (c.defaultEqual ? "equal" : "NOT equal") << " ("
              << durationText(checkWatch.elapsed()) << ")\n";
    for (const std::string& example : c.examples) {
        std::cout << "    " << example << '\n';
    }

    const Stopwatch auditWatch;
    const AuditReport report = audit(device);
    std::cout << "  audit: " << report.chipEntries << " chip entries, " << report.records
              << " key records, " << report.handleMapPairs << " handle map pairs: "
              << (report.findings.empty() ? "nothing to repair"
                                          : std::to_string(report.findings.size()) + " findings")
              << " (" << durationText(auditWatch.elapsed()) << ")\n";
    for (const AuditFinding& f : report.findings) {
        std::cout << "    " << findingName(f.kind) << ": " << f.text << '\n';
    }
    const bool ok = calls.writes() == 0 && c.equal == expected.entries.size() && c.differ == 0 &&
                    c.unexpected == 0 && c.defaultEqual && report.findings.empty();
    return ok ? 0 : 1;
}

}  // namespace NatAgent
