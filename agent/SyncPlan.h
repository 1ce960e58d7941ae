#pragma once
// The difference between a desired table (a file of add and default lines)
// and the installed one, read back through the library, as the fewest steps
// that turn one into the other: deletes first, then modifies, then adds, so
// the table never needs more room than the final one, and the default entry
// last. A file without a default line leaves the default entry alone.

#include <optional>
#include <string_view>
#include <vector>

#include "AgentDevice.h"
#include "Plan.h"

namespace NatAgent {

struct SyncStep {
    Step step;
    EntryFields after;                  // the entry the step leaves; not for Delete
    std::optional<EntryFields> before;  // the entry it replaces or removes
};

struct SyncPlan {
    std::vector<SyncStep> steps;
    std::vector<Problem> problems;  // lines of the file that cannot be used
};

// Reads the lines of `text` (either input format) against the device's
// installed entries.
SyncPlan planSync(AgentDevice& device, std::string_view text);

// "+ add ...", "~ add ...", "- add ..." or "~ default ...": the step in the line format.
std::string syncLine(const TableSchema& schema, const SyncStep& change);

// The step that undoes `change` once it has been applied; nothing when the
// entry it replaced could not be read back.
std::optional<Step> undoStep(const TableSchema& schema, const SyncStep& change);

}  // namespace NatAgent
