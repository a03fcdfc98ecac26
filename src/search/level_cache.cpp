#include "search/level_cache.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "core/failure.h"
#include "cube/moves.h"

namespace tessel {

namespace {

std::size_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return std::size_t{1} << 40;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page);
}

}  // namespace

// Leave room for the rest of the process and the system.
MemoryBudget::MemoryBudget() : limit_(physical_memory_bytes() / 8 * 7) {}

growing_cache::growing_cache(MemoryBudget& budget) : budget_(budget) {
  constexpr std::size_t bytes = initial_cache_size * sizeof(PackedCube);
  if (budget_.remaining() < bytes) fail(kOutOfMemory);
  cubes_ = static_cast<PackedCube*>(std::malloc(bytes));
  if (cubes_ == nullptr) fail(kOutOfMemory);
  budget_.take(bytes);
  capacity_ = initial_cache_size;
}

growing_cache::~growing_cache() {
  std::free(cubes_);
  budget_.give_back(capacity_ * sizeof(PackedCube));
}

void growing_cache::reserve(std::size_t n) {
  if (n <= capacity_) return;
  std::size_t wanted = capacity_;
  while (wanted < n) wanted *= 2;
  const std::size_t room = budget_.remaining() / sizeof(PackedCube);
  std::size_t grown = std::min(wanted, capacity_ + room);
  if (grown < n) fail(kOutOfMemory);
  void* p = std::realloc(cubes_, grown * sizeof(PackedCube));
  if (p == nullptr) {
    // Doubling did not fit: try just what is needed before giving up.
    grown = n;
    p = std::realloc(cubes_, grown * sizeof(PackedCube));
    if (p == nullptr) fail(kOutOfMemory);
  }
  cubes_ = static_cast<PackedCube*>(p);
  budget_.take((grown - capacity_) * sizeof(PackedCube));
  capacity_ = grown;
}

std::size_t remove_duplicates(PackedCube* cubes, std::size_t begin, std::size_t end) {
  std::size_t out = begin;
  std::size_t i = begin;
  while (i < end) {
    // One run of a position: keep the first entry of every last move.
    std::uint64_t seen = 0;
    const PackedCube head = cubes[i];
    for (; i < end && same_cube_state(cubes[i], head); ++i) {
      const std::uint64_t bit = std::uint64_t{1} << (unpack_last_move(cubes[i]) & 63);
      if (seen & bit) continue;
      seen |= bit;
      cubes[out++] = cubes[i];
    }
  }
  return out;
}

bool is_sorted_by_cube_state(const PackedCube* cubes, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i + 1 < end; ++i)
    if (cube_state_less(cubes[i + 1], cubes[i])) return false;
  return true;
}

std::size_t generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                               int direction, const LegalMoves& legal) {
  // A move listed twice yields the same children twice; the duplicates
  // would be merged anyway, so each move is tried once, in list order.
  std::vector<int> moves(legal.moves().begin(), legal.moves().end());
  moves.erase(std::unique(moves.begin(), moves.end()), moves.end());

  std::size_t write = end + 1;
  cache.reserve(write + 1);
  Cube parent;
  Cube child;
  for (std::size_t i = start; i < end; ++i) {
    int previous = 0;
    unpack_ce(parent, previous, cache.cubes()[i]);
    for (int m : moves) {
      if (i != 0 && is_forbidden_pair(m, previous, direction)) continue;
      apply_move(m, child, parent);
      if (child == parent) continue;
      cache.reserve(write + 1);
      cache.cubes()[write++] = pack_ce(child, m);
    }
  }
  PackedCube* cubes = cache.cubes();
  std::stable_sort(cubes + end + 1, cubes + write, cube_state_less);
  if (!is_sorted_by_cube_state(cubes, end + 1, write))
    fail("ERROR: Bug found, SORTING FAILURE\n");
  write = remove_duplicates(cubes, end + 1, write);
  cache.set_used(write);
  return write;
}

}  // namespace tessel
