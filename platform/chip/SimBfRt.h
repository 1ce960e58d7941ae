// The object runtime over the chip model: the twiceNatAddrPort table as a table object
// with key, data and attributes objects. It programs the same chip as the PD
// functions, so an entry added through either reads back through the other.
//
// How to reach it: Chip::deviceObjects(devId) in C++, or olvane_switch_bfrt_info_get()
// looked up in libolvane_switch_pd.so (see sdk/olvane_switch_pd.h).
//
// Ids (also found by name through the table): key fields 1 ingMdNatKeyId,
// 2 l4PortHdrSrcPort, 3 l4PortHdrDstPort; actions 101 onMiss, 102 twiceNatAddrPortHit,
// 103 ...HitDynamic, 104 ...HitEcmp, 105 ...HitEcmpDynamic; data fields of the hit
// actions 11-13, 21-23, 31-33, 41-43 (rwId, prot, nextHop or ecmpGroup). An unknown id,
// a field of another action or a value wider than its field gives status 3; an unknown
// name gives 6; an entry call on a table that holds no entries gives 17; a session that
// is not open gives 8; modify and default-set refuse a flag bit other than
// kFlagUpdateInPlace with 3.
//
// The key, data and attributes objects passed to a table come from this runtime's
// allocate calls; a key or data object allocated by another table gives status 3.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ChipStatus.h"
#include "sdk/bfrt.h"

namespace Chip {

// An open session for as long as it lives, with a handle of its own (0, which the
// calls refuse, when every session was open).
class SimSession final : public bfrt::BfRtSession {
  public:
    static std::shared_ptr<SimSession> create();
    ~SimSession() override;
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;
    uint32_t sessHandleGet() const override { return handle_; }

  private:
    explicit SimSession(uint32_t handle) : handle_(handle) {}
    uint32_t handle_;
};

// Key and data objects keep their values in the open: the table reads and fills them
// directly, and a test may put values there that the setters refuse. Each belongs to
// the table of the program that allocated it, on whichever device: another table
// refuses it with status 3.
class SimKey final : public bfrt::BfRtTableKey {
  public:
    explicit SimKey(std::string table);
    ~SimKey() override;
    SimKey(const SimKey&) = delete;
    SimKey& operator=(const SimKey&) = delete;

    bfrt::Status setValue(const uint32_t& fieldId, const uint64_t& value) override;
    bfrt::Status getValue(const uint32_t& fieldId, uint64_t* value) const override;

    const std::string table;  // name of the table that allocated it
    uint64_t fields[3] = {};  // by key field id - 1
};

class SimData final : public bfrt::BfRtTableData {
  public:
    explicit SimData(std::string table);
    ~SimData() override;
    SimData(const SimData&) = delete;
    SimData& operator=(const SimData&) = delete;

    bfrt::Status setValue(const uint32_t& fieldId, const uint64_t& value) override;
    bfrt::Status getValue(const uint32_t& fieldId, uint64_t* value) const override;
    bfrt::Status actionIdGet(uint32_t* actionId) const override;

    const std::string table;  // name of the table that allocated it
    uint32_t boundActionId = 0;
    uint64_t fields[3] = {};  // rwId, prot, nextHop or ecmpGroup

  private:
    // Slot of a field of the bound action, or -1.
    int slotOf(uint32_t fieldId) const;
};

class SimAttributes final : public bfrt::BfRtTableAttributes {
  public:
    explicit SimAttributes(bfrt::TableAttributesType type);
    ~SimAttributes() override;
    SimAttributes(const SimAttributes&) = delete;
    SimAttributes& operator=(const SimAttributes&) = delete;

    bfrt::Status entryScopeParamsSet(const bfrt::TableEntryScope& scope) override;

    const bfrt::TableAttributesType type;
    bfrt::TableEntryScope scope = bfrt::TableEntryScope::AllPipelines;
};

// A table object. Types 0 to 2 program the twiceNatAddrPort table of the target's
// device; other types (action profile, selector, register...) hold no entries. Not
// final, so that a test can script chosen calls.
class SimTable : public bfrt::OlvaneBfRtTable {
  public:
    explicit SimTable(bfrt::TableType type, std::string name = "twiceNatAddrPort");
    SimTable(const SimTable&) = delete;
    SimTable& operator=(const SimTable&) = delete;

    const std::string& name() const { return name_; }
    // The target last given to deviceTargetIs, {0, 0xFFFF} before.
    const bfrt::BfRtTarget& deviceTarget() const { return target_; }

