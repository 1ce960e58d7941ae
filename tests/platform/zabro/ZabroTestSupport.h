#pragma once
// Support for the key manager's suites: a fixture that gives each test a
// clean key segment and checks for leaks, a raw view of a segment for fault
// injection, and the child processes that show records outliving a process.
//
// The suite's main gives the process a segment prefix of its own
// (OLVANE_SHM_PREFIX), which its children inherit, so parallel test
// processes never share a segment.

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

// Runs this test binary as a child with `args` after the child flag; returns its exit status.
int runChild(const std::vector<std::string>& args);
// Handles a child invocation; returns the exit status.
int childMain(const std::vector<std::string>& args);
inline constexpr const char* kChildFlag = "--zabro-child";

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
