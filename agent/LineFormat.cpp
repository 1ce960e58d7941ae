#include "LineFormat.h"

namespace NatAgent {

namespace {

// An add line has three key fields, the action and its parameters.
constexpr std::size_t kUsualFields = 8;

// Every blank sorts at or below ' ', so most characters take one comparison.
bool isBlank(char c) {
    return c <= ' ' && (c == ' ' || c == '\t' || c == '\r');
}

// The next blank-separated word of `rest`, which is advanced past it, and
// where its first '=' is (npos when it has none).
std::string_view nextWord(std::string_view& rest, std::size_t& eq) {
    const char* at = rest.data();
    const char* const end = at + rest.size();
    while (at != end && isBlank(*at)) ++at;
    const char* const start = at;
    eq = std::string_view::npos;
    for (; at != end && !isBlank(*at); ++at) {
        if (*at == '=' && eq == std::string_view::npos) {
            eq = static_cast<std::size_t>(at - start);
        }
    }
    const std::string_view word(start, static_cast<std::size_t>(at - start));
    rest.remove_prefix(static_cast<std::size_t>(at - rest.data()));
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
    std::size_t eq = 0;
    const std::string_view first = nextWord(rest, eq);
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
    for (std::string_view word = nextWord(rest, eq); !word.empty(); word = nextWord(rest, eq)) {
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
