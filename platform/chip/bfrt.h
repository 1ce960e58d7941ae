// Object runtime over the chip model: the twiceNatAddrPort table as a table object with
// key, data and attributes objects. It programs the same chip as the PD functions, so an
// entry added through either reads back through the other.
//
// How to reach it: bfrt::deviceObjects(devId) in C++, or olvane_switch_bfrt_info_get()
// looked up in libolvane_switch_pd.so (see olvane_switch_pd.h).
//
// Ids (also found by name through the table): key fields 1 ingMdNatKeyId,
// 2 l4PortHdrSrcPort, 3 l4PortHdrDstPort; actions 101 onMiss, 102 twiceNatAddrPortHit,
// 103 ...HitDynamic, 104 ...HitEcmp, 105 ...HitEcmpDynamic; data fields of the hit
// actions 11-13, 21-23, 31-33, 41-43 (rwId, prot, nextHop or ecmpGroup). An unknown id,
// a field of another action or a value wider than its field gives status 3; an unknown
// name gives 6; an entry call on a table that holds no entries gives 17.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ChipStatus.h"

namespace bfrt {

using Status = int32_t;  // 0 on success, codes of ChipStatus.h

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
    static std::shared_ptr<BfRtSession> sessionCreate();
    uint32_t sessHandleGet() const { return handle_; }

  private:
    explicit BfRtSession(uint32_t handle) : handle_(handle) {}
    uint32_t handle_;
};

class OlvaneBfRtTable;
// Lets the table implementation read and fill key, data and attributes objects.
struct BfRtAccess;

class BfRtTableKey {
  public:
    BfRtTableKey();
    ~BfRtTableKey();
    BfRtTableKey(const BfRtTableKey&) = delete;
    BfRtTableKey& operator=(const BfRtTableKey&) = delete;

    Status setValue(const uint32_t& fieldId, const uint64_t& value);
    Status getValue(const uint32_t& fieldId, uint64_t* value) const;

  private:
    friend struct BfRtAccess;
    // Lets the table implementation read and fill key, data and attributes objects.
    struct BfRtAccess;
    uint64_t fields_[3] = {};
};

class BfRtTableData {
  public:
    BfRtTableData();
    ~BfRtTableData();
    BfRtTableData(const BfRtTableData&) = delete;
    BfRtTableData& operator=(const BfRtTableData&) = delete;

    Status setValue(const uint32_t& fieldId, const uint64_t& value);
    Status getValue(const uint32_t& fieldId, uint64_t* value) const;
    // 0 while the data carries no action.
    Status actionIdGet(uint32_t* actionId) const;

  private:
    friend struct BfRtAccess;
    // Lets the table implementation read and fill key, data and attributes objects.
    struct BfRtAccess;
    // Slot of a field of the bound action, or -1.
    int slotOf(uint32_t fieldId) const;

    uint32_t actionId_ = 0;
    uint64_t fields_[3] = {};
};

class BfRtTableAttributes {
  public:
    explicit BfRtTableAttributes(TableAttributesType type);
    ~BfRtTableAttributes();
    BfRtTableAttributes(const BfRtTableAttributes&) = delete;
    BfRtTableAttributes& operator=(const BfRtTableAttributes&) = delete;

    Status entryScopeParamsSet(const TableEntryScope& scope);

  private:
    friend struct BfRtAccess;
    // Lets the table implementation read and fill key, data and attributes objects.
    struct BfRtAccess;
    TableAttributesType type_;
    TableEntryScope scope_ = TableEntryScope::AllPipelines;
};

// A table object. Types 0 to 2 program the twiceNatAddrPort table of the target's
// device; other types (action profile, selector, register...) hold no entries. Methods
// are virtual so that a test can stand a scripted table in for this one.
class OlvaneBfRtTable {
  public:
    static constexpr uint64_t kFlagsNone = 0;

