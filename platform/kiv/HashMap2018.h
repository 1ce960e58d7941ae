#pragma once
// Kiv::HashMap2018: a chained hash map whose nodes hold a counted reference
// to their key object. Keys are hashed and compared by object address, never
// by value, so a lookup is one hash of the address and one bucket walk.
// Iteration runs in bucket order and may start at a given key.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "Ptr.h"

namespace Kiv {

template <class K, class V>
class HashMap2018 {
  public:
    using Key = Dorvu::Ptr<K>;

    struct Node {
        Node(Key k, V v) : key(std::move(k)), value(std::move(v)) {}
        Key key;
        V value;
        std::unique_ptr<Node> next;
    };

    HashMap2018() : buckets_(kInitialBuckets) {}

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    V* find(const K* key) noexcept { return const_cast<V*>(std::as_const(*this).find(key)); }
    const V* find(const K* key) const noexcept {
        for (const Node* n = buckets_[bucketOf(key)].get(); n; n = n->next.get()) {
            if (n->key.ptr() == key)
                return &n->value;
        }
        return nullptr;
    }

    // Inserts the pair, or replaces the value of a present key (the stored
    // key object stays). True when a new pair was inserted.
    bool insertOrAssign(const Key& key, V value) {
        if (V* present = find(key.ptr())) {
            *present = std::move(value);
            return false;
        }
        if (size_ >= buckets_.size())
            grow();
        auto& head = buckets_[bucketOf(key.ptr())];
        std::unique_ptr<Node> node;
        if (spare_) {
            // A node freed by an earlier erase: add/delete churn allocates nothing.
            node = std::move(spare_);
            spare_ = std::move(node->next);
            node->key = key;
            node->value = std::move(value);
        } else {
            node = std::make_unique<Node>(key, std::move(value));
        }
        node->next = std::move(head);
        head = std::move(node);
        ++size_;
        return true;
    }

    // Removes the pair of `key`, releasing the map's reference to it.
    bool erase(const K* key, V* removed = nullptr) {
        for (std::unique_ptr<Node>* link = &buckets_[bucketOf(key)]; *link; link = &(*link)->next) {
            if ((*link)->key.ptr() != key)
                continue;
            std::unique_ptr<Node> gone = std::move(*link);
            *link = std::move(gone->next);
            if (removed)
                *removed = std::move(gone->value);
            gone->key = nullptr;
            gone->next = std::move(spare_);
            spare_ = std::move(gone);
            --size_;
            return true;
        }
        return false;
    }

    // Removes every pair and gives back every node, the spare ones too.
    void clear() noexcept {
        for (auto& head : buckets_) unlink(head);
        unlink(spare_);
        size_ = 0;
    }

    ~HashMap2018() { clear(); }
    HashMap2018(const HashMap2018&) = delete;
    HashMap2018& operator=(const HashMap2018&) = delete;

    // Visits the pairs from `start` (from the first when null) until `visit`
    // returns false. A `start` that is not a key visits nothing.
    template <class F>
    void forEachFrom(const K* start, F&& visit) const {
        std::size_t b = 0;
        const Node* n = nullptr;
        if (start) {
            b = bucketOf(start);
            for (n = buckets_[b].get(); n && n->key.ptr() != start; n = n->next.get()) {
            }
            if (!n)
                return;
        } else {
            n = buckets_[0].get();
        }
        for (;;) {
            for (; n; n = n->next.get()) {
                if (!visit(n->key, n->value))
                    return;
            }
            if (++b == buckets_.size())
                return;
            n = buckets_[b].get();
        }
    }
    template <class F>
    void forEach(F&& visit) const {
        forEachFrom(nullptr, std::forward<F>(visit));
    }

  private:
    // Iteratively: a long chain must not recurse through unique_ptr.
    static void unlink(std::unique_ptr<Node>& head) noexcept {
        while (head) head = std::move(head->next);
    }

    static constexpr std::size_t kInitialBuckets = 16;

    std::size_t bucketOf(const K* key) const noexcept {
        // Fibonacci hashing of the address; the low bits of an address are
        // alignment zeros, so they are dropped first.
        const auto a = reinterpret_cast<std::uintptr_t>(key) >> 4;
        return static_cast<std::size_t>((a * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    void grow() {
        std::vector<std::unique_ptr<Node>> old = std::move(buckets_);
        buckets_ = std::vector<std::unique_ptr<Node>>(old.size() * 2);
        --shift_;
        for (auto& head : old) {
            while (head) {
                std::unique_ptr<Node> n = std::move(head);
                head = std::move(n->next);
                auto& dest = buckets_[bucketOf(n->key.ptr())];
                n->next = std::move(dest);
                dest = std::move(n);
            }
        }
    }

    std::vector<std::unique_ptr<Node>> buckets_;
    unsigned shift_ = 64 - 4;      // log2(kInitialBuckets) bits of hash
    std::unique_ptr<Node> spare_;  // nodes of erased pairs, kept for the next inserts
    std::size_t size_ = 0;
};

}  // namespace Kiv
