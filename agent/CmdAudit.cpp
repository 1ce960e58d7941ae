// audit: chip entries against key records, read only; --repair fixes both sides.
#include <iostream>
#include <map>

#include "Audit.h"
#include "Commands.h"

namespace NatAgent {

namespace {

// Each pass quarantines at most one corrupt record, the one the walk met.
constexpr int kMaxRepairPasses = 64;

void printReport(AgentDevice& device, const AuditReport& report) {
    std::cout << "audit: device " << unsigned{device.deviceId()} << ", " << device.pipeText()
              << ": " << report.chipEntries << " chip entries, " << report.records
              << " key records";
    if (report.handleMapPairs > 0) {
        std::cout << ", " << report.handleMapPairs << " handle map pairs";
    }
    std::cout << '\n';
    if (report.unreadableChipRecords > 0) {
        std::cout << "  " << report.unreadableChipRecords
                  << " chip records fail their check and were left out\n";
    }
    for (const SimControl::BadRecord& bad : device.badChipRecords()) {
        std::cout << "  bad chip record " << bad.index << ": " << bad.reason << '\n';
    }
    std::map<std::string, std::uint64_t> byKind;
    for (const AuditFinding& f : report.findings) {
        std::cout << "  " << findingName(f.kind) << ": " << f.text << '\n';
        ++byKind[findingName(f.kind)];
    }
    if (report.findings.empty()) {
        std::cout << "audit: nothing to repair\n";
        return;
    }
    std::cout << "audit: " << report.findings.size() << " finding"
              << (report.findings.size() == 1 ? "" : "s") << " (";
    const char* separator = "";
    for (const auto& [kind, n] : byKind) {
        std::cout << separator << n << ' ' << kind;
        separator = ", ";
    }
    std::cout << ")\n";
}

}  // namespace

int runAudit(const Options& options) {
    AgentDevice device(options.device);
    AuditReport report = audit(device);
    printReport(device, report);
    if (!options.repair) {
        return report.findings.empty() && report.unreadableChipRecords == 0 ? 0 : 1;
    }
    // A cleared bad chip record frees its key; the pass below then frees the key record
    // that still names it.
    for (const SimControl::BadRecord& bad : device.badChipRecords()) {
        if (device.simControl()->badRecordClear(device.deviceId(), bad.index) == 0) {
            std::cout << "repair: cleared bad chip record " << bad.index << '\n';
        }
    }
    report = audit(device);
    bool failed = false;
    for (int pass = 0; pass < kMaxRepairPasses && !report.findings.empty() && !failed; ++pass) {
        const RepairReport repaired = repair(device, report);
        for (const std::string& done : repaired.done) {
            std::cout << "repair: " << done << '\n';
        }
        for (const std::string& notDone : repaired.failed) {
            std::cout << "repair failed: " << notDone << '\n';
        }
        failed = !repaired.failed.empty();
        report = audit(device);
        printReport(device, report);
    }
    return report.findings.empty() && report.unreadableChipRecords == 0 ? 0 : 1;
}

}  // namespace NatAgent