    bfrt::Status tableTypeGet(bfrt::TableType* type) const override;
    bfrt::Status keyFieldIdGet(const std::string& name, uint32_t* fieldId) const override;
    bfrt::Status actionIdGet(const std::string& name, uint32_t* actionId) const override;
    bfrt::Status dataFieldIdGet(const std::string& name, const uint32_t& actionId,
                                uint32_t* fieldId) const override;

    bfrt::Status keyAllocate(std::unique_ptr<bfrt::BfRtTableKey>* key) const override;
    bfrt::Status keyReset(bfrt::BfRtTableKey* key) const override;
    bfrt::Status dataAllocate(std::unique_ptr<bfrt::BfRtTableData>* data) const override;
    bfrt::Status dataReset(const uint32_t& actionId, bfrt::BfRtTableData* data) const override;
    bfrt::Status dataReset(bfrt::BfRtTableData* data) const override;
    bfrt::Status deviceTargetIs(const bfrt::BfRtTarget& target) override;
    bfrt::Status attributeAllocate(
        const bfrt::TableAttributesType& type,
        std::unique_ptr<bfrt::BfRtTableAttributes>* attributes) const override;
    bfrt::Status tableAttributesSet(const bfrt::BfRtSession& session,
                                    const bfrt::BfRtTarget& target,
                                    const bfrt::BfRtTableAttributes& attributes) const override;

    bfrt::Status tableEntryAdd(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const bfrt::BfRtTableKey& key, const bfrt::BfRtTableData& data,
                               uint32_t* handle) const override;
    bfrt::Status tableEntryMod(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const uint64_t& flags, const uint32_t& handle,
                               const bfrt::BfRtTableData& data) const override;
    bfrt::Status tableDefaultEntrySet(const bfrt::BfRtSession& session,
                                      const bfrt::BfRtTarget& target, const uint64_t& flags,
                                      const bfrt::BfRtTableData& data,
                                      uint32_t* handle) const override;
    bfrt::Status tableEntryDel(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const uint32_t& handle) const override;
    bfrt::Status tableDefaultEntryReset(const bfrt::BfRtSession& session,
                                        const bfrt::BfRtTarget& target) const override;
    bfrt::Status tableEntryGet(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const uint64_t& flags, const uint32_t& handle,
                               bfrt::BfRtTableKey* key, bfrt::BfRtTableData* data) const override;

    bfrt::Status tableUsageGet(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const uint64_t& flags, uint32_t* count) const override;
    bfrt::Status tableEntryGetFirst(const bfrt::BfRtSession& session,
                                    const bfrt::BfRtTarget& target, const uint64_t& flags,
                                    bfrt::BfRtTableKey* key, bfrt::BfRtTableData* data,
                                    uint32_t* handle) const override;
    bfrt::Status tableEntryGetNext_n(const bfrt::BfRtSession& session,
                                     const bfrt::BfRtTarget& target, const uint32_t& handle,
                                     const uint32_t& n, uint32_t* nextHandles,
                                     uint32_t* returned) const override;

  private:
    bool holdsEntries() const;
    bool owns(const bfrt::BfRtTableKey& key) const;
    bool owns(const bfrt::BfRtTableData& data) const;

    bfrt::TableType type_;
    std::string name_;
    bfrt::BfRtTarget target_{0, 0xFFFF};
};

class SimTableIntf final : public BfRt::BfRtTableIntf {
  public:
    explicit SimTableIntf(std::shared_ptr<bfrt::BfRtSession> session)
        : session_(std::move(session)) {}
    const std::shared_ptr<bfrt::BfRtSession>& bfRtSessionGet() const override { return session_; }

  private:
    std::shared_ptr<bfrt::BfRtSession> session_;
};

// The object-runtime objects of one device, made on first use and kept for the life of
// the process. secondTable and thirdTable stay null unless a test puts table objects
// there (for instance of type 3, 4 or 7); a test may also stand its own table in, or
// null `table` to offer the object runtime without a table object.
struct DeviceObjects {
    std::shared_ptr<BfRt::BfRtTableIntf> tableIntf;
    std::unique_ptr<bfrt::OlvaneBfRtTable> table;
    std::unique_ptr<bfrt::OlvaneBfRtTable> secondTable;
    std::unique_ptr<bfrt::OlvaneBfRtTable> thirdTable;
};

// Throws std::invalid_argument for a device id out of range.
DeviceObjects& deviceObjects(uint32_t devId);

}  // namespace Chip
