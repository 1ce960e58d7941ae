#include "EnumType.h"

#include <cctype>

#include "Format.h"

namespace Kiv {

EnumType::EnumType(const char* typeName, std::initializer_list<const char*> names)
    : typeName_(typeName), names_(names) {}

U8 EnumType::valueOf(U64 number) const {
    if (number >= names_.size()) {
        throw RangeException(_fmt("%llu is not a value of %s (0 to %zu)",
                                  static_cast<unsigned long long>(number), typeName_,
                                  names_.size() - 1),
                             0);
    }
    return static_cast<U8>(number);
}

U8 EnumType::valueOf(std::string_view name) const {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (name == names_[i]) return static_cast<U8>(i);
    }
    throw RangeException(_fmt("'%.*s' is not a value of %s", static_cast<int>(name.size()),
                              name.data(), typeName_),
                         0);
}

String EnumType::strep(U8 value) const {
    const char* name = nameOf(value);
    return name ? String(name) : std::to_string(value);
}

void EnumType::print(std::ostream& out, U8 value) const { out << strep(value); }

U8 EnumType::read(CharRange& range) const {
    const std::size_t start = range.offset();
    const bool numeric = std::isdigit(static_cast<unsigned char>(range.peek()));
    U64 number = 0;
    std::string_view name;
    if (numeric) {
        number = range.needUnsigned();
    } else {
        name = range.needIdentifier();
    }
    try {
        return numeric ? valueOf(number) : valueOf(name);
    } catch (const RangeException& e) {
        range.error(e.message(), start);
    }
}

}  // namespace Kiv
