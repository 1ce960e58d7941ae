#include "EntryText.h"

#include <ostream>

#include "Options.h"
#include "Output.h"

namespace NatAgent {

namespace {

constexpr std::string_view kActionField = "action";

void printTable(std::ostream& out, const TableSchema& schema,
                const std::vector<ReadBackEntry>& entries) {
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
    table.print(out);
}

}  // namespace

std::string entryLine(const TableSchema& schema, const ReadBackEntry& entry) {
    if (!entry.fields) {
        return "# entry " + hexText(entry.handle) + " cannot be read back";
    }
    if (entry.isDefault) {
        return "default " + schema.actionText(*entry.fields);
    }
    return "add " + schema.keyText(entry.key) + " " + schema.actionText(*entry.fields);
}

std::string entryJson(const TableSchema& schema, const ReadBackEntry& entry) {
    JsonLine line;
    if (entry.isDefault) {
        line.flag("default", true);
    } else {
        for (std::size_t i = 0; i < schema.keyFields().size(); ++i) {
            line.field(schema.keyFields()[i]->name, schema.keyValue(entry.key, i));
        }
    }
    if (entry.fields) {
        const ActionInfo& action = schema.action(entry.fields->actionType);
        line.field(kActionField, action.name);
        for (std::size_t i = 0; i < action.params.size(); ++i) {
            line.field(action.params[i]->name, entry.fields->params[i]);
        }
    } else {
        line.field("error", "cannot be read back");
    }
    line.field("handle", entry.handle);
    return line.str();
}

void printEntries(std::ostream& out, const TableSchema& schema,
                  const std::vector<ReadBackEntry>& entries, EntryFormat format,
                  const std::string& header) {
    switch (format) {
        case EntryFormat::Json:
            for (const ReadBackEntry& e : entries) {
                out << entryJson(schema, e) << '\n';
            }
            return;
        case EntryFormat::Table:
            printTable(out, schema, entries);
            out << header << '\n';
            return;
        case EntryFormat::Lines:
            out << "# " << header << '\n';
            for (const ReadBackEntry& e : entries) {
                if (!e.isDefault) {
                    out << entryLine(schema, e) << '\n';
                }
            }
            for (const ReadBackEntry& e : entries) {
                if (e.isDefault) {
                    out << entryLine(schema, e) << '\n';
                }
            }
            return;
    }
}

EntryFilter::EntryFilter(const TableSchema& schema, const std::vector<std::string>& terms)
    : schema_(schema) {
    for (const std::string& text : terms) {
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos || eq == 0) {
            throw UsageError("expected name=value, not '" + text + "'");
        }
        Term term{text.substr(0, eq), -1, text.substr(eq + 1), 0};
        const auto& keys = schema.keyFields();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (term.name == keys[i]->name) {
                term.keyField = static_cast<int>(i);
            }
        }
        bool known = term.keyField >= 0 || term.name == kActionField;
        for (const ActionInfo& action : schema.actions()) {
            known = known || TableSchema::paramIndex(action, term.name) >= 0;
        }
        if (!known) {
            throw UsageError("no field '" + term.name + "' in the table's entries");
        }
        if (term.name == kActionField) {
            if (schema.action(term.text) == nullptr) {
                throw UsageError("unknown action '" + term.text + "'");
            }
        } else {
            term.number =
                parseNumber(term.text, term.keyField >= 0 ? 0xFFFF : UINT64_MAX, term.name);
        }
        terms_.push_back(std::move(term));
    }
}

bool EntryFilter::matches(const ReadBackEntry& entry) const {
    for (const Term& term : terms_) {
        if (term.keyField >= 0) {
            if (entry.isDefault || schema_.keyValue(entry.key, static_cast<std::size_t>(
                                                                   term.keyField)) != term.number) {
                return false;
            }
            continue;
        }
        if (!entry.fields) {
            return false;
        }
        const ActionInfo& action = schema_.action(entry.fields->actionType);
        if (term.name == kActionField) {
            if (action.name != term.text) {
                return false;
            }
            continue;
        }
        bool found = false;
        for (std::size_t i = 0; i < action.params.size(); ++i) {
            found = found ||
                    (term.name == action.params[i]->name && entry.fields->params[i] == term.number);
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

std::optional<MatchKey> EntryFilter::key() const {
    std::vector<Kiv::U64> values;
    for (std::size_t i = 0; i < schema_.keyFields().size(); ++i) {
        for (const Term& term : terms_) {
            if (term.keyField == static_cast<int>(i)) {
                values.push_back(term.number);
                break;
            }
        }
    }
    if (values.size() != schema_.keyFields().size()) {
        return std::nullopt;
    }
    return schema_.keyOf(values);
}

}  // namespace NatAgent
