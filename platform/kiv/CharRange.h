#pragma once
// A cursor over text for the runtime's parsers. Every error is a
// Kiv::RangeException that says what was expected and at which offset.

#include <cstddef>
#include <string_view>

#include "Exception.h"
#include "Types.h"

namespace Kiv {

class CharRange {
  public:
    explicit CharRange(std::string_view text) noexcept : text_(text) {}

    std::size_t offset() const noexcept { return pos_; }
    std::string_view rest() const noexcept { return text_.substr(pos_); }
    bool empty() const noexcept { return pos_ >= text_.size(); }
    char peek() const noexcept { return empty() ? '\0' : text_[pos_]; }
    void advance(std::size_t n) noexcept {
        pos_ = pos_ + n > text_.size() ? text_.size() : pos_ + n;
    }

    // Consumes `literal` when the text continues with it.
    bool consume(std::string_view literal) noexcept;
    // Requires `literal` here.
    void needString(std::string_view literal);
    // A decimal or 0x-prefixed hexadecimal unsigned number.
    U64 needUnsigned();
    // A name: a letter or '_' followed by letters, digits, '_' or "::".
    std::string_view needIdentifier();
    void skipSpaces() noexcept;

    // Requires that nothing is left.
    void checkAllDataConsumed() const;
    // Reports that the value that started at `start` is not of `typeName`.
    [[noreturn]] void cannotConvert(const char* typeName, std::size_t start) const;
    [[noreturn]] void cannotConvert(const char* typeName) const { cannotConvert(typeName, pos_); }
    [[noreturn]] void error(const String& what) const { error(what, pos_); }
    [[noreturn]] void error(const String& what, std::size_t at) const;

  private:
    // A short quote of the text at the cursor, for error messages.
    String found() const;

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace Kiv
