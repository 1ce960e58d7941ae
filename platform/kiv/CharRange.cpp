#include "CharRange.h"

#include <cctype>

#include "Format.h"

namespace Kiv {

bool CharRange::consume(std::string_view literal) noexcept {
    if (rest().starts_with(literal)) {
        pos_ += literal.size();
        return true;
    }
    return false;
}

void CharRange::needString(std::string_view literal) {
    if (!consume(literal)) {
        error(_fmt("expected '%.*s' but found %s", static_cast<int>(literal.size()), literal.data(),
                   found().c_str()));
    }
}

U64 CharRange::needUnsigned() {
    const std::size_t start = pos_;
    unsigned base = 10;
    if (rest().starts_with("0x") || rest().starts_with("0X")) {
        base = 16;
        pos_ += 2;
    }
    U64 value = 0;
    std::size_t digits = 0;
    for (; !empty(); ++pos_, ++digits) {
        const char c = text_[pos_];
        unsigned d;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
            d = static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        } else {
            break;
        }
        // Overflow flags rather than a division per digit: numbers are read per field.
        if (__builtin_mul_overflow(value, base, &value) ||
            __builtin_add_overflow(value, d, &value)) {
            error("number too large", start);
        }
    }
    if (digits == 0) {
        pos_ = start;
        error(_fmt("expected an unsigned number but found %s", found().c_str()));
    }
    return value;
}

std::string_view CharRange::needIdentifier() {
    const std::size_t start = pos_;
    auto isFirst = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
    auto isNext = [&](char c) { return isFirst(c) || std::isdigit(static_cast<unsigned char>(c)); };
    if (!isFirst(peek()))
        error(_fmt("expected a name but found %s", found().c_str()));
    while (!empty()) {
        if (isNext(text_[pos_])) {
            ++pos_;
        } else if (rest().starts_with("::") && pos_ + 2 < text_.size() &&
                   isFirst(text_[pos_ + 2])) {
            pos_ += 2;
        } else {
            break;
        }
    }
    return text_.substr(start, pos_ - start);
}

void CharRange::skipSpaces() noexcept {
    while (!empty() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
}

void CharRange::checkAllDataConsumed() const {
    if (!empty())
        error(_fmt("unexpected trailing text %s", found().c_str()));
}

void CharRange::cannotConvert(const char* typeName, std::size_t start) const {
    error(_fmt("cannot convert to %s", typeName), start);
}

void CharRange::error(const String& what, std::size_t at) const {
    throw RangeException(_fmt("%s at offset %zu", what.c_str(), at), at);
}

String CharRange::found() const {
    if (empty())
        return "end of text";
    constexpr std::size_t kQuote = 24;
    const std::string_view r = rest();
    const bool cut = r.size() > kQuote;
    return _fmt("'%.*s%s'", static_cast<int>(cut ? kQuote : r.size()), r.data(), cut ? "..." : "");
}

}  // namespace Kiv
