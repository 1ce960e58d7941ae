#pragma once
// Field failures of the key manager. A corrupt record is reported as
// Dorvu::CorruptionDetectedException, which callers handle on their own.

#include "kiv/Kiv.h"

namespace Zabro {

// A shared-memory segment that cannot be created, opened, or is refused
// because its header does not describe a segment this build can use.
class SegmentException : public Kiv::Exception {
  public:
    using Kiv::Exception::Exception;
};

// Every key of the table config is allocated.
class TableFullException : public Kiv::Exception {
  public:
    using Kiv::Exception::Exception;
};

// A key outside the table config, or one without the record a request needs.
class KeyException : public Kiv::Exception {
  public:
    using Kiv::Exception::Exception;
};

}  // namespace Zabro
