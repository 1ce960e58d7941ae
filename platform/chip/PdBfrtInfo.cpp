// Only libolvane_switch_pd.so carries this file: exporting the getter is what makes a
// PD library one that offers the object runtime.
#include <exception>

#include "ChipRegistry.h"
#include "SimBfRt.h"
#include "sdk/olvane_switch_pd.h"

extern "C" p4_pd_status_t olvane_switch_bfrt_info_get(uint8_t dev_id,
                                                      olvane_switch_bfrt_info_t* info) {
    if (info == nullptr) {
        return Chip::kInvalidArg;
    }
    try {
        Chip::DeviceObjects& objects = Chip::deviceObjects(dev_id);
        info->table_intf = objects.tableIntf.get();
        info->table = objects.table.get();
        info->second_table = objects.secondTable.get();
        info->third_table = objects.thirdTable.get();
        return Chip::kSuccess;
    } catch (const std::exception&) {
        return Chip::kNoSysResources;
    }
}
