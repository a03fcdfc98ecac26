#include "search/search_side.h"

#include "search/packed_cube.h"

namespace tessel {

search_side::search_side(const Cube& root, int dir, MemoryBudget& budget)
    : cache(budget), direction(dir) {
  cache.cubes()[0] = pack_ce(root, 0);
}

void search_side::write_next_marker() {
  cache.reserve(level_end + 1);
  cache.cubes()[level_end] = level_marker(level_start);
}

std::size_t search_side::grow(const LegalMoves& legal, level_step step) {
  write_next_marker();
  const std::size_t new_end = step(cache, level_start, level_end, direction, legal);
  level_start = level_end + 1;
  level_end = new_end;
  return newest_size();
}

}  // namespace tessel
