#pragma once
// The operation lines that `program` reads, taken apart without knowing the
// table: a verb and name=value fields. Whether the names and values suit the
// table is the planner's question (Plan.h).
//
//   add name=value ...     install an entry, or change the installed one
//   del name=value ...     delete an installed entry
//   default name=value ... set the default entry's action
//   # comment              also after an operation; blank lines are skipped

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace NatAgent {

enum class Verb { Add, Del, Default };
const char* verbName(Verb verb);

// Views into the text the line was parsed from, which must outlive them.
struct Field {
    std::string_view name;
    std::string_view value;
};

struct ParsedLine {
    unsigned line = 0;
    Verb verb = Verb::Add;
    std::vector<Field> fields;

    // The value of `name`, or null.
    const std::string_view* field(std::string_view name) const;
};

// A line that does not follow the format; the message says what is wrong.
class LineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Nothing for a blank or comment line; throws LineError for a malformed one.
std::optional<ParsedLine> parseLine(std::string_view text, unsigned line);

}  // namespace NatAgent
