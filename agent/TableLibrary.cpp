#include "TableLibrary.h"

#include <type_traits>

namespace NatAgent {

// The mangled name encodes exactly this signature; a change of the header's
// declaration must show here rather than as a failed lookup at run time.
static_assert(std::is_same_v<decltype(::twiceNatAddrPortTableFactory), TableLibrary::Factory>);

TableLibrary::TableLibrary(const std::string& path)
    : library_(path), factory_(library_.function<Factory>(kFactorySymbol)) {}

}  // namespace NatAgent
