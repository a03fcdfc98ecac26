#include "search/join.h"

#include "core/failure.h"
#include "cube/moves.h"
#include "search/legal_moves.h"

namespace tessel {

void sequence_list::add_reverse_sequence(std::span<const int> reversed) {
  const int n = static_cast<int>(reversed.size());
  if (count == 0) length = n;
  if (n != length)
    fail(
        "ERROR. Bug found. Internal assertion failed! Found sequences of different length on the "
        "same level.!\n");
  for (std::size_t i = reversed.size(); i-- > 0;) moves.push_back(reversed[i]);
  ++count;
}

namespace {

// Bisection: entry lo is below the key, entry hi (or hi itself, when it is
// the end of the range) is not; returns the first index not below the key.
std::size_t first_not_below(const PackedCube* cubes, std::size_t lo, std::size_t hi,
                            const PackedCube& key) {
  while (lo + 1 < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (cube_state_less(cubes[mid], key))
      lo = mid;
    else
      hi = mid;
  }
  return hi;
}

}  // namespace

std::size_t find_index_in_cache_level(const PackedCube* cubes, std::size_t left, std::size_t right,
                                      const PackedCube& key) {
  if (left >= right) return right;
  if (same_cube_state(cubes[left], key)) return left;
  const std::size_t hi = first_not_below(cubes, left, right, key);
  if (hi == right || !same_cube_state(cubes[hi], key)) return right;
  return hi;
}

namespace {

// Paths that break the pruning rule inside one side are not collected: a
// joined sequence containing one would be dropped anyway.
void collect_paths(sequence_list& list, std::vector<int>& path, const PackedCube* cubes,
                   std::size_t level_start, std::size_t index, int direction) {
  if (index == 0) {
    list.add_reverse_sequence(path);
    return;
  }
  Cube cube;
  int move = 0;
  unpack_ce(cube, move, cubes[index]);
  if (move < 0 || move >= kMoveCount)
    fail("Internal assertion failed! Couldn't restore the move sequence.!\n");
  const PackedCube key = pack_ce(apply_move(reverse_rotation(move), cube), 0);
  if (level_start == 0) fail("Internal assertion failed! Couldn't restore the move sequence.!\n");
  const std::size_t marker = level_start - 1;
  const std::size_t previous_start = marker_value(cubes[marker]);
  if (previous_start > marker)
    fail("Internal assertion failed! Couldn't restore the move sequence.!\n");
  std::size_t i = find_index_in_cache_level(cubes, previous_start, marker, key);
  if (i == marker) fail("Internal assertion failed! Couldn't restore the move sequence.!\n");
  path.push_back(move);
  for (; i < marker && same_cube_state(cubes[i], key); ++i) {
    if (i != 0 && is_forbidden_pair(move, unpack_last_move(cubes[i]), direction)) continue;
    collect_paths(list, path, cubes, previous_start, i, direction);
  }
  path.pop_back();
}

}  // namespace

void find_cache_sequence(sequence_list& list, const PackedCube* cubes, std::size_t level_start,
                         std::size_t index, int direction) {
  std::vector<int> path;
  collect_paths(list, path, cubes, level_start, index, direction);
}

namespace {

// The first index from i on (below end) whose entry is not below the key,
// given that entry i is below it: one step, or a gallop and a bisection.
std::size_t skip_below(const PackedCube* cubes, std::size_t i, std::size_t end,
                       const PackedCube& key, bool gallop) {
  if (!gallop) return i + 1;
  std::size_t step = 1;
  std::size_t lo = i;  // below the key
  while (lo + step < end && cube_state_less(cubes[lo + step], key)) {
    lo += step;
    step *= 2;
  }
  return first_not_below(cubes, lo, lo + step < end ? lo + step : end, key);
}

}  // namespace

std::int64_t find_sequence(const LevelRange& forward, const LevelRange& backward,
                           std::int64_t max_count, const SequenceSink& sink) {
  std::int64_t found = 0;
  std::size_t i = forward.start;
  std::size_t j = backward.start;
  // Gallop through the side that is much larger; step through the other.
  const std::size_t forward_size = forward.end - forward.start;
  const std::size_t backward_size = backward.end - backward.start;
  const bool forward_gallops = forward_size / 4 > backward_size;
  const bool backward_gallops = backward_size / 4 > forward_size;
  std::vector<int> joined;
  sequence_list sf;
  sequence_list sb;
  while (i < forward.end && j < backward.end) {
    const int c = compare_packed_cubes_only_cube_state(forward.cubes[i], backward.cubes[j]);
    if (c < 0) {
      i = skip_below(forward.cubes, i, forward.end, backward.cubes[j], forward_gallops);
      continue;
    }
    if (c > 0) {
      j = skip_below(backward.cubes, j, backward.end, forward.cubes[i], backward_gallops);
      continue;
    }
    std::size_t i_end = i + 1;
    while (i_end < forward.end && same_cube_state(forward.cubes[i_end], forward.cubes[i])) ++i_end;
    std::size_t j_end = j + 1;
    while (j_end < backward.end && same_cube_state(backward.cubes[j_end], backward.cubes[j]))
      ++j_end;
    for (std::size_t a = i; a < i_end; ++a) {
      for (std::size_t b = j; b < j_end; ++b) {
        // The two moves that meet in the middle are known without
        // rebuilding anything: a forbidden pair there drops every join.
        if (a != 0 && b != 0 &&
            is_forbidden_pair(reverse_rotation(unpack_last_move(backward.cubes[b])),
                              unpack_last_move(forward.cubes[a]), kForward))
          continue;
        sf = {};
        sb = {};
        find_cache_sequence(sf, forward.cubes, forward.start, a, kForward);
        find_cache_sequence(sb, backward.cubes, backward.start, b, kBackward);
        for (std::size_t k = 0; k < sf.count; ++k) {
          const auto fp = sf.path(k);
          for (std::size_t n = 0; n < sb.count; ++n) {
            const auto bp = sb.path(n);
            joined.assign(fp.begin(), fp.end());
            for (std::size_t t = bp.size(); t-- > 0;) joined.push_back(reverse_rotation(bp[t]));
            if (is_forbidden_sequence(joined, kForward)) continue;
            ++found;
            const bool go_on = sink(joined);
            if (found >= max_count || !go_on) return found;
          }
        }
      }
    }
    i = i_end;
    j = j_end;
  }
  return found;
}

std::string sequence_text(std::span<const int> moves) {
  std::string s;
  for (int m : moves) {
    s += all_rotations_s[static_cast<std::size_t>(m)];
    s += ' ';
  }
  return s;
}

}  // namespace tessel