    explicit OlvaneBfRtTable(TableType type, std::string name = "twiceNatAddrPort");
    virtual ~OlvaneBfRtTable() = default;
    OlvaneBfRtTable(const OlvaneBfRtTable&) = delete;
    OlvaneBfRtTable& operator=(const OlvaneBfRtTable&) = delete;

    const std::string& name() const { return name_; }
    // The target last given to deviceTargetIs, {0, 0xFFFF} before.
    const BfRtTarget& deviceTarget() const { return target_; }

    virtual Status tableTypeGet(TableType* type) const;
    virtual Status keyFieldIdGet(const std::string& name, uint32_t* fieldId) const;
    virtual Status actionIdGet(const std::string& name, uint32_t* actionId) const;
    virtual Status dataFieldIdGet(const std::string& name, const uint32_t& actionId,
                                  uint32_t* fieldId) const;

    virtual Status keyAllocate(std::unique_ptr<BfRtTableKey>* key) const;
    virtual Status keyReset(BfRtTableKey* key) const;
    virtual Status dataAllocate(std::unique_ptr<BfRtTableData>* data) const;
    virtual Status dataReset(const uint32_t& actionId, BfRtTableData* data) const;
    virtual Status dataReset(BfRtTableData* data) const;
    virtual Status deviceTargetIs(const BfRtTarget& target);
    virtual Status attributeAllocate(const TableAttributesType& type,
                                     std::unique_ptr<BfRtTableAttributes>* attributes) const;
    virtual Status tableAttributesSet(const BfRtSession& session, const BfRtTarget& target,
                                      const BfRtTableAttributes& attributes) const;

    virtual Status tableEntryAdd(const BfRtSession& session, const BfRtTarget& target,
                                 const BfRtTableKey& key, const BfRtTableData& data,
                                 uint32_t* handle) const;
    virtual Status tableEntryMod(const BfRtSession& session, const BfRtTarget& target,
                                 const uint64_t& flags, const uint32_t& handle,
                                 const BfRtTableData& data) const;
    virtual Status tableDefaultEntrySet(const BfRtSession& session, const BfRtTarget& target,
                                        const uint64_t& flags, const BfRtTableData& data,
                                        uint32_t* handle) const;
    virtual Status tableEntryDel(const BfRtSession& session, const BfRtTarget& target,
                                 const uint32_t& handle) const;
    virtual Status tableDefaultEntryReset(const BfRtSession& session,
                                          const BfRtTarget& target) const;
    virtual Status tableEntryGet(const BfRtSession& session, const BfRtTarget& target,
                                 const uint64_t& flags, const uint32_t& handle, BfRtTableKey* key,
                                 BfRtTableData* data) const;

  private:
    bool holdsEntries() const;

    TableType type_;
    std::string name_;
    BfRtTarget target_{0, 0xFFFF};
};

}  // namespace bfrt

namespace BfRt {

// The object-runtime interface of a device: hands out its session.
class BfRtTableIntf {
  public:
    explicit BfRtTableIntf(std::shared_ptr<bfrt::BfRtSession> session)
        : session_(std::move(session)) {}
    // By reference: callers borrow the session for one call, which needs no
    // reference-count traffic; copy the pointer to keep it longer.
    const std::shared_ptr<bfrt::BfRtSession>& bfRtSessionGet() const { return session_; }

  private:
    std::shared_ptr<bfrt::BfRtSession> session_;
};

}  // namespace BfRt

namespace bfrt {

// The object-runtime objects of one device, made on first use and kept for the life of
// the process. secondTable and thirdTable stay null unless a test puts table objects
// there (for instance of type 3, 4 or 7).
struct DeviceObjects {
    std::shared_ptr<BfRt::BfRtTableIntf> tableIntf;
    std::unique_ptr<OlvaneBfRtTable> table;
    std::unique_ptr<OlvaneBfRtTable> secondTable;
    std::unique_ptr<OlvaneBfRtTable> thirdTable;
};

// Throws std::invalid_argument for a device id out of range.
DeviceObjects& deviceObjects(uint32_t devId);

}  // namespace bfrt
