#include "plain_level.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "cube/moves.h"
#include "search/packed_cube.h"

namespace tessel::bench {

namespace {

// A child with its generation index, so that qsort (not stable) still keeps
// the entries of one position in generation order.
// 24 bytes: the packed words without PackedCube's 16-byte alignment.
struct Numbered {
  std::uint64_t lo, hi;
  std::uint64_t index;

  PackedCube cube() const { return {lo, hi}; }
};

int compare_numbered(const void* a, const void* b) {
  const auto& x = *static_cast<const Numbered*>(a);
  const auto& y = *static_cast<const Numbered*>(b);
  const int c = compare_packed_cubes_only_cube_state(x.cube(), y.cube());
  if (c != 0) return c;
  return x.index < y.index ? -1 : (x.index > y.index ? 1 : 0);
}

}  // namespace

std::size_t plain_generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                                     int direction, const LegalMoves& legal) {
  // The distinct legal moves in list order, and which of them may follow
  // each move (one table per call, from the pruning rule).
  std::vector<int> moves;
  std::uint64_t seen = 0;
  for (int m : legal.moves()) {
    if (seen & (std::uint64_t{1} << m)) continue;
    seen |= std::uint64_t{1} << m;
    moves.push_back(m);
  }
  std::vector<std::vector<char>> allowed(kMoveCount, std::vector<char>(moves.size()));
  for (int p = 0; p < kMoveCount; ++p)
    for (std::size_t j = 0; j < moves.size(); ++j)
      allowed[static_cast<std::size_t>(p)][j] = !is_forbidden_pair(moves[j], p, direction);

  const std::size_t base = end + 1;
  std::size_t used = base;
  Cube parent, child;
  for (std::size_t i = start; i < end; ++i) {
    int previous = 0;
    unpack_ce(parent, previous, cache.cubes()[i]);
    for (std::size_t j = 0; j < moves.size(); ++j) {
      if (i != 0 && !allowed[static_cast<std::size_t>(previous)][j]) continue;
      apply_move(moves[j], child, parent);
      if (child == parent) continue;
      if (used == cache.capacity()) cache.reserve(used + 1);
      cache.cubes()[used++] = pack_ce(child, moves[j]);
    }
  }
  const std::size_t total = used - base;
  cache.add_generated(total);

  const auto sorted = std::make_unique_for_overwrite<Numbered[]>(total);
  PackedCube* const level = cache.cubes() + base;
  for (std::size_t k = 0; k < total; ++k) sorted[k] = {level[k].lo, level[k].hi, k};
  std::qsort(sorted.get(), total, sizeof(Numbered), compare_numbered);

  // Neighbour merge: within a run of one position keep the first entry of
  // each last move.
  std::size_t out = 0;
  std::size_t k = 0;
  while (k < total) {
    std::uint64_t kept_moves = 0;
    const PackedCube head = sorted[k].cube();
    for (; k < total && same_cube_state(sorted[k].cube(), head); ++k) {
      const PackedCube c = sorted[k].cube();
      const std::uint64_t bit = std::uint64_t{1} << (unpack_last_move(c) & 63);
      if (kept_moves & bit) continue;
      kept_moves |= bit;
      level[out++] = c;
    }
  }
  cache.set_used(base + out);
  return base + out;
}

}  // namespace tessel::bench
