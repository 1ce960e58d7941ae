#include "BfrtTestSupport.h"

namespace BfrtTest {

// The chip's key and data objects keep their values in the open, so values that
// the setters refuse can be put in place of what the chip read.
bfrt::Status ScriptedBfRtTable::tableEntryGet(const bfrt::BfRtSession& session,
                                              const bfrt::BfRtTarget& target, const uint64_t& flags,
                                              const uint32_t& handle, bfrt::BfRtTableKey* key,
                                              bfrt::BfRtTableData* data) const {
    const bfrt::Status status = SimTable::tableEntryGet(session, target, flags, handle, key, data);
    auto& simData = static_cast<Chip::SimData&>(*data);
    if (status == 0 && readNatKeyId)
        static_cast<Chip::SimKey&>(*key).fields[0] = *readNatKeyId;
    if (status == 0 && readProt)
        simData.fields[1] = *readProt;
    if (status == 0 && readActionId)
        simData.boundActionId = *readActionId;
    return status;
}

}  // namespace BfrtTest
