#pragma once
// The text of an object reference: "Ref('<type name>', 0x<address>)", or
// "None" for null. Reading it back yields the same live object of the same
// process; the address is checked against the slab allocator's live slots and
// the object's registered type before it is used, so a stale or forged
// reference is a parse error, never a wild read.

#include "CharRange.h"
#include "PtrInterface.h"
#include "Types.h"

namespace Kiv {

inline constexpr const char* kNullRefText = "None";

String valueToStrepOfRawPtr(const PtrInterface* object);
Dorvu::Ptr<const PtrInterface> sequenceToValueOfPtr(CharRange& range);

}  // namespace Kiv
