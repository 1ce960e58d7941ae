#pragma once
// Kiv::HashMap2018: an open-addressed hash map whose slots hold a counted
// reference to their key object. Keys are hashed and compared by object
// address, never by value, so a lookup is one hash of the address and a short
// linear probe through adjacent slots, usually within one cache line.
//
// Growth is incremental: when the table fills, a table of twice the size is
// made and every later insert moves a few slots of the old one across, so no
// single insert pays for rehashing the whole map. While both tables exist a
// lookup probes the new one, then the old one. The null key lives beside the
// tables. Iteration runs in slot order (old table, new table, null key) and
// may start at a given key.

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

#include "Allocator.h"
#include "Ptr.h"

namespace Kiv {

template <class K, class V>
class HashMap2018 {
    // Slots are moved and cleared as raw memory.
    static_assert(std::is_trivially_copyable_v<V> && std::is_trivially_destructible_v<V>);

  public:
    using Key = Dorvu::Ptr<K>;

    // One pair: the key object, of which the map holds a counted reference,
    // and its value. A slot with a null key is free.
    struct Node {
        K* key;
        V value;
    };

    HashMap2018() = default;
    ~HashMap2018() { clear(); }
    HashMap2018(const HashMap2018&) = delete;
    HashMap2018& operator=(const HashMap2018&) = delete;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    V* find(const K* key) noexcept { return const_cast<V*>(std::as_const(*this).find(key)); }
    const V* find(const K* key) const noexcept {
        if (!key)
            return hasNull_ ? &nullValue_ : nullptr;
        if (const Node* n = cur_.find(key, 0))
            return &n->value;
        if (old_.count) {
            if (const Node* n = old_.find(key, drained_))
                return &n->value;
        }
        return nullptr;
    }

    // Starts loading the slot where a probe for `key` begins, so that a
    // later find, insert or erase of it finds the line in the cache.
    void prefetch(const K* key) const noexcept {
        if (key && cur_.slots)
            __builtin_prefetch(&cur_.slots[cur_.home(key)]);
    }

    // Sizes an empty map for `count` pairs, so that filling it (as a restart
    // does, knowing how many it will insert) never grows it. Does nothing to
    // a map that holds pairs.
    void reserve(std::size_t count) {
        if (size_ != 0 || old_.slots)
            return;
        std::size_t slots = kInitialSlots;
        while (count * 4 > slots * 3) slots *= 2;
        if (slots > cur_.capacity()) {
            cur_.release();
            cur_.allocate(slots);
        }
        cur_.prefaultSome(cur_.capacity() * sizeof(Node));
    }

    // Inserts the pair when `key` is absent; a present key keeps its value.
    // The value now stored under `key`, and true when the pair was inserted.
    std::pair<V*, bool> tryInsert(const Key& key, V value) {
        if (V* present = find(key.ptr()))
            return {present, false};
        if (!key) {
            nullValue_ = std::move(value);
            hasNull_ = true;
            ++size_;
            return {&nullValue_, true};
        }
        if (cur_.capacity() == 0 || (size_ + 1) * 4 > cur_.capacity() * 3) {
            grow();
        } else {
            drainSome();
            cur_.prefaultSome(kPrefaultStep);
        }
        key->newRef();
        ++size_;
        return {&cur_.place(key.ptr(), std::move(value)), true};
    }

    // Inserts the pair, or replaces the value of a present key (the stored
    // key object stays). True when a new pair was inserted.
    bool insertOrAssign(const Key& key, V value) {
        auto [stored, inserted] = tryInsert(key, value);
        if (!inserted)
            *stored = std::move(value);
        return inserted;
    }

    // Removes the pair of `key`, releasing the map's reference to it.
    bool erase(const K* key, V* removed = nullptr) {
        if (!key) {
            if (!hasNull_)
                return false;
            if (removed)
                *removed = std::move(nullValue_);
            hasNull_ = false;
            --size_;
            return true;
        }
        Node* n = cur_.findMutable(key, 0);
        const bool inOld = !n && old_.count;
        if (inOld)
            n = old_.findMutable(key, drained_);
        if (!n)
            return false;
        if (removed)
            *removed = std::move(n->value);
        if (inOld) {
            // The old table only drains, so a marker keeps its probe chains whole.
            n->key = tombstone();
            --old_.count;
        } else {
            cur_.removeAt(n);
        }
        --size_;
        key->deleteRef();
        if (inOld && old_.count == 0)
            old_.release();
        return true;
    }

