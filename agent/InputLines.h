#pragma once
// Reading an input of operations: opening it (a file or standard input, with
// the OS reason when it cannot be read) and taking its lines apart in either
// of the two formats the agent writes, detected per input from its first
// operation: the line format (LineFormat.h) or JSON Lines, one object a line
// as `show --json` prints them:
//   {"ingMdNatKeyId":1,...,"action":"twiceNatAddrPortHit","rwId":5,...}
//   {"default":true,"action":"onMiss"}
//   {"op":"del","ingMdNatKeyId":1,...}     ("op" is add, del or default)
// "handle" is ignored; numbers are written as numbers or as strings.

#include <fstream>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "LineFormat.h"

namespace NatAgent {

// FILE, or standard input for "-"; throws InputError naming the file and the
// OS reason when it cannot be read (a folder included).
class InputFile {
  public:
    explicit InputFile(const std::string& path);
    std::istream& stream() noexcept { return *in_; }
    // "<stdin>" or the path, for messages.
    const std::string& name() const noexcept { return name_; }
    // Throws InputError when reading stopped on an error rather than the end.
    void checkRead() const;

  private:
    std::string name_;
    std::ifstream file_;
    std::istream* in_;
};

// What is left of `in`, in one buffer sized from the stream when it can tell.
std::string readAll(std::istream& in);

// Calls f(line, number) for each line of `text`, split as std::getline would.
template <class F>
void forEachLine(std::string_view text, F&& f) {
    for (unsigned number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        f(text.substr(0, end), number);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

class InputParser {
  public:
    // Nothing for a blank or comment line; throws LineError for a malformed one.
    std::optional<ParsedLine> parse(std::string_view text, unsigned line);

  private:
    enum class Format { Unknown, Lines, Json };
    Format format_ = Format::Unknown;
};

// One JSON Lines object as an operation; throws LineError.
ParsedLine parseJsonLine(std::string_view text, unsigned line);

}  // namespace NatAgent
