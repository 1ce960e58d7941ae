#pragma once
// Support for the key manager's suites: a segment prefix private to the test
// process, a fixture that gives each test a clean key segment and checks for
// leaks, and a raw view of a segment for fault injection.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/LeakCheck.h"
#include "support/RawSegment.h"
#include "zabro/Zabro.h"
#include "zabro/ZabroSegmentLayout.h"

namespace ZabroTest {

inline constexpr Kiv::U8 kDevice = 3;
inline constexpr Kiv::U16 kPipe = 1;

// Unless the process has one already, OLVANE_SHM_PREFIX names the process, so
// that parallel test processes never share a segment.
[[maybe_unused]] inline const bool kPrivateSegmentPrefix =
    ::setenv("OLVANE_SHM_PREFIX", ("zabrotest" + std::to_string(::getpid())).c_str(), 0) == 0;

// The raw mapping with the key segment's layout.
class RawSegment : public TestSupport::RawSegment {
  public:
    using TestSupport::RawSegment::RawSegment;

    Zabro::Layout::HeaderImage& header() const { return at<Zabro::Layout::HeaderImage>(0); }
    Zabro::Layout::CountersImage& counters() const {
        return at<Zabro::Layout::CountersImage>(Zabro::Layout::kCountersOffset);
    }
    Zabro::Layout::RecordImage& record(Kiv::U64 slot) const {
        return at<Zabro::Layout::RecordImage>(Zabro::Layout::recordOffset(slot));
    }
    void resealHeader() const { header().checksum = Zabro::Layout::headerChecksum(header()); }
};

class KeySegmentTest : public TestSupport::LeakCheck {
  protected:
    KeySegmentTest() { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe); }
    ~KeySegmentTest() override { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe); }

    static std::string segmentName() {
        return Zabro::MbbZabroTableConfig::segmentName(kDevice, kPipe);
    }
    // The records a full walk visits, in order, and their keys.
    static std::vector<Zabro::MbbPostcodef::EntryConfig> walk(
        const Zabro::MbbZabroTableConfig& config) {
        std::vector<Zabro::MbbPostcodef::EntryConfig> records;
        Zabro::MbbPostcodef::EntryConfig cursor(0, 0, 0, 0, 0);
        Zabro::IterHint hint;
        for (bool found = config.first(cursor, hint); found;
             found = config.next(cursor.key(), cursor, hint))
            records.push_back(cursor);
        return records;
    }
    static std::vector<Kiv::U64> walkKeys(const Zabro::MbbZabroTableConfig& config) {
        std::vector<Kiv::U64> keys;
        for (const auto& record : walk(config)) keys.push_back(record.key());
        return keys;
    }
};

}  // namespace ZabroTest
