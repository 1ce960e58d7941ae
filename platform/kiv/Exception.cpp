#include "Exception.h"

#include "Format.h"

namespace Kiv {

RangeException::RangeException(String message, std::size_t offset, String attribute)
    : Exception(std::move(message)), offset_(offset), attribute_(std::move(attribute)) {}

UnhashableTypeException::UnhashableTypeException(const String& typeName)
    : Exception(_fmt("unhashable type: '%s'", typeName.c_str())) {}

void rethrowFromDeserializeAttr(const char* attribute) {
    try {
        throw;
    } catch (const RangeException& e) {
        if (!e.attribute().empty()) throw;  // the innermost attribute is the precise one
        throw RangeException(_fmt("attribute '%s': %s", attribute, e.message().c_str()),
                             e.offset(), attribute);
    }
}

}  // namespace Kiv
