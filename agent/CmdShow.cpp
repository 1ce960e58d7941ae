// show: the installed entries, read back through the table library.
#include <iostream>

#include "Commands.h"
#include "Output.h"
#include "ReadBack.h"

namespace NatAgent {

namespace {

void printJson(const TableSchema& schema, const std::vector<ReadBackEntry>& entries) {
    for (const ReadBackEntry& e : entries) {
        JsonLine line;
        if (e.isDefault) {
            line.flag("default", true);
        } else {
            for (std::size_t i = 0; i < schema.keyFields().size(); ++i) {
                line.field(schema.keyFields()[i]->name, schema.keyValue(e.key, i));
            }
        }
        if (e.fields) {
            const ActionInfo& action = schema.action(e.fields->actionType);
            line.field("action", action.name);
            for (std::size_t i = 0; i < action.params.size(); ++i) {
                line.field(action.params[i]->name, e.fields->params[i]);
            }
        } else {
            line.field("error", "cannot be read back");
        }
        line.field("handle", e.handle);
        std::cout << line.str() << '\n';
    }
}

void printTable(const TableSchema& schema, const std::vector<ReadBackEntry>& entries) {
    std::vector<std::string> header;
    for (const Kiv::AttributeInfo* field : schema.keyFields()) {
        header.emplace_back(field->name);
    }
    header.insert(header.end(), {"action", "parameters", "handle"});
    TextTable table(header);
    for (const ReadBackEntry& e : entries) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < schema.keyFields().size(); ++i) {
            row.push_back(e.isDefault ? (i == 0 ? "default" : "")
                                      : std::to_string(schema.keyValue(e.key, i)));
        }
        if (e.fields) {
            const ActionInfo& action = schema.action(e.fields->actionType);
            std::string params;
            for (std::size_t i = 0; i < action.params.size(); ++i) {
                params += (i > 0 ? " " : "") + std::string(action.params[i]->name) + "=" +
                          std::to_string(e.fields->params[i]);
            }
            row.insert(row.end(), {action.name, params});
        } else {
            row.insert(row.end(), {"(cannot be read back)", ""});
        }
        row.push_back(hexText(e.handle));
        table.row(std::move(row));
    }
    table.print(std::cout);
    std::cout << entries.size() << " entr" << (entries.size() == 1 ? "y" : "ies") << '\n';
}

}  // namespace

int runShow(const Options& options) {
    AgentDevice device(options.device);
    const std::vector<ReadBackEntry> entries = readBackEntries(device);
    if (options.json) {
        printJson(device.schema(), entries);
    } else {
        printTable(device.schema(), entries);
    }
    for (const ReadBackEntry& e : entries) {
        if (!e.fields) {
            return 1;
        }
    }
    return 0;
}

}  // namespace NatAgent
