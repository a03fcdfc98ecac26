// A set of positions that may answer "maybe" for a position it does not
// hold, never "no" for one it holds: two bits of one 64-bit word per hash
// value of the cube state (the last move is not part of it), so a test
// reads one word and a position passes by chance only when both its bits
// are set. A join of a level too large to store tests every child of that
// level against such a filter of the other side, and keeps only the few
// that pass.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "search/entry_arena.h"
#include "search/packed_cube.h"

namespace tessel {

class PositionFilter {
 public:
  // A filter for about `positions` positions: 2^bits bits with bits chosen
  // so that few positions pass by chance, within a quarter of what the
  // budget has left; `forced_bits` (tests) sets bits instead. Its memory is
  // counted against the budget. Throws Failure("ERROR: not enough memory").
  PositionFilter(MemoryBudget& budget, std::uint64_t positions, int forced_bits = 0);
  ~PositionFilter();
  PositionFilter(const PositionFilter&) = delete;
  PositionFilter& operator=(const PositionFilter&) = delete;

  // The filter holds 2^bits bits.
  int bits() const { return bits_; }

  // The key of a position, a mix of its cube-state bits 8..127: its word
  // (from bit 12 up) and its two bits in that word (bits 0..5 and 6..11).
  std::uint64_t key_of(const PackedCube& c) const {
    std::uint64_t x = (c.lo >> 8) ^ (c.hi * 0x9E3779B97F4A7C15ull);
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    return ((x >> shift_) << 12) | (x & 0xFFF);
  }
  void prefetch(std::uint64_t key) const { __builtin_prefetch(words_ + (key >> 12)); }
  static std::uint64_t mask_of(std::uint64_t key) {
    return (std::uint64_t{1} << (key & 63)) | (std::uint64_t{1} << ((key >> 6) & 63));
  }
  bool may_hold_key(std::uint64_t key) const {
    const std::uint64_t mask = mask_of(key);
    return (words_[key >> 12] & mask) == mask;
  }
  bool may_hold(const PackedCube& c) const { return may_hold_key(key_of(c)); }
  // Safe on many threads at once.
  void add_key(std::uint64_t key) {
    std::atomic_ref<std::uint64_t> word(words_[key >> 12]);
    const std::uint64_t mask = mask_of(key);
    if ((word.load(std::memory_order_relaxed) & mask) != mask)
      word.fetch_or(mask, std::memory_order_relaxed);
  }
  void add(const PackedCube& c) { add_key(key_of(c)); }
  // Adds the positions of entries [begin, end), on every work thread.
  void add_all(const PackedCube* cubes, std::size_t begin, std::size_t end);

 private:
  MemoryBudget& budget_;
  std::uint64_t* words_ = nullptr;
  std::size_t bytes_ = 0;
  int bits_ = 0;
  int shift_ = 0;
};

}  // namespace tessel
