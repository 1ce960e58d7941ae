#pragma once
// Installed entries as the agent prints them: in the line format (what
// `program` and `sync` read back in), as JSON Lines, or as an aligned table;
// and the name=value filters of `show` and `get`.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "ReadBack.h"

namespace NatAgent {

enum class EntryFormat { Lines, Json, Table };

// "add <key fields> action=... <params>" or "default action=...", or a
// comment line for an entry that cannot be read back.
std::string entryLine(const TableSchema& schema, const ReadBackEntry& entry);
// One JSON object: the key fields (or "default":true), "action", the
// action's fields and "handle".
std::string entryJson(const TableSchema& schema, const ReadBackEntry& entry);

// Prints `entries` (default entry first, as readBackEntries gives them). The
// line format starts with `header` as a comment and puts the default entry
// last, as an operator would write the file.
void printEntries(std::ostream& out, const TableSchema& schema,
                  const std::vector<ReadBackEntry>& entries, EntryFormat format,
                  const std::string& header);

// name=value terms over key fields, "action" and action fields; an entry
// matches when it has every term's field with that value.
class EntryFilter {
  public:
    // Throws UsageError for a malformed term or a name the table lacks.
    EntryFilter(const TableSchema& schema, const std::vector<std::string>& terms);
    bool matches(const ReadBackEntry& entry) const;
    // The key when the terms name every key field, else nothing.
    std::optional<MatchKey> key() const;

  private:
    struct Term {
        std::string name;
        int keyField = -1;  // index into keyFields(), or -1
        std::string text;   // the action name for "action"
        Kiv::U64 number = 0;
    };
    const TableSchema& schema_;
    std::vector<Term> terms_;
};

}  // namespace NatAgent
