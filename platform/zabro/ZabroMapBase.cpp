#include "ZabroMapBase.h"

#include <cstdio>

namespace Zabro {

Kiv::MemAllocationTracker ZabroMapBase::memAllocationTracker_{"Zabro::ZabroMapBase"};

const Kiv::TypeInfo& ZabroMapBase::kivTypeInfo() {
    using C = ZabroMapBase;
    static const Kiv::TypeInfo type{
        "Zabro::ZabroMapBase",
        &Kiv::PtrInterface::kivTypeInfo(),
        {Kiv::readOnlyAttribute<&C::corruptionsDetected>("corruptionsDetected")},
        {Kiv::operation<&C::doCorruptionDetected>("doCorruptionDetected")}};
    return type;
}

// Registered when the library is loaded, so generic code finds the type by name.
namespace {
const Kiv::TypeRegistration registration{&ZabroMapBase::kivTypeInfo};
}

Kiv::TraceHandle& ZabroMapBase::trace() {
    static Kiv::TraceHandle handle("Zabro");
    return handle;
}

void ZabroMapBase::doCorruptionDetected(const Dorvu::String& msg) {
    ++corruptionsDetected_;
    const Dorvu::String isolated = isolateCorruptRecord();
    // Always on stderr: a corrupt record is a field failure an operator must see.
    std::fprintf(stderr, "Zabro: corruption detected: %s; %s\n", msg.c_str(), isolated.c_str());
    KIV_TRACE(trace(), 1, "corruption detected: " << msg << "; " << isolated);
}

}  // namespace Zabro
