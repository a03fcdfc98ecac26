// The plain level step, kept as a yardstick for the real one: every child is
// unpacked, moved through the move table and packed again, the new level is
// ordered with qsort and a comparator function, and runs of one position are
// merged by the same last-move filter. Built only into the benchmarks.
#pragma once

#include <cstddef>

#include "cube/cube_state.h"
#include "search/legal_moves.h"
#include "search/level_cache.h"

namespace tessel::bench {

// Same contract as generate_new_level: expands [start, end), writes the new
// level at [end + 1, result) (index `end` already holds its marker) in
// cube-state order, entries of one position in generation order, at most one
// entry per last move in a run, and returns its end.
std::size_t plain_generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                                     int direction, const LegalMoves& legal);

// Signature shared by the two level steps.
using LevelStep = std::size_t (*)(growing_cache&, std::size_t, std::size_t, int,
                                  const LegalMoves&);

// One side's levels as a search builds them: root at index 0, then each
// level behind its marker.
struct LevelStack {
  growing_cache cache;
  std::size_t level_start = 0;
  std::size_t level_end = 1;
  int direction;

  LevelStack(const Cube& root, int dir, MemoryBudget& budget);
  // Adds the next level with `step`; returns its entry count.
  std::size_t grow(LevelStep step, const LegalMoves& legal);
};

}  // namespace tessel::bench
