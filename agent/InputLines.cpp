#include "InputLines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "AgentError.h"
#include "kiv/Allocator.h"

namespace NatAgent {

namespace {

constexpr std::string_view kBlanks = " \t\r";

// Opens and closes `path` once to learn why it cannot be read, if it cannot.
void checkReadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        error = EISDIR;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (error != 0) {
        throw InputError("cannot read " + path + ": " + std::strerror(error));
    }
}

// A cursor over one JSON object of flat values.
class JsonCursor {
  public:
    explicit JsonCursor(std::string_view text) : rest_(text) {}

    void skipBlanks() {
        while (!rest_.empty() && (rest_[0] == ' ' || rest_[0] == '\t' || rest_[0] == '\r')) {
            rest_.remove_prefix(1);
        }
    }
    bool take(char c) {
        skipBlanks();
        if (!rest_.empty() && rest_[0] == c) {
            rest_.remove_prefix(1);
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c)) {
            fail(std::string("expected '") + c + "'");
        }
    }
    bool atEnd() {
        skipBlanks();
        return rest_.empty();
    }
    // A quoted string's text, as a view into the object.
    std::string_view string() {
        expect('"');
        const std::size_t end = rest_.find_first_of("\"\\");
        if (end != std::string_view::npos && rest_[end] == '\\') {
            rest_.remove_prefix(end);
            fail("escapes are not taken in names or values");
        }
        const std::string_view text = rest_.substr(0, end);
        rest_.remove_prefix(text.size());
        expect('"');
        return text;
    }
    // A number, a string or true/false, as text.
    std::string_view value() {
        skipBlanks();
        if (!rest_.empty() && rest_[0] == '"') {
            return string();
        }
        std::size_t n = 0;
        while (n < rest_.size() && rest_[n] != ',' && rest_[n] != '}' &&
               kBlanks.find(rest_[n]) == std::string_view::npos) {
            ++n;
        }
        if (n == 0) {
            fail("expected a value");
        }
        const std::string_view text = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return text;
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw LineError("JSON: " + what + " at '" + std::string(rest_.substr(0, 20)) + "'");
    }

  private:
    std::string_view rest_;
};

std::optional<Verb> verbNamed(std::string_view name) {
    for (Verb verb : {Verb::Add, Verb::Del, Verb::Default}) {
        if (name == verbName(verb)) {
            return verb;
        }
    }
    return std::nullopt;
}

}  // namespace

InputFile::InputFile(const std::string& path) : name_(path == "-" ? "<stdin>" : path) {
    if (path == "-") {
        in_ = &std::cin;
        return;
    }
    checkReadable(path);
    file_.open(path);
    if (!file_) {
        throw InputError("cannot read " + path + ": " + std::strerror(errno));
    }
    in_ = &file_;
}

void InputFile::checkRead() const {
    if (in_->bad()) {
        throw InputError("reading " + name_ + " failed: " + std::strerror(errno));
    }
}

std::string readAll(std::istream& in) {
    std::string text;
    std::streambuf& buffer = *in.rdbuf();
    const std::streamoff at = buffer.pubseekoff(0, std::ios::cur, std::ios::in);
    const std::streamoff end =
        at < 0 ? at : std::streamoff(buffer.pubseekoff(0, std::ios::end, std::ios::in));
    if (end > at) {
        buffer.pubseekpos(at, std::ios::in);
        const auto size = static_cast<std::size_t>(end - at);
        // Faulted in at once: a large input would otherwise fault page by page.
        text.reserve(size);
        Kiv::prefault(text.data(), size);
        text.resize(size);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
    }
    // A pipe tells no size, and a file may have grown meanwhile.
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

std::optional<ParsedLine> InputParser::parse(std::string_view text, unsigned line) {
    if (format_ == Format::Unknown) {
        const std::size_t first = text.find_first_not_of(kBlanks);
        if (first == std::string_view::npos || text[first] == '#') {
            return std::nullopt;
        }
        format_ = text[first] == '{' ? Format::Json : Format::Lines;
    }
    if (format_ == Format::Lines) {
        return parseLine(text, line);
    }
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos || text[first] == '#') {
        return std::nullopt;
    }
    return parseJsonLine(text, line);
}

ParsedLine parseJsonLine(std::string_view text, unsigned line) {
    JsonCursor json(text);
    ParsedLine parsed{line, Verb::Add, {}};
    std::optional<Verb> op;
    bool isDefault = false;
    json.expect('{');
    if (!json.take('}')) {
        do {
            const std::string_view name = json.string();
            json.expect(':');
            const std::string_view value = json.value();
            if (name == "op") {
                op = verbNamed(value);
                if (!op) {
                    throw LineError("JSON: \"op\" is add, del or default, not '" +
                                    std::string(value) + "'");
                }
            } else if (name == "default") {
                isDefault = value == "true";
            } else if (name == "error") {
                throw LineError("JSON: an entry that could not be read back: " +
                                std::string(value));
            } else if (name != "handle") {
                if (parsed.field(name) != nullptr) {
                    throw LineError("field '" + std::string(name) + "' given twice");
                }
                parsed.fields.push_back({name, value});
            }
        } while (json.take(','));
        json.expect('}');
    }
    if (!json.atEnd()) {
        json.fail("text after the object");
    }
    parsed.verb = op ? *op : isDefault ? Verb::Default : Verb::Add;
    return parsed;
}

}  // namespace NatAgent
