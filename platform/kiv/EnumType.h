#pragma once
// Enumerations over one unsigned byte, with value names: number to value,
// name to value, value to name, printing and reading. Unknown numbers and
// names are rejected with a Kiv::RangeException.

#include <initializer_list>
#include <ostream>
#include <string_view>
#include <vector>

#include "CharRange.h"
#include "Types.h"

namespace Kiv {

class EnumType {
  public:
    // Value i is named names[i].
    EnumType(const char* typeName, std::initializer_list<const char*> names);

    const char* typeName() const noexcept { return typeName_; }
    std::size_t size() const noexcept { return names_.size(); }

    U8 valueOf(U64 number) const;
    U8 valueOf(std::string_view name) const;
    // Null for a value without a name.
    const char* nameOf(U8 value) const noexcept {
        return value < names_.size() ? names_[value] : nullptr;
    }
    // The name, or the number for a value without a name.
    String strep(U8 value) const;
    void print(std::ostream& out, U8 value) const;
    // A name or a number.
    U8 read(CharRange& range) const;

  private:
    const char* typeName_;
    std::vector<const char*> names_;
};

}  // namespace Kiv
