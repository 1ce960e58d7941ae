#pragma once
// The agent's record of which match spec object stands for which key. The
// table tells entries apart by match object, so an installed entry is changed
// or deleted only through the object it was installed with; this book finds
// that object from a line's field values. After a restart the objects are
// the ones the factory's resync read back into the table's handle map.

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "KeyTable.h"
#include "TableSchema.h"

namespace NatAgent {

class EntryBook {
  public:
    // Takes the installed entries from the table's handle map when the book
    // is first used, so that a command that programs nothing never pays for
    // them; the table and schema must last until then. A pair under
    // `defaultHandle` is the default entry of an earlier run; a pair whose
    // entry could not be read back (null match) stands for nothing.
    void resync(const Table& table, const TableSchema& schema, SdkHandle defaultHandle);

    // Null when the key is not installed.
    const MatchPtr* find(MatchKey key) const {
        take();
        return entries_.find(key);
    }
    void insert(MatchKey key, const MatchPtr& match) {
        take();
        entries_.assign(key, match);
    }
    void erase(MatchKey key) {
        take();
        entries_.erase(key);
    }
    // Room for `count` entries, so that a run of adds does not rehash.
    void reserve(std::size_t count) {
        take();
        entries_.reserve(count);
    }
    std::size_t size() const {
        take();
        return entries_.size();
    }
    // In key order.
    std::vector<std::pair<MatchKey, MatchPtr>> entries() const;

    // The read-back object of an earlier run's default entry, until the
    // default entry is set again through the table's own default match spec.
    const MatchPtr& restoredDefault() const {
        take();
        return restoredDefault_;
    }
    MatchPtr restoredDefaultDel() {
        take();
        return std::move(restoredDefault_);
    }

  private:
    struct Source {
        const Table* table;
        const TableSchema* schema;
        SdkHandle defaultHandle;
    };
    void take() const {
        if (source_) {
            takeFrom(*std::exchange(source_, std::nullopt));
        }
    }
    void takeFrom(const Source& source) const;

    // The book fills itself on first use, from a const lookup too.
    mutable std::optional<Source> source_;
    // Hashed: programming looks a key up per line; only listing wants order.
    mutable KeyTable<MatchKey, MatchPtr> entries_;
    mutable MatchPtr restoredDefault_;
};

}  // namespace NatAgent
