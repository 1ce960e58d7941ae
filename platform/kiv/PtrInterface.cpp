#include "PtrInterface.h"

#include "TypeRegistry.h"

namespace Kiv {

PtrInterface::~PtrInterface() {
    // An object dies only when its last reference goes (or was never counted).
    assert(references_.load(std::memory_order_relaxed) == 0);
}

void PtrInterface::destroy() const noexcept {
    if (tracker_) tracker_->unbook(trackedBytes_);
    delete const_cast<PtrInterface*>(this);
}

const TypeInfo& PtrInterface::kivType() const noexcept { return kivTypeInfo(); }

const TypeInfo& PtrInterface::kivTypeInfo() {
    static const TypeInfo type{"Kiv::PtrInterface", nullptr, {}, {}};
    return type;
}

const TypeInfo& Entity::kivType() const noexcept { return kivTypeInfo(); }

const TypeInfo& Entity::kivTypeInfo() {
    static const TypeInfo type{"Kiv::Entity", &PtrInterface::kivTypeInfo(), {}, {}};
    return type;
}

void Entity::notifyAll(const char* attribute) const {
    for (Notifiee* n : notifiees_) n->onAttributeChange(*this, attribute);
}

}  // namespace Kiv
