// Every call the chip serves, as the test hooks name it: the call log records these
// names and fault injection is addressed by them. One list, used for both.
#pragma once

#include <cstdint>
#include <string_view>

#define OLVANE_PD_NAME(suffix) "p4_pd_olvane_switch_twiceNatAddrPort_" suffix

#define OLVANE_CHIP_CALLS(X)                                                                    \
    X(PdSetProperty, OLVANE_PD_NAME("set_property"))                                            \
    X(PdAddOnMiss, OLVANE_PD_NAME("table_add_with_onMiss"))                                     \
    X(PdAddHit, OLVANE_PD_NAME("table_add_with_twiceNatAddrPortHit"))                           \
    X(PdAddHitDynamic, OLVANE_PD_NAME("table_add_with_twiceNatAddrPortHitDynamic"))             \
    X(PdAddHitEcmp, OLVANE_PD_NAME("table_add_with_twiceNatAddrPortHitEcmp"))                   \
    X(PdAddHitEcmpDynamic, OLVANE_PD_NAME("table_add_with_twiceNatAddrPortHitEcmpDynamic"))     \
    X(PdModOnMiss, OLVANE_PD_NAME("table_modify_with_onMiss"))                                  \
    X(PdModHit, OLVANE_PD_NAME("table_modify_with_twiceNatAddrPortHit"))                        \
    X(PdModHitDynamic, OLVANE_PD_NAME("table_modify_with_twiceNatAddrPortHitDynamic"))          \
    X(PdModHitEcmp, OLVANE_PD_NAME("table_modify_with_twiceNatAddrPortHitEcmp"))                \
    X(PdModHitEcmpDynamic, OLVANE_PD_NAME("table_modify_with_twiceNatAddrPortHitEcmpDynamic"))  \
    X(PdDefOnMiss, OLVANE_PD_NAME("set_default_action_onMiss"))                                 \
    X(PdDefHit, OLVANE_PD_NAME("set_default_action_twiceNatAddrPortHit"))                       \
    X(PdDefHitDynamic, OLVANE_PD_NAME("set_default_action_twiceNatAddrPortHitDynamic"))         \
    X(PdDefHitEcmp, OLVANE_PD_NAME("set_default_action_twiceNatAddrPortHitEcmp"))               \
    X(PdDefHitEcmpDynamic, OLVANE_PD_NAME("set_default_action_twiceNatAddrPortHitEcmpDynamic")) \
    X(PdDelete, OLVANE_PD_NAME("table_delete"))                                                 \
    X(PdResetDefault, OLVANE_PD_NAME("table_reset_default_entry"))                              \
    X(PdGetEntry, OLVANE_PD_NAME("get_entry"))                                                  \
    X(PdGetEntryCount, OLVANE_PD_NAME("get_entry_count"))                                       \
    X(PdGetFirstEntryHandle, OLVANE_PD_NAME("get_first_entry_handle"))                          \
    X(PdGetNextEntryHandles, OLVANE_PD_NAME("get_next_entry_handles"))                          \
    X(PdGetDefaultEntryHandle, OLVANE_PD_NAME("table_get_default_entry_handle"))                \
    X(TableTypeGet, "OlvaneBfRtTable::tableTypeGet")                                            \
    X(KeyFieldIdGet, "OlvaneBfRtTable::keyFieldIdGet")                                          \
    X(TableActionIdGet, "OlvaneBfRtTable::actionIdGet")                                         \
    X(DataFieldIdGet, "OlvaneBfRtTable::dataFieldIdGet")                                        \
    X(KeyAllocate, "OlvaneBfRtTable::keyAllocate")                                              \
    X(KeyReset, "OlvaneBfRtTable::keyReset")                                                    \
    X(DataAllocate, "OlvaneBfRtTable::dataAllocate")                                            \
    X(DataReset, "OlvaneBfRtTable::dataReset")                                                  \
    X(DeviceTargetIs, "OlvaneBfRtTable::deviceTargetIs")                                        \
    X(AttributeAllocate, "OlvaneBfRtTable::attributeAllocate")                                  \
    X(TableAttributesSet, "OlvaneBfRtTable::tableAttributesSet")                                \
    X(TableEntryAdd, "OlvaneBfRtTable::tableEntryAdd")                                          \
    X(TableEntryMod, "OlvaneBfRtTable::tableEntryMod")                                          \
    X(TableDefaultEntrySet, "OlvaneBfRtTable::tableDefaultEntrySet")                            \
    X(TableEntryDel, "OlvaneBfRtTable::tableEntryDel")                                          \
    X(TableDefaultEntryReset, "OlvaneBfRtTable::tableDefaultEntryReset")                        \
    X(TableEntryGet, "OlvaneBfRtTable::tableEntryGet")                                          \
    X(TableUsageGet, "OlvaneBfRtTable::tableUsageGet")                                          \
    X(TableEntryGetFirst, "OlvaneBfRtTable::tableEntryGetFirst")                                \
    X(TableEntryGetNextN, "OlvaneBfRtTable::tableEntryGetNext_n")                               \
    X(KeySetValue, "BfRtTableKey::setValue")                                                    \
    X(KeyGetValue, "BfRtTableKey::getValue")                                                    \
    X(DataSetValue, "BfRtTableData::setValue")                                                  \
    X(DataGetValue, "BfRtTableData::getValue")                                                  \
    X(DataActionIdGet, "BfRtTableData::actionIdGet")                                            \
    X(EntryScopeParamsSet, "BfRtTableAttributes::entryScopeParamsSet")

namespace Chip {

enum class Call : uint16_t {
#define OLVANE_CHIP_CALL_ID(id, name) id,
    OLVANE_CHIP_CALLS(OLVANE_CHIP_CALL_ID)
#undef OLVANE_CHIP_CALL_ID
        Count
};

inline constexpr std::string_view kCallNames[] = {
#define OLVANE_CHIP_CALL_NAME(id, name) name,
    OLVANE_CHIP_CALLS(OLVANE_CHIP_CALL_NAME)
#undef OLVANE_CHIP_CALL_NAME
};
static_assert(std::size(kCallNames) == static_cast<std::size_t>(Call::Count));

inline constexpr std::string_view callName(Call call) {
    return kCallNames[static_cast<std::size_t>(call)];
}

}  // namespace Chip
