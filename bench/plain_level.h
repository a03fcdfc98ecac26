// The plain level step, kept as a yardstick for the real one: every child is
// unpacked, moved through the move table and packed again, the new level is
// ordered with qsort and a comparator function, and runs of one position are
// merged by the same last-move filter. Built only into the benchmarks.
#pragma once

#include <cstddef>

#include "search/legal_moves.h"
#include "search/level_cache.h"

namespace tessel::bench {

// Same contract as generate_new_level: expands [start, end), writes the new
// level at [end + 1, result) (index `end` already holds its marker) in
// cube-state order, entries of one position in generation order, at most one
// entry per last move in a run, and returns its end.
std::size_t plain_generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                                     int direction, const LegalMoves& legal);

}  // namespace tessel::bench
