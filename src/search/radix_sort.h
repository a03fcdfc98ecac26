// Stable sorting of packed cubes in cube-state order: a most-significant-
// digit radix sort over the position bits (8..127) that finishes small
// ranges with insertion sort. Entries of one position keep their order, so
// a level sorted this way keeps each run in generation order.
#pragma once

#include <cstddef>

#include "search/packed_cube.h"

namespace tessel {

// Ranges of at most this many entries are insertion sorted: they need no
// scratch space.
inline constexpr std::size_t kInsertionSortMost = 32;

// Room the sorts below need in `scratch` for a range of n entries.
constexpr std::size_t sort_scratch_size(std::size_t n) { return n > kInsertionSortMost ? n : 0; }

// Stable sort of [a, a + n) in cube-state order, for entries that agree on
// every bit at and above bit `top` (8 < top <= 128; 128 for any entries),
// through `scratch` (room for sort_scratch_size(n) entries); n < 2^32.
void radix_sort(PackedCube* a, std::size_t n, int top, PackedCube* scratch);

// The same sort, except that the first digit pass may leave the result in
// `scratch` instead of copying it back. Returns where the sorted entries
// are: `a` or `scratch`. The other range is left in no particular order.
const PackedCube* sort_bucket(PackedCube* a, std::size_t n, int top, PackedCube* scratch);

}  // namespace tessel
