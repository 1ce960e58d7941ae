#include "LineFormat.h"

#include <algorithm>

namespace NatAgent {

namespace {

// An add line has three key fields, the action and its parameters.
constexpr std::size_t kUsualFields = 8;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The next blank-separated word of `rest`, which is advanced past it. When
// the line's only blank is ' ' (`spacesOnly`), the word's end is searched
// for as one character, which goes many bytes at a time.
std::string_view nextWord(std::string_view& rest, bool spacesOnly) {
    std::size_t start = 0;
    while (start < rest.size() && isBlank(rest[start])) ++start;
    std::size_t end = start;
    if (spacesOnly) {
        end = std::min(rest.find(' ', start), rest.size());
    } else {
        while (end < rest.size() && !isBlank(rest[end])) ++end;
    }
    const std::string_view word = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return word;
}

std::optional<Verb> verbOf(std::string_view word) {
    if (word == "add") {
        return Verb::Add;
    }
    if (word == "del") {
        return Verb::Del;
    }
    if (word == "default") {
        return Verb::Default;
    }
    return std::nullopt;
}

}  // namespace

const char* verbName(Verb verb) {
    switch (verb) {
        case Verb::Add:
            return "add";
        case Verb::Del:
            return "del";
        case Verb::Default:
            return "default";
    }
    return "?";
}

const std::string_view* ParsedLine::field(std::string_view name) const {
    for (const Field& f : fields) {
        if (f.name == name) {
            return &f.value;
        }
    }
    return nullptr;
}

std::optional<ParsedLine> parseLine(std::string_view text, unsigned line) {
    text = text.substr(0, text.find('#'));
    std::string_view rest = text;
    const bool spacesOnly =
        text.find('\t') == std::string_view::npos && text.find('\r') == std::string_view::npos;
    const std::string_view first = nextWord(rest, spacesOnly);
    if (first.empty()) {
        return std::nullopt;
    }
    const std::optional<Verb> verb = verbOf(first);
    if (!verb) {
        throw LineError("unknown operation '" + std::string(first) +
                        "' (expected add, del or default)");
    }
    ParsedLine parsed{line, *verb, {}};
    parsed.fields.reserve(kUsualFields);
    for (std::string_view word = nextWord(rest, spacesOnly); !word.empty();
         word = nextWord(rest, spacesOnly)) {
        const std::size_t eq = word.find('=');
        if (eq == std::string_view::npos) {
            throw LineError("expected name=value, not '" + std::string(word) + "'");
        }
        const Field field{word.substr(0, eq), word.substr(eq + 1)};
        if (field.name.empty()) {
            throw LineError("field without a name in '" + std::string(word) + "'");
        }
        if (field.value.empty()) {
            throw LineError("field '" + std::string(field.name) + "' has no value");
        }
        if (parsed.field(field.name) != nullptr) {
            throw LineError("field '" + std::string(field.name) + "' given twice");
        }
        parsed.fields.push_back(field);
    }
    return parsed;
}

}  // namespace NatAgent
