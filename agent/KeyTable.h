#pragma once
// A map from MatchKey to a value that is never V{} (a null object, line 0),
// for the per-line lookups of programming: open addressing with linear
// probing in one flat array, so a lookup reads one or two cache lines and an
// insert allocates nothing until the table grows. A slot holding V{} is free.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace NatAgent {

template <class Key, class V>
class KeyTable {
  public:
    std::size_t size() const noexcept { return size_; }
    void clear() {
        slots_.clear();
        size_ = 0;
        bits_ = 0;
    }
    // Room for `count` pairs without growing.
    void reserve(std::size_t count) {
        if (count * 2 > slots_.size()) {
            regrow(count);
        }
    }

    const V* find(Key key) const noexcept {
        if (size_ == 0) {
            return nullptr;
        }
        const Slot& slot = slots_[probe(key)];
        return slot.value ? &slot.value : nullptr;
    }
    // The value held for `key`, and whether `value` was put there (the key was missing).
    std::pair<V*, bool> tryEmplace(Key key, V value) {
        reserve(size_ + 1);
        Slot& slot = slots_[probe(key)];
        if (slot.value) {
            return {&slot.value, false};
        }
        slot = Slot{key, std::move(value)};
        ++size_;
        return {&slot.value, true};
    }
    void assign(Key key, V value) {
        reserve(size_ + 1);
        Slot& slot = slots_[probe(key)];
        size_ += slot.value ? 0 : 1;
        slot = Slot{key, std::move(value)};
    }
    void erase(Key key) {
        if (size_ == 0) {
            return;
        }
        std::size_t hole = probe(key);
        if (!slots_[hole].value) {
            return;
        }
        // Pulls back every later pair of the run whose probe would now stop
        // at the hole, so that no lookup meets a free slot before its pair.
        for (std::size_t i = next(hole); slots_[i].value; i = next(i)) {
            const std::size_t want = home(slots_[i].key);
            const bool passesHole =
                hole <= i ? (want <= hole || want > i) : (want <= hole && want > i);
            if (passesHole) {
                slots_[hole] = std::move(slots_[i]);
                hole = i;
            }
        }
        slots_[hole] = Slot{};
        --size_;
    }
    // f(key, value) for every pair, in no particular order.
    template <class F>
    void forEach(F&& f) const {
        for (const Slot& slot : slots_) {
            if (slot.value) {
                f(slot.key, slot.value);
            }
        }
    }

  private:
    struct Slot {
        Key key{};
        V value{};
    };
    static constexpr std::uint64_t kSpread = 0x9E3779B97F4A7C15ull;

    std::size_t home(Key key) const noexcept {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * kSpread) >>
                                        (64 - bits_));
    }
    std::size_t next(std::size_t i) const noexcept { return (i + 1) & (slots_.size() - 1); }
    // The slot of `key`, or the free slot that ends its probe.
    std::size_t probe(Key key) const noexcept {
        std::size_t i = home(key);
        while (slots_[i].value && slots_[i].key != key) {
            i = next(i);
        }
        return i;
    }

    // At most half the slots in use keeps the probe runs short.
    void regrow(std::size_t count) {
        unsigned bits = 4;
        while ((std::size_t{1} << bits) < count * 2) {
            ++bits;
        }
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(std::size_t{1} << bits));
        bits_ = bits;
        for (Slot& slot : old) {
            if (slot.value) {
                slots_[probe(slot.key)] = std::move(slot);
            }
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    unsigned bits_ = 0;
};

}  // namespace NatAgent
