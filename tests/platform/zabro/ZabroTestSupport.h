#pragma once
// Support for the key manager's suites: a fixture that gives each test a
// clean key segment and checks for leaks, a raw view of a segment for fault
// injection, and a segment prefix private to the test process.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/LeakCheck.h"
#include "zabro/Zabro.h"

namespace ZabroTest {

inline constexpr Kiv::U8 kDevice = 3;
inline constexpr Kiv::U16 kPipe = 1;

// A read-write mapping of an existing segment, beside the one under test.
class RawSegment {
  public:
    explicit RawSegment(const std::string& name);
    RawSegment(const RawSegment&) = delete;
    RawSegment& operator=(const RawSegment&) = delete;
    ~RawSegment();

    std::byte* base() const noexcept { return base_; }
    std::size_t size() const noexcept { return size_; }
    std::vector<std::byte> bytes() const { return {base_, base_ + size_}; }
    Zabro::Layout::HeaderImage& header() const {
        return *reinterpret_cast<Zabro::Layout::HeaderImage*>(base_);
    }
    Zabro::Layout::RecordImage& record(Kiv::U64 slot) const {
        return *reinterpret_cast<Zabro::Layout::RecordImage*>(base_ +
                                                              Zabro::Layout::recordOffset(slot));
    }
    // Changes the segment's size (the mapping keeps the old one).
    void truncate(std::size_t size) const;
    void resealHeader() const { header().checksum = Zabro::Layout::headerChecksum(header()); }

  private:
    std::string name_;
    std::byte* base_ = nullptr;
    std::size_t size_ = 0;
};

// Whether the segment's name exists, without creating it.
bool segmentExists(const std::string& name);

// Gives the process a segment prefix of its own (OLVANE_SHM_PREFIX, from
// `suite` and the pid) unless it has one; call it first thing in main. Child
// processes inherit it, and parallel test processes never share a segment.
void privateSegmentPrefixIs(const char* suite);

class KeySegmentTest : public TestSupport::LeakCheck {
  protected:
    KeySegmentTest() { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe); }
    ~KeySegmentTest() override { Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe); }

    static std::string segmentName() {
        return Zabro::MbbZabroTableConfig::segmentName(kDevice, kPipe);
    }
    // The keys a full walk visits, in order.
    static std::vector<Kiv::U64> walkKeys(const Zabro::MbbZabroTableConfig& config);
};

}  // namespace ZabroTest
