#include "DemoVerify.h"

#include <unistd.h>

#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include "Audit.h"
#include "DemoPlan.h"
#include "Output.h"
#include "Plan.h"
#include "ReadBack.h"
#include "chip/ChipCalls.h"
#include "chip/ChipTestHooks.h"

namespace NatAgent {

namespace {

// Chip calls by what they do to the table's entries.
struct CallCounts {
    std::uint64_t adds = 0;
    std::uint64_t modifies = 0;  // default-entry sets included
    std::uint64_t deletes = 0;   // default-entry resets included
    std::uint64_t reads = 0;     // entry reads
    std::uint64_t other = 0;     // key and data objects, table setup

    std::uint64_t writes() const { return adds + modifies + deletes; }
};

CallCounts countCalls(const std::vector<Chip::TestHooks::CallRecord>& log) {
    using Chip::Call;
    auto names = [](std::initializer_list<Call> calls) {
        std::set<std::string_view> set;
        for (Call c : calls) {
            set.insert(Chip::callName(c));
        }
        return set;
    };
    const auto adds = names({Call::PdAddOnMiss, Call::PdAddHit, Call::PdAddHitDynamic,
                             Call::PdAddHitEcmp, Call::PdAddHitEcmpDynamic, Call::TableEntryAdd});
    const auto modifies =
        names({Call::PdModOnMiss, Call::PdModHit, Call::PdModHitDynamic, Call::PdModHitEcmp,
               Call::PdModHitEcmpDynamic, Call::PdDefOnMiss, Call::PdDefHit, Call::PdDefHitDynamic,
               Call::PdDefHitEcmp, Call::PdDefHitEcmpDynamic, Call::TableEntryMod,
               Call::TableDefaultEntrySet});
    const auto deletes = names(
        {Call::PdDelete, Call::PdResetDefault, Call::TableEntryDel, Call::TableDefaultEntryReset});
    const auto reads = names({Call::PdGetEntry, Call::TableEntryGet});
    CallCounts counts;
    for (const auto& record : log) {
        const std::string_view f = record.function;
        ++(adds.count(f)       ? counts.adds
           : modifies.count(f) ? counts.modifies
           : deletes.count(f)  ? counts.deletes
           : reads.count(f)    ? counts.reads
                               : counts.other);
    }
    return counts;
}

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
    Chip::TestHooks::callLogClear();
    Chip::TestHooks::callLogEnable(true);
    AgentDevice device(options.device);
    const Stopwatch resyncWatch;
    device.table();
    const Seconds resyncTook = resyncWatch.elapsed();
    Chip::TestHooks::callLogEnable(false);
    const CallCounts calls = countCalls(Chip::TestHooks::callLog());
    Chip::TestHooks::callLogClear();

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
