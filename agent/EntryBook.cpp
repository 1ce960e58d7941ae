#include "EntryBook.h"

#include <algorithm>

namespace NatAgent {

void EntryBook::resync(const Table& table, const TableSchema& schema, SdkHandle defaultHandle) {
    entries_.clear();
    restoredDefault_ = nullptr;
    const MatchSpec* tableDefault = table.defaultMatchSpec().ptr();
    entries_.reserve(table.helper()->sdkHandles()->entryCount());
    table.helper()->sdkHandles()->entryForEach([&](const MatchPtr& match, SdkHandle handle) {
        if (!match || match.ptr() == tableDefault) {
            // Nothing to find by key: an entry that could not be read back,
            // or the default entry set in this process.
        } else if (handle == defaultHandle) {
            restoredDefault_ = match;
        } else {
            entries_.assign(schema.keyOf(*match), match);
        }
        return true;
    });
}

std::vector<std::pair<MatchKey, MatchPtr>> EntryBook::entries() const {
    std::vector<std::pair<MatchKey, MatchPtr>> sorted;
    sorted.reserve(entries_.size());
    entries_.forEach(
        [&sorted](MatchKey key, const MatchPtr& match) { sorted.emplace_back(key, match); });
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return sorted;
}

const MatchPtr* EntryBook::find(MatchKey key) const {
    return entries_.find(key);
}

}  // namespace NatAgent
