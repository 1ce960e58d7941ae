#include "Strep.h"

#include <cstdint>
#include <cstring>

#include "Format.h"
#include "TypeRegistry.h"

namespace Kiv {

String valueToStrepOfRawPtr(const PtrInterface* object) {
    if (!object) return kNullRefText;
    return _fmt("Ref('%s', %p)", object->kivType().name(), static_cast<const void*>(object));
}

Dorvu::Ptr<const PtrInterface> sequenceToValueOfPtr(CharRange& range) {
    if (range.consume(kNullRefText)) return nullptr;
    const std::size_t start = range.offset();
    range.needString("Ref('");
    const std::string_view typeName = range.needIdentifier();
    range.needString("', ");
    const std::size_t addressAt = range.offset();
    const U64 address = range.needUnsigned();
    range.needString(")");

    const auto* slot = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
    if (!SlabAllocator::isLiveSlot(slot)) {
        range.error(_fmt("no live object at 0x%llx", static_cast<unsigned long long>(address)),
                    addressAt);
    }
    // Every slab slot holds a PtrInterface at its start, so the type query is safe.
    const auto* object = static_cast<const PtrInterface*>(slot);
    if (object->references() == 0 || typeName != object->kivType().name()) {
        range.error(_fmt("the object at 0x%llx is not a %.*s",
                         static_cast<unsigned long long>(address),
                         static_cast<int>(typeName.size()), typeName.data()),
                    start);
    }
    return Dorvu::Ptr<const PtrInterface>(object);
}

}  // namespace Kiv
