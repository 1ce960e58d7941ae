// Object-runtime ids of the twiceNatAddrPort table: key fields, actions and the data
// fields of each action. One table of names and ids serves both id lookups by name and
// the checks every key and data call makes.
#pragma once

#include <cstdint>
#include <string_view>

#include "ChipDevice.h"

namespace Chip::schema {

struct KeyField {
    uint32_t id;
    std::string_view name;
};

inline constexpr KeyField kKeyFields[] = {
    {1, "ingMdNatKeyId"},
    {2, "l4PortHdrSrcPort"},
    {3, "l4PortHdrDstPort"},
};
inline constexpr uint32_t kKeyFieldCount = std::size(kKeyFields);
inline constexpr uint64_t kKeyFieldMax = 0xFFFF;

// Every hit action has three data fields of its own, numbered firstDataFieldId + 0, 1, 2.
struct DataField {
    std::string_view name;
    uint64_t max;
};
inline constexpr uint32_t kDataFieldCount = 3;

struct ActionInfo {
    Chip::Action action;
    uint32_t id;
    std::string_view name;
    uint32_t firstDataFieldId;  // 0 for an action without data fields
    DataField fields[kDataFieldCount];

    bool hasFields() const { return firstDataFieldId != 0; }
};

inline constexpr ActionInfo kActions[] = {
    {Chip::Action::OnMiss, 101, "onMiss", 0, {}},
    {Chip::Action::Hit,
     102,
     "twiceNatAddrPortHit",
     11,
     {{"rwId", 0xFFFF}, {"prot", 0xFF}, {"nextHop", 0xFFFF}}},
    {Chip::Action::HitDynamic,
     103,
     "twiceNatAddrPortHitDynamic",
     21,
     {{"rwId", 0xFFFF}, {"prot", 0xFF}, {"nextHop", 0xFFFF}}},
    {Chip::Action::HitEcmp,
     104,
     "twiceNatAddrPortHitEcmp",
     31,
     {{"rwId", 0xFFFF}, {"prot", 0xFF}, {"ecmpGroup", 0xFFFF}}},
    {Chip::Action::HitEcmpDynamic,
     105,
     "twiceNatAddrPortHitEcmpDynamic",
     41,
     {{"rwId", 0xFFFF}, {"prot", 0xFF}, {"ecmpGroup", 0xFFFF}}},
};
static_assert(std::size(kActions) == Chip::kActionCount);

inline const ActionInfo* actionById(uint32_t id) {
    for (const ActionInfo& info : kActions) {
        if (info.id == id) {
            return &info;
        }
    }
    return nullptr;
}

inline const ActionInfo& actionOf(Chip::Action action) {
    return kActions[static_cast<uint8_t>(action)];
}

}  // namespace Chip::schema
