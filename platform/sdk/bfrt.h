// The object runtime's API: a table object that hands out key, data and attributes
// objects, programs and reads entries through them, and the session every entry call
// carries. All are interfaces; the SDK behind them owns the objects it hands out:
//   - the table objects and BfRt::BfRtTableIntf of a device come from the PD
//     library's olvane_switch_bfrt_info_get() (olvane_switch_pd.h) and live as long
//     as the process;
//   - key, data and attributes objects come from the table's allocate calls and
//     belong to the owner passed in;
//   - objects of one SDK are only ever passed back to that SDK.
// Every call returns a status, 0 on success (codes in SdkStatus.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "SdkStatus.h"

namespace bfrt {

using Status = SdkStatus::Status;

enum class TableType : uint32_t {
    MatchDirect = 0,
    MatchIndirect = 1,
    MatchIndirectSelector = 2,
    ActionProfile = 3,
    Selector = 4,
    Counter = 5,
    Meter = 6,
    Register = 7,
};

enum class TableAttributesType : uint32_t { EntryScope = 0 };

enum class TableEntryScope : uint32_t { AllPipelines = 0, SinglePipeline = 1 };

// pipe_id 0xFFFF addresses all pipes.
struct BfRtTarget {
    uint32_t dev_id;
    uint32_t pipe_id;
};
static_assert(sizeof(BfRtTarget) == 8);

class BfRtSession {
  public:
    virtual ~BfRtSession() = default;
    virtual uint32_t sessHandleGet() const = 0;
};

class BfRtTableKey {
  public:
    virtual ~BfRtTableKey() = default;
    virtual Status setValue(const uint32_t& fieldId, const uint64_t& value) = 0;
    virtual Status getValue(const uint32_t& fieldId, uint64_t* value) const = 0;
};

class BfRtTableData {
  public:
    virtual ~BfRtTableData() = default;
    virtual Status setValue(const uint32_t& fieldId, const uint64_t& value) = 0;
    virtual Status getValue(const uint32_t& fieldId, uint64_t* value) const = 0;
    // 0 while the data carries no action.
    virtual Status actionIdGet(uint32_t* actionId) const = 0;
};

class BfRtTableAttributes {
  public:
    virtual ~BfRtTableAttributes() = default;
    virtual Status entryScopeParamsSet(const TableEntryScope& scope) = 0;
};

// A table object of the program. Types 0 to 2 hold entries; the other types (action
// profile, selector, register...) are set up but refuse entry calls with 17.
class OlvaneBfRtTable {
  public:
    static constexpr uint64_t kFlagsNone = 0;
    // Flag bit of modify and default-set: update the entry's data in place. Any other
    // bit given to those calls gives 3.
    static constexpr uint64_t kFlagUpdateInPlace = uint64_t{1} << 5;

    virtual ~OlvaneBfRtTable() = default;

    virtual Status tableTypeGet(TableType* type) const = 0;
    // Ids by name: 6 for an unknown name.
    virtual Status keyFieldIdGet(const std::string& name, uint32_t* fieldId) const = 0;
    virtual Status actionIdGet(const std::string& name, uint32_t* actionId) const = 0;
    virtual Status dataFieldIdGet(const std::string& name, const uint32_t& actionId,
                                  uint32_t* fieldId) const = 0;

    virtual Status keyAllocate(std::unique_ptr<BfRtTableKey>* key) const = 0;
    virtual Status keyReset(BfRtTableKey* key) const = 0;
    virtual Status dataAllocate(std::unique_ptr<BfRtTableData>* data) const = 0;
    virtual Status dataReset(const uint32_t& actionId, BfRtTableData* data) const = 0;
    virtual Status dataReset(BfRtTableData* data) const = 0;
    virtual Status deviceTargetIs(const BfRtTarget& target) = 0;
    virtual Status attributeAllocate(const TableAttributesType& type,
                                     std::unique_ptr<BfRtTableAttributes>* attributes) const = 0;
    virtual Status tableAttributesSet(const BfRtSession& session, const BfRtTarget& target,
                                      const BfRtTableAttributes& attributes) const = 0;

    virtual Status tableEntryAdd(const BfRtSession& session, const BfRtTarget& target,
                                 const BfRtTableKey& key, const BfRtTableData& data,
                                 uint32_t* handle) const = 0;
    virtual Status tableEntryMod(const BfRtSession& session, const BfRtTarget& target,
                                 const uint64_t& flags, const uint32_t& handle,
                                 const BfRtTableData& data) const = 0;
    virtual Status tableDefaultEntrySet(const BfRtSession& session, const BfRtTarget& target,
                                        const uint64_t& flags, const BfRtTableData& data,
                                        uint32_t* handle) const = 0;
    virtual Status tableEntryDel(const BfRtSession& session, const BfRtTarget& target,
                                 const uint32_t& handle) const = 0;
    virtual Status tableDefaultEntryReset(const BfRtSession& session,
                                          const BfRtTarget& target) const = 0;
    virtual Status tableEntryGet(const BfRtSession& session, const BfRtTarget& target,
                                 const uint64_t& flags, const uint32_t& handle, BfRtTableKey* key,
                                 BfRtTableData* data) const = 0;

    // Listing the entries of the target's scope, default entries excluded, in the
    // SDK's order. tableUsageGet counts them. tableEntryGetFirst reads the first one
    // and its handle (6 when there is none). tableEntryGetNext_n writes up to `n`
    // handles of the entries after `handle` and how many it wrote (6 for a handle
    // that names no entry of the scope).
    virtual Status tableUsageGet(const BfRtSession& session, const BfRtTarget& target,
                                 const uint64_t& flags, uint32_t* count) const = 0;
    virtual Status tableEntryGetFirst(const BfRtSession& session, const BfRtTarget& target,
                                      const uint64_t& flags, BfRtTableKey* key, BfRtTableData* data,
                                      uint32_t* handle) const = 0;
    virtual Status tableEntryGetNext_n(const BfRtSession& session, const BfRtTarget& target,
                                       const uint32_t& handle, const uint32_t& n,
                                       uint32_t* nextHandles, uint32_t* returned) const = 0;
};

}  // namespace bfrt

namespace BfRt {

// The object-runtime interface of a device: hands out its session.
class BfRtTableIntf {
  public:
    virtual ~BfRtTableIntf() = default;
    // By reference: callers borrow the session for one call, which needs no
    // reference-count traffic; copy the pointer to keep it longer.
    virtual const std::shared_ptr<bfrt::BfRtSession>& bfRtSessionGet() const = 0;
};

}  // namespace BfRt
