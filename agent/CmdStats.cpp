// stats: entries by action, chip capacity used, keys allocated.
#include <cstdio>
#include <iostream>
#include <map>

#include "Commands.h"
#include "Output.h"
#include "ReadBack.h"

namespace NatAgent {

namespace {

std::string percentText(std::uint64_t part, std::uint64_t whole) {
    char text[16];
    std::snprintf(
        text, sizeof text, "%.1f%%",
        whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

}  // namespace

int runStats(const Options& options) {
    AgentDevice device(options.device);
    const std::vector<ReadBackEntry> entries = readBackEntries(device);
    const TableSchema& schema = device.schema();
    std::map<Kiv::U8, std::uint64_t> byAction;
    std::uint64_t unreadable = 0;
    std::string defaultAction = "not set";
    for (const ReadBackEntry& e : entries) {
        if (!e.fields) {
            ++unreadable;
        } else if (e.isDefault) {
            defaultAction = schema.actionText(*e.fields);
        } else {
            ++byAction[e.fields->actionType];
        }
    }
    const std::uint64_t pipeEntries = device.sdk().count(device.pipe());
    const auto keyCapacity = device.keys().mbbZabroTableConfig()->capacity();
    const std::uint64_t entryCount = device.book().size();
    const std::uint64_t keys = device.keys().recordCount();
    const std::optional<SimControl::DeviceInfo> chip = device.chipInfo();

    if (options.json) {
        JsonLine line;
        line.field("device", device.deviceId())
            .field("pipe", device.pipe())
            .field("backend", device.backendName())
            .field("entries", entryCount);
        for (const ActionInfo& action : schema.actions()) {
            line.field(action.name, byAction[action.type]);
        }
        line.field("unreadable", unreadable).field("chipEntriesThisScope", pipeEntries);
        if (chip) {
            line.field("chipEntries", chip->entryCount).field("chipCapacity", chip->capacity);
        }
        line.field("keysAllocated", keys)
            .field("keyCapacity", keyCapacity)
            .field("default", defaultAction);
        std::cout << line.str() << '\n';
        return unreadable == 0 ? kExitOk : kExitFailed;
    }
    std::cout << "device " << unsigned{device.deviceId()} << ", " << device.pipeText()
              << ", backend " << device.backendName() << '\n';
    TextTable table({"", "count", "share"});
    table.row({"entries", std::to_string(entryCount), ""});
    for (const ActionInfo& action : schema.actions()) {
        const std::uint64_t n = byAction[action.type];
        table.row({"  " + action.name, std::to_string(n), percentText(n, entryCount)});
    }
    if (unreadable > 0) {
        table.row({"  cannot be read back", std::to_string(unreadable), ""});
    }
    table.row({"chip entries, this scope", std::to_string(pipeEntries), ""});
    // Capacity and the other scopes are the simulator's to tell; an SDK over
    // hardware answers for the scope only.
    if (chip) {
        table.row({"chip entries, all scopes", std::to_string(chip->entryCount),
                   percentText(chip->entryCount, chip->capacity)});
        table.row({"chip capacity", std::to_string(chip->capacity), ""});
    }
    table.row({"keys allocated", std::to_string(keys), percentText(keys, keyCapacity)});
    table.row({"key capacity", std::to_string(keyCapacity), ""});
    table.print(std::cout);
    std::cout << "default entry: " << defaultAction << '\n';
    return unreadable == 0 ? kExitOk : kExitFailed;
}

}  // namespace NatAgent
