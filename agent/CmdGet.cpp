// get: one installed entry, by its key fields.
#include <iostream>

#include "AgentError.h"
#include "Commands.h"
#include "EntryText.h"

namespace NatAgent {

int runGet(const Options& options) {
    AgentDevice device(options.device);
    const TableSchema& schema = device.schema();
    const EntryFilter filter(schema, options.fields);
    const std::optional<MatchKey> key = filter.key();
    if (!key) {
        std::vector<std::string> names;
        for (const Kiv::AttributeInfo* field : schema.keyFields()) {
            names.emplace_back(field->name);
        }
        throw UsageError("get needs every key field: " + TableSchema::nameList(names));
    }
    const std::optional<ReadBackEntry> entry = readBackEntry(device, *key);
    if (!entry || !filter.matches(*entry)) {
        std::cerr << "natagent: no installed entry has " << schema.keyText(*key) << '\n';
        return kExitFailed;
    }
    const std::string header = "device " + std::to_string(device.deviceId()) + ", " +
                               device.pipeText() + ": " + schema.keyText(*key);
    printEntries(std::cout, schema, {*entry}, entryFormat(options), header);
    return entry->fields ? kExitOk : kExitFailed;
}

}  // namespace NatAgent
