#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

// Filled from the objects' own seam below.
void (*keyFieldIs)(bfrt::BfRtTableKey&, uint32_t fieldId, uint64_t value) = nullptr;
void (*dataProtIs)(bfrt::BfRtTableData&, uint64_t value) = nullptr;
void (*dataActionIdIs)(bfrt::BfRtTableData&, uint32_t actionId) = nullptr;

}  // namespace
}  // namespace BfrtTest

namespace bfrt {

// The key and data objects leave these member classes to be defined: being
// members, they reach the stored values, and they hand out writers of values
// that the setters refuse.
struct BfRtTableKey::BfRtAccess {
    static void fieldIs(BfRtTableKey& key, uint32_t fieldId, uint64_t value) {
        key.fields_[fieldId - 1] = value;
    }
    static const bool published;
};
const bool BfRtTableKey::BfRtAccess::published = (BfrtTest::keyFieldIs = &fieldIs, true);

struct BfRtTableData::BfRtAccess {
    static void protIs(BfRtTableData& data, uint64_t value) { data.fields_[1] = value; }
    static void actionIdIs(BfRtTableData& data, uint32_t actionId) { data.actionId_ = actionId; }
    static const bool published;
};
const bool BfRtTableData::BfRtAccess::published =
    (BfrtTest::dataProtIs = &protIs, BfrtTest::dataActionIdIs = &actionIdIs, true);

}  // namespace bfrt

namespace BfrtTest {

bfrt::Status ScriptedBfRtTable::tableEntryGet(const bfrt::BfRtSession& session,
                                              const bfrt::BfRtTarget& target, const uint64_t& flags,
                                              const uint32_t& handle, bfrt::BfRtTableKey* key,
                                              bfrt::BfRtTableData* data) const {
    const bfrt::Status status =
        OlvaneBfRtTable::tableEntryGet(session, target, flags, handle, key, data);
    if (status == 0 && readNatKeyId)
        keyFieldIs(*key, 1, *readNatKeyId);
    if (status == 0 && readProt)
        dataProtIs(*data, *readProt);
    if (status == 0 && readActionId)
        dataActionIdIs(*data, *readActionId);
    return status;
}

}  // namespace BfrtTest