    // Removes every pair and gives the tables back.
    void clear() noexcept {
        releaseKeys(cur_, 0);
        releaseKeys(old_, drained_);
        cur_.release();
        old_.release();
        hasNull_ = false;
        size_ = 0;
    }

    // Visits the pairs from `start` (from the first when null) until `visit`
    // returns false. A `start` that is not a key visits nothing.
    template <class F>
    void forEachFrom(const K* start, F&& visit) const {
        const Node* oldFrom = old_.count ? old_.slots + drained_ : nullptr;
        const Node* curFrom = cur_.slots;
        if (start) {
            if (const Node* n = cur_.find(start, 0)) {
                oldFrom = nullptr;
                curFrom = n;
            } else if (const Node* o = old_.count ? old_.find(start, drained_) : nullptr) {
                oldFrom = o;
            } else {
                return;
            }
        }
        if (oldFrom && !visitSlots(old_, oldFrom, visit))
            return;
        if (curFrom && !visitSlots(cur_, curFrom, visit))
            return;
        if (hasNull_)
            visit(Key(), nullValue_);
    }
    template <class F>
    void forEach(F&& visit) const {
        forEachFrom(nullptr, std::forward<F>(visit));
    }

    // Bytes of slot storage held, for accounting.
    std::size_t slotBytes() const noexcept {
        return (cur_.capacity() + old_.capacity()) * sizeof(Node);
    }

  private:
    static constexpr std::size_t kInitialSlots = 16;
    // Slots of the old table moved per insert while it drains. The next
    // growth comes after at least 3/4 of the old table's size in inserts, so
    // any step above 4/3 empties it in time.
    static constexpr std::size_t kDrainStep = 8;
    // Tables from this size on are mapped fresh, so that their zeroed pages
    // come in a step at a time (kPrefaultStep) rather than cleared at once.
    static constexpr std::size_t kMappedBytes = 64 * 1024;
    // Bytes of a fresh mapped table faulted in per insert: its first inserts
    // fault the whole table in, in steps of a few microseconds, before the
    // random probes of later inserts would fault its pages one at a time
    // (twice each: a probe reads a page before the insert writes it).
    static constexpr std::size_t kPrefaultStep = 32 * 1024;

    static K* tombstone() noexcept { return reinterpret_cast<K*>(std::uintptr_t{1}); }
    static bool holdsKey(const K* k) noexcept { return k != nullptr && k != tombstone(); }

    struct Table {
        Node* slots = nullptr;
        std::size_t mask = 0;  // capacity - 1, capacity a power of two
        unsigned shift = 64;
        std::size_t count = 0;
        std::size_t unmapped = 0;    // bytes at the front already given back
        std::size_t prefaulted = 0;  // bytes at the front already faulted in

        std::size_t capacity() const noexcept { return slots ? mask + 1 : 0; }

        std::size_t home(const K* key) const noexcept {
            // Fibonacci hashing of the address; the low bits of an address are
            // alignment zeros, so they are dropped first.
            const auto a = reinterpret_cast<std::uintptr_t>(key) >> 4;
            return static_cast<std::size_t>((a * 0x9E3779B97F4A7C15ull) >> shift);
        }

        // Slots below `drained` were moved out; probe chains skip over them,
        // so a chain that wraps past the end goes on at `drained`. A table
        // that is draining may have no free slot left past `drained`, so the
        // walk also ends when it comes back to where it began.
        const Node* find(const K* key, std::size_t drained) const noexcept {
            if (!slots)
                return nullptr;
            std::size_t i = home(key);
            if (i < drained)
                i = drained;
            const std::size_t begin = i;
            do {
                const Node& n = slots[i];
                if (n.key == key)
                    return &n;
                if (!n.key)
                    return nullptr;
                if (++i > mask)
                    i = drained;
            } while (i != begin);
            return nullptr;
        }
        Node* findMutable(const K* key, std::size_t drained) noexcept {
            return const_cast<Node*>(find(key, drained));
        }

        // Into the first free slot of the key's chain; the key is not present.
        V& place(K* key, V&& value) noexcept {
            std::size_t i = home(key);
            while (slots[i].key) i = (i + 1) & mask;
            slots[i].key = key;
            ::new (&slots[i].value) V(std::move(value));
            ++count;
            return slots[i].value;
        }

