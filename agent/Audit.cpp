#include "Audit.h"

#include <algorithm>
#include <iostream>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Output.h"

namespace NatAgent {

namespace {

using EntryConfig = Zabro::MbbPostcodef::EntryConfig;

struct RecordWalk {
    std::vector<EntryConfig> records;
    bool complete = true;
    std::string corruption;  // the message of the corruption that stopped the walk
};

// Hands every record to `visit`, in key order; false, with the message in
// `corruption`, when a corrupt record stopped the walk.
template <class Visit>
bool visitRecords(const Zabro::MbbZabroTableConfig& config, Visit&& visit,
                  std::string& corruption) {
    EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    try {
        for (bool found = config.first(cursor, hint); found;
             found = config.next(cursor.key(), cursor, hint)) {
            visit(cursor);
        }
    } catch (const Dorvu::CorruptionDetectedException& e) {
        corruption = e.msg();
        return false;
    }
    return true;
}

RecordWalk walkRecords(const Zabro::MbbZabroTableConfig& config) {
    RecordWalk walk;
    walk.complete = visitRecords(
        config, [&walk](const EntryConfig& record) { walk.records.push_back(record); },
        walk.corruption);
    return walk;
}

// The entry's fields under the names of the line format, so an audit
// finding reads like the line that would install the entry.
Kiv::U64 sdkField(const SdkEntry& e, std::string_view name) {
    const std::pair<std::string_view, Kiv::U64> fields[] = {
        {"ingMdNatKeyId", e.match.ing_md_nat_key_id},
        {"l4PortHdrSrcPort", e.match.l4_port_hdr_src_port},
        {"l4PortHdrDstPort", e.match.l4_port_hdr_dst_port},
        {"rwId", e.rwId},
        {"prot", e.prot},
        {"nextHop", e.next},
        {"ecmpGroup", e.next}};
    for (const auto& [fieldName, value] : fields) {
        if (fieldName == name) {
            return value;
        }
    }
    return 0;
}

std::string chipEntryText(const TableSchema& schema, const SdkEntry& entry) {
    std::string text =
        "chip entry " + hexText(entry.handle) + " (" + schema.keyText(chipEntryKey(schema, entry));
    if (const ActionInfo* action = schema.action(entry.action)) {
        EntryFields fields{0, action->type, {}};
        for (const Kiv::AttributeInfo* param : action->params) {
            fields.params.push_back(sdkField(entry, param->name));
        }
        text += " " + schema.actionText(fields);
    } else {
        text += " action=" + entry.action;
    }
    return text + ")";
}

// The handle map against the records: every installed match object must have
// a key whose record names the handle the table holds for it.
void checkHandleMap(AgentDevice& device, const std::vector<EntryConfig>& records,
                    AuditReport& report) {
    std::unordered_map<Kiv::U64, std::uint32_t> handleOfKey;
    for (const EntryConfig& record : records) {
        handleOfKey.emplace(record.key(), record.sdkEntryHandle());
    }
    KeyManager& keys = device.keys();
    device.table().helper()->sdkHandles()->entryForEach([&](const MatchPtr& match, SdkHandle h) {
        if (!match) {
            return true;  // a record the resync could not read back; the key manager dropped it
        }
        ++report.handleMapPairs;
        const Kiv::U64 key = keys.key(match);
        auto found = handleOfKey.find(key);
        if (key == 0 || found == handleOfKey.end()) {
            report.findings.push_back({AuditFinding::Kind::Bookkeeping, h, key,
                                       "the table holds handle " + hexText(h) +
                                           " under a match object that no key record has"});
        } else if (found->second != h) {
            report.findings.push_back({AuditFinding::Kind::Bookkeeping, h, key,
                                       "the table holds handle " + hexText(h) + " for key " +
                                           std::to_string(key) + ", whose record names " +
                                           hexText(found->second)});
        }
        return true;
    });
}

// What a kill left, from a whole walk only: whether a chip entry of the
// device's pipe lacks a key record (an add cut short after the chip took
// it), and the keys of all but the first record that name the default entry
// (a default set cut short before the record of the entry's previous match
// object was freed). The chip's handles are listed (the entries themselves
// are not read) and compared with the handles the records name, so a restart
// over a clean device stops here, without the audit's reading of every entry.
struct CrashLeftovers {
    bool orphans = false;
    std::vector<Kiv::U64> extraDefaultKeys;
};

CrashLeftovers crashLeftovers(AgentDevice& device) {
    const Zabro::MbbZabroTableConfig& config = *device.keys().mbbZabroTableConfig();
    const std::uint32_t defaultHandle = device.sdk().defaultHandle(device.pipe());
    CrashLeftovers left;
    std::vector<std::uint32_t> named;
    named.reserve(config.recordCount());
    bool defaultNamed = false;
    std::string corruption;
    const bool complete = visitRecords(
        config,
        [&](const EntryConfig& record) {
            if (!record.handleSet()) {
                return;
            }
            named.push_back(record.sdkEntryHandle());
            if (record.sdkEntryHandle() == defaultHandle && std::exchange(defaultNamed, true)) {
                left.extraDefaultKeys.push_back(record.key());
            }
        },
        corruption);
    if (!complete) {
        return {};
    }
    std::vector<std::uint32_t> onChip = device.sdk().handles(device.pipe());
    // Both lists usually come in handle order already, which sorts fast.
    std::sort(named.begin(), named.end());
    std::sort(onChip.begin(), onChip.end());
    left.orphans = !std::includes(named.begin(), named.end(), onChip.begin(), onChip.end());
    return left;
}

}  // namespace

MatchKey chipEntryKey(const TableSchema& schema, const SdkEntry& entry) {
    std::vector<Kiv::U64> key;
    for (const Kiv::AttributeInfo* field : schema.keyFields()) {
        key.push_back(sdkField(entry, field->name));
    }
    return schema.keyOf(key);
}

std::uint64_t adoptOrphans(AgentDevice& device, AuditReport& report,
                           const std::function<bool(const SdkEntry&)>& adopt) {
    std::unordered_set<std::uint32_t> orphans;
    for (const AuditFinding& f : report.findings) {
        if (f.kind == AuditFinding::Kind::Orphan) {
            orphans.insert(f.handle);
        }
    }
    if (orphans.empty()) {
        return 0;
    }
    std::uint64_t adopted = 0;
    for (const SdkEntry& entry : device.sdk().entries(device.pipe())) {
        if (orphans.count(entry.handle) > 0 && adopt(entry)) {
            device.adoptChipEntry(entry.handle);
            std::erase_if(report.findings,
                          [&](const AuditFinding& f) { return f.handle == entry.handle; });
            ++adopted;
        }
    }
    return adopted;
}

void finishCrashedOperations(AgentDevice& device) {
    const CrashLeftovers left = crashLeftovers(device);
    if (left.orphans) {
        AuditReport report = audit(device);
        const std::uint64_t adopted =
            report.walkComplete ? adoptOrphans(device, report, [](const SdkEntry&) { return true; })
                                : 0;
        if (adopted != 0) {
            std::cerr << "natagent: adopted " << adopted << " chip entr"
                      << (adopted == 1 ? "y" : "ies")
                      << " that a crash left without a key record\n";
        }
    }
    for (const Kiv::U64 key : left.extraDefaultKeys) {
        device.keys().free(key);
    }
    if (const std::size_t freed = left.extraDefaultKeys.size()) {
        std::cerr << "natagent: freed " << freed << " extra key record" << (freed == 1 ? "" : "s")
                  << " of the default entry that a crash left\n";
    }
}

const char* findingName(AuditFinding::Kind kind) {
    switch (kind) {
        case AuditFinding::Kind::Orphan:
            return "orphan";
        case AuditFinding::Kind::RecordWithoutEntry:
            return "record without entry";
        case AuditFinding::Kind::HandleNamedTwice:
            return "handle named twice";
        case AuditFinding::Kind::CorruptRecord:
            return "corrupt record";
        case AuditFinding::Kind::Bookkeeping:
            return "bookkeeping";
    }
    return "?";
}

AuditReport audit(AgentDevice& device) {
    AuditReport report;
    const SdkView& sdk = device.sdk();
    std::uint32_t unreadable = 0;
    const std::vector<SdkEntry> entries = sdk.entries(device.pipe(), &unreadable);
    report.unreadableChipRecords = unreadable + device.badChipRecords().size();
    report.chipEntries = entries.size();
    const std::uint32_t defaultHandle = sdk.defaultHandle(device.pipe());
    std::unordered_set<std::uint32_t> chipHandles;
    for (const SdkEntry& e : entries) {
        chipHandles.insert(e.handle);
    }

    const RecordWalk walk = walkRecords(*device.keys().mbbZabroTableConfig());
    report.records = walk.records.size();
    report.walkComplete = walk.complete;
    std::unordered_map<std::uint32_t, Kiv::U64> keyOfHandle;
    for (const EntryConfig& record : walk.records) {
        const std::uint32_t h = record.sdkEntryHandle();
        const std::string recordText = "key " + std::to_string(record.key());
        if (!record.handleSet()) {
            report.findings.push_back({AuditFinding::Kind::RecordWithoutEntry, 0, record.key(),
                                       recordText + " has no SDK handle recorded"});
        } else if (h != defaultHandle && chipHandles.count(h) == 0) {
            report.findings.push_back(
                {AuditFinding::Kind::RecordWithoutEntry, h, record.key(),
                 recordText + " names handle " + hexText(h) + ", which no chip entry has"});
        } else if (auto [first, inserted] = keyOfHandle.emplace(h, record.key()); !inserted) {
            report.findings.push_back({AuditFinding::Kind::HandleNamedTwice, h, record.key(),
                                       recordText + " names handle " + hexText(h) + ", as key " +
                                           std::to_string(first->second) + " does"});
        }
    }
    if (!walk.complete) {
        report.findings.push_back({AuditFinding::Kind::CorruptRecord, 0, 0,
                                   walk.corruption + "; the walk stopped there"});
    } else {
        // Orphans only from a whole walk: a record after the corrupt one may name the entry.
        for (const SdkEntry& e : entries) {
            if (keyOfHandle.count(e.handle) == 0) {
                report.findings.push_back(
                    {AuditFinding::Kind::Orphan, e.handle, 0,
                     chipEntryText(device.schema(), e) + " is named by no key record"});
            }
        }
    }
    if (device.hasTable()) {
        checkHandleMap(device, walk.records, report);
    }
    return report;
}

RepairReport repair(AgentDevice& device, const AuditReport& report) {
    RepairReport result;
    auto& config = *device.keys().mbbZabroTableConfig();
    const auto tableDelete =
        device.pdLibrary().function<decltype(p4_pd_olvane_switch_twiceNatAddrPort_table_delete)>(
            "p4_pd_olvane_switch_twiceNatAddrPort_table_delete");
    for (const AuditFinding& finding : report.findings) {
        switch (finding.kind) {
            case AuditFinding::Kind::Orphan: {
                const p4_pd_status_t status =
                    tableDelete(AgentDevice::kSessionId, device.deviceId(), finding.handle);
                (status == 0 ? result.done : result.failed)
                    .push_back((status == 0
                                    ? "deleted "
                                    : "could not delete (status " + std::to_string(status) + ") ") +
                               finding.text.substr(0, finding.text.find(" is named")));
                break;
            }
            case AuditFinding::Kind::RecordWithoutEntry:
            case AuditFinding::Kind::HandleNamedTwice:
                device.keys().free(finding.key);
                result.done.push_back("freed key " + std::to_string(finding.key));
                break;
            case AuditFinding::Kind::CorruptRecord:
                config.doCorruptionDetected(finding.text);
                result.done.push_back("quarantined the corrupt record");
                break;
            case AuditFinding::Kind::Bookkeeping:
                result.failed.push_back("left to a restart: " + finding.text);
                break;
        }
    }
    return result;
}

}  // namespace NatAgent
