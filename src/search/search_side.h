// One side of a bidirectional search: a level cache grown from one end
// position, and where its newest level lies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cube/cube_state.h"
#include "search/entry_arena.h"
#include "search/join.h"
#include "search/legal_moves.h"
#include "search/level_cache.h"

namespace tessel {

// The signature of generate_new_level; the benchmarks grow sides with a
// plain level step too.
using level_step = std::size_t (*)(growing_cache& cache, std::size_t start, std::size_t end,
                                   int direction, const LegalMoves& legal);

// The root at index 0 (last move 0), then each level behind its marker.
// At first the newest level is level 0, the root alone: [0, 1).
struct search_side {
  growing_cache cache;
  std::size_t level_start = 0;  // first entry of the newest level
  std::size_t level_end = 1;    // one past its last entry
  int direction;                // kForward or kBackward

  search_side(const Cube& root, int direction, MemoryBudget& budget);

  // Writes the next level's marker at level_end, making room for it, and
  // builds that level with `step`; it becomes the newest. Returns its size.
  std::size_t grow(const LegalMoves& legal, level_step step = generate_new_level);
  // Only writes the marker, as grow does before it builds the level: the
  // next level can then be built at [level_end + 1, ...) as often as wanted
  // without becoming the newest.
  void write_next_marker();

  LevelRange newest() const { return {cache.cubes(), level_start, level_end}; }
  std::size_t newest_size() const { return level_end - level_start; }
  // Entries the side holds: the root, the markers and every level.
  std::uint64_t stored() const { return level_end; }
};

}  // namespace tessel
