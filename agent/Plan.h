#pragma once
// Turns parsed lines into steps for the table: checks each field against the
// schema, builds the match and action objects through the registry, and
// decides between add and modify from the entry book (an installed key is
// changed through the object it was installed with). A line that cannot
// become a step yields problems instead; nothing here touches the table.

#include <optional>
#include <string>
#include <vector>

#include "EntryBook.h"
#include "KeyTable.h"
#include "LineFormat.h"
#include "TableSchema.h"

namespace NatAgent {

// ResetDefault puts the default entry back to what the table starts with.
enum class StepKind { Add, Modify, Delete, Default, ResetDefault };

struct Step {
    unsigned line = 0;
    StepKind kind = StepKind::Add;
    MatchKey key = 0;  // not for Default
    MatchPtr match;    // the new object (Add) or the installed one; null for Default
    ActionPtr action;  // null for Delete
};

struct Problem {
    unsigned line;
    std::string message;
};

class Planner {
  public:
    // With `oncePerInput`, a key (and the default entry) may appear in one
    // line only: the whole input is checked against the table as it is now.
    Planner(const TableSchema& schema, const EntryBook& book, bool oncePerInput);

    // The step of `line`, or nothing with at least one problem appended.
    std::optional<Step> plan(const ParsedLine& line, std::vector<Problem>& problems);

  private:
    struct LineCheck;

    void checkFields(LineCheck& check);
    void setFields(LineCheck& check, Kiv::PtrInterface& object,
                   const std::vector<const Kiv::AttributeInfo*>& attributes,
                   const std::vector<const std::string_view*>& values) const;
    void buildMatch(LineCheck& check) const;
    void buildAction(LineCheck& check) const;
    void checkState(LineCheck& check);

    const TableSchema& schema_;
    const EntryBook& book_;
    bool oncePerInput_;
    KeyTable<MatchKey, unsigned> keyLines_;  // the line of each key seen
    unsigned defaultLine_ = 0;
    // The current line's value of each key field and action parameter, or null.
    std::vector<const std::string_view*> keyValues_;
    std::vector<const std::string_view*> paramValues_;
};

}  // namespace NatAgent
