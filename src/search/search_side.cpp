#include "search/search_side.h"

#include <algorithm>
#include <vector>

#include "core/failure.h"
#include "search/packed_cube.h"

namespace tessel {

search_side::search_side(const Cube& root, int dir, MemoryBudget& budget)
    : cache(budget), direction(dir) {
  cache.cubes()[0] = pack_ce(root, 0);
}

search_side::search_side(std::span<const PackedCube> roots, int dir, MemoryBudget& budget)
    : cache(budget), level_end(roots.size()), direction(dir) {
  if (roots.empty()) fail("ERROR: Bug found, a search side without a root\n");
  cache.reserve(roots.size() + 1);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (unpack_last_move(roots[i]) != 0 || (i > 0 && !cube_state_less(roots[i - 1], roots[i])))
      fail("ERROR: Bug found, search roots out of order\n");
    cache.cubes()[i] = roots[i];
  }
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

void search_side::grow_or_plan(const LegalMoves& legal) {
  if (ranges) fail(kOutOfMemory);
  write_next_marker();
  new_level level = generate_or_plan_new_level(cache, level_start, level_end, direction, legal);
  if (level.ranges) {
    ranges = std::move(level.ranges);
    return;
  }
  level_start = level_end + 1;
  level_end = level.end;
}

namespace {

// The part of a side's newest level that lies in buckets [first, last),
// ready to be joined: built into `room` for a range-built level (room for
// all its children there), a slice of the cache for a stored one. Returns
// the entries `room` now holds.
std::size_t level_part(const search_side& side, std::size_t first, std::size_t last, int shift,
                       PackedCube* room, LevelRange& part) {
  const PackedCube* cubes = side.cache.cubes();
  if (side.ranges) {
    const std::size_t n = side.ranges->build(cubes, first, last, room);
    part = {room, 0, n, cubes, side.ranges->parent_start(), side.ranges->parent_end()};
    return n;
  }
  const auto below = [shift](const PackedCube& c, std::uint64_t b) { return (c.hi >> shift) < b; };
  const PackedCube* begin = cubes + side.level_start;
  const PackedCube* end = cubes + side.level_end;
  const auto lo = static_cast<std::size_t>(std::lower_bound(begin, end, first, below) - cubes);
  const auto hi = static_cast<std::size_t>(std::lower_bound(begin, end, last, below) - cubes);
  if (side.level_start == 0) {
    // Level 0, the root alone: keeps its place, so the root is known.
    part = {cubes, lo, hi};
    return 0;
  }
  const std::size_t marker = side.level_start - 1;
  part = {cubes, lo, hi, cubes, marker_value(cubes[marker]), marker};
  return 0;
}

}  // namespace

std::int64_t join_newest(const search_side& forward, const search_side& backward,
                         std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                         std::size_t most_per_range, std::uint64_t* ranges_used,
                         Progress* progress) {
  if (!forward.ranges && !backward.ranges) {
    if (ranges_used != nullptr) ++*ranges_used;
    return find_sequence(forward.newest(), backward.newest(), max_count, sink);
  }
  const range_built_level* built = forward.ranges ? forward.ranges.get() : backward.ranges.get();
  const std::size_t buckets = built->buckets();
  const int shift = built->bucket_shift();
  const auto children = [&](std::size_t b) {
    std::uint64_t n = 0;
    if (forward.ranges) n += forward.ranges->bucket_size(b);
    if (backward.ranges) n += backward.ranges->bucket_size(b);
    return n;
  };
  std::uint64_t total = 0;
  for (std::size_t b = 0; b < buckets; ++b) total += children(b);
  std::size_t room = budget.remaining() / sizeof(PackedCube);
  if (most_per_range != 0) room = std::min(room, most_per_range);
  const std::size_t capacity = static_cast<std::size_t>(std::min<std::uint64_t>(room, total));

  // Ranges of whole buckets, each as large as the buffer allows. A bucket
  // holds whole runs of one position, so no run is ever cut.
  std::vector<std::size_t> cuts = {0};
  std::uint64_t in_range = 0;
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::uint64_t n = children(b);
    if (n > capacity) fail(kOutOfMemory);
    if (in_range + n > capacity) {
      cuts.push_back(b);
      in_range = 0;
    }
    in_range += n;
  }
  cuts.push_back(buckets);
  if (ranges_used != nullptr) *ranges_used += cuts.size() - 1;

  EntryArena buffer(budget, std::max<std::size_t>(capacity, 1));
  bool stopped = false;
  const SequenceSink counted = [&sink, &stopped](std::span<const int> moves) {
    const bool go_on = sink(moves);
    if (!go_on) stopped = true;
    return go_on;
  };
  std::int64_t found = 0;
  std::uint64_t positions = 0;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    if (progress != nullptr) progress->step(k + 1, cuts.size() - 1, positions);
    for (std::size_t b = cuts[k]; b < cuts[k + 1]; ++b) positions += children(b);
    LevelRange parts[2];
    std::size_t used = level_part(forward, cuts[k], cuts[k + 1], shift, buffer.data(), parts[0]);
    level_part(backward, cuts[k], cuts[k + 1], shift, buffer.data() + used, parts[1]);
    found += find_sequence(parts[0], parts[1], max_count - found, counted);
    // A limit of 0 or less, like 1, stops at the first sequence found.
    if ((found > 0 && found >= max_count) || stopped) break;
  }
  return found;
}

}  // namespace tessel
