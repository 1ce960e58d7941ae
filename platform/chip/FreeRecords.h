// The free entry records of a chip, kept by the process that drives it: a two-level
// bitmap that hands out the lowest free record in a few word scans. It is derived from
// the records at open and never stored, so a kill cannot leave it wrong.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace Chip {

class FreeRecords {
  public:
    static constexpr uint32_t kNone = UINT32_MAX;

    explicit FreeRecords(uint32_t recordCount)
        : words_((recordCount + 63) / 64), summary_((words_.size() + 63) / 64) {}

    uint32_t size() const { return size_; }
    bool contains(uint32_t i) const { return words_[i / 64] >> (i % 64) & 1; }

    void insert(uint32_t i) {
        if (!contains(i)) {
            words_[i / 64] |= uint64_t{1} << (i % 64);
            summary_[i / 4096] |= uint64_t{1} << (i / 64 % 64);
            ++size_;
        }
    }
    void erase(uint32_t i) {
        if (contains(i)) {
            uint64_t& word = words_[i / 64];
            word &= ~(uint64_t{1} << (i % 64));
            if (word == 0) {
                summary_[i / 4096] &= ~(uint64_t{1} << (i / 64 % 64));
            }
            --size_;
        }
    }
    uint32_t lowest() const {
        for (std::size_t s = 0; s < summary_.size(); ++s) {
            if (summary_[s] != 0) {
                std::size_t w = s * 64 + static_cast<std::size_t>(std::countr_zero(summary_[s]));
                return static_cast<uint32_t>(w * 64 + std::countr_zero(words_[w]));
            }
        }
        return kNone;
    }

  private:
    std::vector<uint64_t> words_;    // bit per record, set when free
    std::vector<uint64_t> summary_;  // bit per word, set when the word has a free record
    uint32_t size_ = 0;
};

}  // namespace Chip