        // Backward-shift deletion: later members of the chain move up, so no
        // marker is left behind.
        void removeAt(Node* n) noexcept {
            std::size_t hole = static_cast<std::size_t>(n - slots);
            for (std::size_t j = (hole + 1) & mask; slots[j].key; j = (j + 1) & mask) {
                const std::size_t h = home(slots[j].key);
                // The member at j may fill the hole unless its home lies
                // cyclically in (hole, j].
                const bool homeBetween = hole <= j ? (hole < h && h <= j) : (hole < h || h <= j);
                if (homeBetween)
                    continue;
                slots[hole] = std::move(slots[j]);
                hole = j;
            }
            slots[hole].key = nullptr;
            --count;
        }

        void allocate(std::size_t slotCount) {
            const std::size_t bytes = slotCount * sizeof(Node);
            void* memory;
            if (bytes >= kMappedBytes) {
                memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                                -1, 0);
                if (memory == MAP_FAILED)
                    throw std::bad_alloc();
            } else {
                memory = std::calloc(slotCount, sizeof(Node));
                if (!memory)
                    throw std::bad_alloc();
            }
            slots = static_cast<Node*>(memory);
            prefaulted = bytes >= kMappedBytes ? 0 : bytes;  // a small table is left as it is
            mask = slotCount - 1;
            shift = 64 - static_cast<unsigned>(__builtin_ctzll(slotCount));
            count = 0;
        }
        bool mapped() const noexcept { return capacity() * sizeof(Node) >= kMappedBytes; }

        // Faults in up to `bytes` more of a mapped table, front to back.
        void prefaultSome(std::size_t bytes) noexcept {
            const std::size_t total = capacity() * sizeof(Node);
            if (prefaulted >= total)
                return;
            const std::size_t step = std::min(bytes, total - prefaulted);
            prefault(reinterpret_cast<char*>(slots) + prefaulted, step);
            prefaulted += step;
        }

        // A mapped table gives the pages below `drained` back as it drains,
        // a piece at a time, so that no insert pays for unmapping all of it.
        void releaseBelow(std::size_t drained) noexcept {
            if (!mapped())
                return;
            const std::size_t done = drained * sizeof(Node) / kMappedBytes * kMappedBytes;
            if (done > unmapped) {
                ::munmap(reinterpret_cast<char*>(slots) + unmapped, done - unmapped);
                unmapped = done;
            }
        }

        void release() noexcept {
            if (slots) {
                const std::size_t bytes = capacity() * sizeof(Node);
                if (mapped())
                    ::munmap(reinterpret_cast<char*>(slots) + unmapped, bytes - unmapped);
                else
                    std::free(slots);
            }
            *this = Table{};
        }
    };

    static void releaseKeys(Table& t, std::size_t from) noexcept {
        for (std::size_t i = from; i < t.capacity(); ++i) {
            if (holdsKey(t.slots[i].key))
                t.slots[i].key->deleteRef();
        }
    }

    // Starts a new table of twice the size; the present one drains into it.
    void grow() {
        if (old_.count)
            drain(old_.capacity());
        Table bigger;
        bigger.allocate(cur_.capacity() ? cur_.capacity() * 2 : kInitialSlots);
        old_.release();
        old_ = cur_;
        cur_ = bigger;
        drained_ = 0;
        if (old_.count == 0)
            old_.release();
        else
            drainSome();
    }

    void drainSome() noexcept {
        if (old_.count)
            drain(kDrainStep);
    }

    void drain(std::size_t steps) noexcept {
        const std::size_t end = old_.capacity();
        for (; steps && drained_ < end; --steps, ++drained_) {
            Node& n = old_.slots[drained_];
            if (holdsKey(n.key)) {
                cur_.place(n.key, std::move(n.value));
                --old_.count;
            }
            n.key = nullptr;
        }
        if (old_.count == 0)
            old_.release();
        else
            old_.releaseBelow(drained_);
    }

    // Visits the used slots of `t` from `from` on; false when `visit` stopped.
    template <class F>
    static bool visitSlots(const Table& t, const Node* from, F& visit) {
        for (const Node* n = from; n != t.slots + t.capacity(); ++n) {
            if (holdsKey(n->key) && !visit(Key(n->key), n->value))
                return false;
        }
        return true;
    }

    Table cur_;
    Table old_;                // the table being drained into cur_, if any
    std::size_t drained_ = 0;  // slots of old_ already moved
    bool hasNull_ = false;
    V nullValue_{};
    std::size_t size_ = 0;
};

}  // namespace Kiv
