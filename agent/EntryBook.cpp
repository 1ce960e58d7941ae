#include "EntryBook.h"

#include <algorithm>

namespace NatAgent {

void EntryBook::resync(const Table& table, const TableSchema& schema, SdkHandle defaultHandle) {
    source_ = Source{&table, &schema, defaultHandle};
}

void EntryBook::takeFrom(const Source& source) const {
    const Table& table = *source.table;
    entries_.clear();
    restoredDefault_ = nullptr;
    const MatchSpec* tableDefault = table.defaultMatchSpec().ptr();
    entries_.reserve(table.helper()->sdkHandles()->entryCount());
    table.helper()->sdkHandles()->entryForEach([&](const MatchPtr& match, SdkHandle handle) {
        if (!match || match.ptr() == tableDefault) {
            // Nothing to find by key: an entry that could not be read back,
            // or the default entry set in this process.
        } else if (handle == source.defaultHandle) {
            restoredDefault_ = match;
        } else {
            entries_.assign(source.schema->keyOf(*match), match);
        }
        return true;
    });
}

std::vector<std::pair<MatchKey, MatchPtr>> EntryBook::entries() const {
    take();
    std::vector<std::pair<MatchKey, MatchPtr>> sorted;
    sorted.reserve(entries_.size());
    entries_.forEach(
        [&sorted](MatchKey key, const MatchPtr& match) { sorted.emplace_back(key, match); });
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return sorted;
}

}  // namespace NatAgent
