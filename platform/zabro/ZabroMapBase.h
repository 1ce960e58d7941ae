#pragma once
// Zabro::ZabroMapBase is the base of the key manager's shared-memory maps.
// It owns the reaction to a corrupt record: doCorruptionDetected reports it
// and has the map isolate the record, so that the rest of the map stays
// usable. A map's walk calls it itself and goes on; a caller that catches
// Dorvu::CorruptionDetectedException from a direct request hands it the
// message. Nothing is wiped: the bad bytes stay for inspection.

#include "kiv/Kiv.h"

namespace Zabro {

class ZabroMapBase : public Kiv::PtrInterface {
    KIV_CLASS(ZabroMapBase)

  public:
    using Ptr = Dorvu::Ptr<ZabroMapBase>;
    using PtrConst = Dorvu::Ptr<const ZabroMapBase>;

    // Reports `msg` on stderr and the "Zabro" trace handle and isolates the
    // record behind the corruption detected last. Virtual, like the walk
    // requests of the maps, so that a test can stand in for a map.
    virtual void doCorruptionDetected(const Dorvu::String& msg);
    Kiv::U64 corruptionsDetected() const noexcept { return corruptionsDetected_; }

    static Kiv::TraceHandle& trace();

  protected:
    ZabroMapBase() = default;
    // Takes the record behind the last detected corruption out of later walks;
    // says what it did, for the report.
    virtual Dorvu::String isolateCorruptRecord() = 0;

  private:
    Kiv::U64 corruptionsDetected_ = 0;
};

}  // namespace Zabro
