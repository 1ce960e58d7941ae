#include "ReadBack.h"

namespace NatAgent {

namespace {

ReadBackEntry readOne(AgentDevice& device, const MatchPtr& match, MatchKey key, bool isDefault) {
    Table& table = device.table();
    ReadBackEntry shown{isDefault, table.helper()->sdkHandles()->entry(match), key, std::nullopt};
    const TableEntry entry = table.entryByHandle(shown.handle);
    if (entry.match() && entry.action()) {
        shown.fields = device.schema().fieldsOf(*entry.match(), *entry.action());
    }
    return shown;
}

}  // namespace

std::vector<ReadBackEntry> readBackEntries(AgentDevice& device) {
    Table& table = device.table();
    std::vector<ReadBackEntry> entries;
    entries.reserve(device.book().size() + 1);
    const MatchPtr tableDefault = table.defaultMatchSpec();
    if (table.helper()->sdkHandles()->entryHas(tableDefault)) {
        entries.push_back(readOne(device, tableDefault, 0, true));
    } else if (const MatchPtr& restored = device.book().restoredDefault()) {
        entries.push_back(readOne(device, restored, 0, true));
    }
    for (const auto& [key, match] : device.book().entries()) {
        entries.push_back(readOne(device, match, key, false));
    }
    return entries;
}

std::optional<ReadBackEntry> readBackEntry(AgentDevice& device, MatchKey key) {
    device.table();
    const MatchPtr* match = device.book().find(key);
    if (match == nullptr) {
        return std::nullopt;
    }
    return readOne(device, *match, key, false);
}

}  // namespace NatAgent
