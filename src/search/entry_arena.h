// Memory for level caches: the budget that all caches of one search share,
// and the arena that holds one cache's entries.
#pragma once

#include <cstddef>

#include "search/packed_cube.h"

namespace tessel {

// How many bytes all level caches of one search may hold together. Growing
// past it ends the search with "ERROR: not enough memory" instead of
// letting the kernel kill the process.
class MemoryBudget {
 public:
  // A budget of most of the machine's physical memory.
  MemoryBudget();
  explicit MemoryBudget(std::size_t bytes) : limit_(bytes) {}

  std::size_t limit() const { return limit_; }
  void set_limit(std::size_t bytes) { limit_ = bytes; }
  std::size_t in_use() const { return in_use_; }
  std::size_t remaining() const { return limit_ > in_use_ ? limit_ - in_use_ : 0; }
  void take(std::size_t bytes) { in_use_ += bytes; }
  void give_back(std::size_t bytes) { in_use_ -= bytes; }

 private:
  std::size_t limit_;
  std::size_t in_use_ = 0;
};

// One array of packed cubes, counted against a budget. On Linux the pages
// come straight from the kernel: they are touched only when first written,
// and growing remaps them instead of copying. Neither copyable nor movable;
// frees the array on destruction.
class EntryArena {
 public:
  // Allocates `entries` entries. Throws Failure("ERROR: not enough memory").
  EntryArena(MemoryBudget& budget, std::size_t entries);
  ~EntryArena();
  EntryArena(const EntryArena&) = delete;
  EntryArena& operator=(const EntryArena&) = delete;

  PackedCube* data() { return cubes_; }
  const PackedCube* data() const { return cubes_; }
  std::size_t capacity() const { return capacity_; }

  // Makes sure indices [0, n) are allocated, doubling the capacity as often
  // as needed, or growing it to n where doubling would take more than half
  // of what the budget has left. Existing entries keep their indices and
  // values. Throws Failure("ERROR: not enough memory").
  void reserve(std::size_t n);
  // Gives back the entries from index n on (when it holds more), to the
  // system and the budget. Entries below n keep their values; the array
  // may move.
  void shrink(std::size_t n);
  // Whether reserve(n) would find the memory in the budget.
  bool can_hold(std::size_t n) const {
    return n <= capacity_ || n - capacity_ <= budget_.remaining() / sizeof(PackedCube);
  }
  // Hint that entries [from, to) are about to be written: faults in their
  // whole pages at once. Changes no entry.
  void prefault(std::size_t from, std::size_t to);

 private:
  MemoryBudget& budget_;
  PackedCube* cubes_ = nullptr;
  std::size_t capacity_ = 0;
};

// Tests: from now on the system refuses, on the calling thread, every
// array of entries larger than `bytes` (0: none), as it may refuse memory
// that the budget allows.
void refuse_arrays_above(std::size_t bytes);

}  // namespace tessel
