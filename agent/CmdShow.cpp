// show: the installed entries, read back through the table library.
#include <iostream>

#include "Commands.h"
#include "EntryText.h"

namespace NatAgent {

EntryFormat entryFormat(const Options& options) {
    return options.json    ? EntryFormat::Json
           : options.table ? EntryFormat::Table
                           : EntryFormat::Lines;
}

int runShow(const Options& options) {
    AgentDevice device(options.device);
    const EntryFilter filter(device.schema(), options.fields);
    std::vector<ReadBackEntry> entries = readBackEntries(device);
    std::erase_if(entries, [&](const ReadBackEntry& e) { return !filter.matches(e); });
    std::size_t plain = 0;
    bool unreadable = false;
    for (const ReadBackEntry& e : entries) {
        plain += e.isDefault ? 0 : 1;
        unreadable = unreadable || !e.fields;
    }
    const bool hasDefault = plain < entries.size();
    const std::string header = "device " + std::to_string(device.deviceId()) + ", " +
                               device.pipeText() + ": " + std::to_string(plain) + " entr" +
                               (plain == 1 ? "y" : "ies") +
                               (hasDefault ? " and the default entry" : "");
    printEntries(std::cout, device.schema(), entries, entryFormat(options), header);
    return unreadable ? kExitFailed : kExitOk;
}

}  // namespace NatAgent
