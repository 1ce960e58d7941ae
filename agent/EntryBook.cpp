#include "EntryBook.h"

namespace NatAgent {

void EntryBook::resync(const Table& table, const TableSchema& schema, SdkHandle defaultHandle) {
    entries_.clear();
    restoredDefault_ = nullptr;
    const MatchSpec* tableDefault = table.defaultMatchSpec().ptr();
    table.helper()->sdkHandles()->entryForEach([&](const MatchPtr& match, SdkHandle handle) {
        if (!match || match.ptr() == tableDefault) {
            // Nothing to find by key: an entry that could not be read back,
            // or the default entry set in this process.
        } else if (handle == defaultHandle) {
            restoredDefault_ = match;
        } else {
            entries_[schema.keyOf(*match)] = match;
        }
        return true;
    });
}

const MatchPtr* EntryBook::find(MatchKey key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : &found->second;
}

}  // namespace NatAgent
