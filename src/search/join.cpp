#include "search/join.h"

#include <algorithm>
#include <atomic>
#include <functional>

#include "core/failure.h"
#include "core/parallel.h"
#include "cube/moves.h"
#include "search/legal_moves.h"

namespace tessel {

void sequence_list::add_reverse_sequence(std::span<const int> reversed, std::size_t root) {
  const int n = static_cast<int>(reversed.size());
  if (count == 0) length = n;
  if (n != length)
    fail(
        "ERROR. Bug found. Internal assertion failed! Found sequences of different length on the "
        "same level.!\n");
  for (std::size_t i = reversed.size(); i-- > 0;) moves.push_back(reversed[i]);
  roots.push_back(root);
  ++count;
}

namespace {
thread_local SequenceRoots sequence_roots;
thread_local SequenceMeeting sequence_meeting;
}  // namespace

SequenceRoots roots_of_sequence() { return sequence_roots; }
SequenceMeeting meeting_of_sequence() { return sequence_meeting; }

bool hand_on(const SequenceSink& sink, std::span<const int> moves, SequenceRoots roots) {
  sequence_roots = roots;
  return sink(moves);
}

LevelRange share_of_level(const LevelRange& level, const KeyShare& share) {
  if (share.lo == 0 && share.to_end) return level;
  const auto below = [](const PackedCube& c, std::uint64_t key) { return c.hi < key; };
  const PackedCube* const first = level.cubes + level.start;
  const PackedCube* const last = level.cubes + level.end;
  const PackedCube* lo = std::lower_bound(first, last, share.lo, below);
  const PackedCube* hi = share.to_end ? last : std::lower_bound(lo, last, share.hi, below);
  LevelRange part = level;
  if (level.parents == nullptr) {
    if (level.is_root(level.start)) {
      // A slice of level 0 is still level 0.
      part.level_zero = true;
    } else {
      // A slice of a stored level: its parents are the level before the
      // level's marker.
      const std::size_t marker = level.start - 1;
      part.parents = level.cubes;
      part.parent_start = marker_value(level.cubes[marker]);
      part.parent_end = marker;
    }
  }
  part.start = static_cast<std::size_t>(lo - level.cubes);
  part.end = static_cast<std::size_t>(hi - level.cubes);
  return part;
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

void collect_paths(sequence_list& list, std::vector<int>& path, const PackedCube* cubes,
                   std::size_t level_start, std::size_t index, int direction);

[[noreturn]] void lost_parent() {
  fail("Internal assertion failed! Couldn't restore the move sequence.!\n");
}

// Collects the paths through `entry`, whose parents lie in the level
// [parent_start, parent_end) of `cubes`. Paths that break the pruning rule
// inside one side are not collected: a joined sequence containing one would
// be dropped anyway. The roots (level 0, which starts at index 0) are
// exempt: the first move of a path may be any move.
//
// With `lower`, the parents are held apart: their own parents are the level
// [lower_start, lower_end) of the cache `lower`.
void collect_paths_from(sequence_list& list, std::vector<int>& path, const PackedCube& entry,
                        const PackedCube* cubes, std::size_t parent_start, std::size_t parent_end,
                        int direction, const PackedCube* lower = nullptr,
                        std::size_t lower_start = 0, std::size_t lower_end = 0) {
  Cube cube;
  int move = 0;
  unpack_ce(cube, move, entry);
  if (move < 0 || move >= kMoveCount) lost_parent();
  const PackedCube key = pack_ce(apply_move(reverse_rotation(move), cube), 0);
  std::size_t i = find_index_in_cache_level(cubes, parent_start, parent_end, key);
  if (i == parent_end) lost_parent();
  path.push_back(move);
  // Parents held apart are never roots, wherever they start.
  const bool parents_are_roots = lower == nullptr && parent_start == 0;
  for (; i < parent_end && same_cube_state(cubes[i], key); ++i) {
    if (!parents_are_roots && is_forbidden_pair(move, unpack_last_move(cubes[i]), direction))
      continue;
    if (lower != nullptr)
      collect_paths_from(list, path, cubes[i], lower, lower_start, lower_end, direction);
    else
      collect_paths(list, path, cubes, parent_start, i, direction);
  }
  path.pop_back();
}

void collect_paths(sequence_list& list, std::vector<int>& path, const PackedCube* cubes,
                   std::size_t level_start, std::size_t index, int direction) {
  // Level 0 holds the roots, one entry each.
  if (level_start == 0) {
    list.add_reverse_sequence(path, index);
    return;
  }
  const std::size_t marker = level_start - 1;
  const std::size_t previous_start = marker_value(cubes[marker]);
  if (previous_start > marker) lost_parent();
  collect_paths_from(list, path, cubes[index], cubes, previous_start, marker, direction);
}

}  // namespace

void find_cache_sequence(sequence_list& list, std::vector<int>& path, const PackedCube* cubes,
                         std::size_t level_start, std::size_t index, int direction) {
  path.clear();
  collect_paths(list, path, cubes, level_start, index, direction);
}

void find_level_sequence(sequence_list& list, std::vector<int>& path, const LevelRange& level,
                         std::size_t index, int direction) {
  if (level.parents == nullptr) {
    find_cache_sequence(list, path, level.cubes, level.level_zero ? 0 : level.start, index,
                        direction);
    return;
  }
  path.clear();
  collect_paths_from(list, path, level.cubes[index], level.parents, level.parent_start,
                     level.parent_end, direction, level.lower, level.lower_start, level.lower_end);
}

void find_cache_sequence(sequence_list& list, const PackedCube* cubes, std::size_t level_start,
                         std::size_t index, int direction) {
  std::vector<int> path;
  find_cache_sequence(list, path, cubes, level_start, index, direction);
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

namespace {

// A position both levels hold: forward entries [i, i_end), backward
// entries [j, j_end).
struct Meeting {
  std::size_t i, i_end, j, j_end;
};

// Two level ranges walked in step, each up to its own end.
struct JoinWalk {
  const PackedCube* forward;
  const PackedCube* backward;
  std::size_t i, i_limit, j, j_limit;
  bool forward_gallops, backward_gallops;

  // Calls meet(Meeting) for every position both ranges hold, in order,
  // until meet returns false; then i and j stand just after that meeting.
  // Also gives up, somewhere, once `stop` is set.
  template <typename Meet>
  void run(Meet&& meet, const std::atomic<bool>* stop = nullptr) {
    // The walk keeps its place in locals, which stay in registers.
    std::size_t at_i = i, at_j = j;
    const std::size_t end_i = i_limit, end_j = j_limit;
    const PackedCube* const f = forward;
    const PackedCube* const b = backward;
    const bool f_gallops = forward_gallops, b_gallops = backward_gallops;
    for (unsigned steps = 0; at_i < end_i && at_j < end_j;) {
      if (stop != nullptr && (++steps & 4095) == 0 && stop->load(std::memory_order_relaxed)) break;
      const int c = compare_packed_cubes_only_cube_state(f[at_i], b[at_j]);
      if (c < 0) {
        at_i = skip_below(f, at_i, end_i, b[at_j], f_gallops);
        continue;
      }
      if (c > 0) {
        at_j = skip_below(b, at_j, end_j, f[at_i], b_gallops);
        continue;
      }
      Meeting m{at_i, at_i + 1, at_j, at_j + 1};
      while (m.i_end < end_i && same_cube_state(f[m.i_end], f[at_i])) ++m.i_end;
      while (m.j_end < end_j && same_cube_state(b[m.j_end], b[at_j])) ++m.j_end;
      at_i = m.i_end;
      at_j = m.j_end;
      if (!meet(m)) break;
    }
    i = at_i;
    j = at_j;
  }
};

// Rebuilds and hands on the sequences through one meeting. Returns false
// when the sink wants no more or max_count is reached.
//
// The paths of an entry are rebuilt when the first pair of entries that
// needs them comes up, and only once per meeting: forward entry a for its
// run of backward entries, each backward entry for every forward entry.
// The lists and the scratch room live as long as the joiner, so after the
// first few meetings no pair of entries allocates.
class SequenceJoiner {
 public:
  SequenceJoiner(const LevelRange& forward, const LevelRange& backward, std::int64_t max_count,
                 const SequenceSink& sink)
      : forward_(forward), backward_(backward), max_count_(max_count), sink_(sink) {}

  std::int64_t found() const { return found_; }

  bool operator()(const Meeting& m) {
    const std::size_t backward_entries = m.j_end - m.j;
    if (sb_.size() < backward_entries) sb_.resize(backward_entries);
    sb_built_.assign(backward_entries, 0);
    for (std::size_t a = m.i; a < m.i_end; ++a) {
      bool sf_built = false;
      for (std::size_t b = m.j; b < m.j_end; ++b) {
        // The two moves that meet in the middle are known without
        // rebuilding anything: a forbidden pair there drops every join.
        if (!forward_.is_root(a) && !backward_.is_root(b) &&
            is_forbidden_pair(reverse_rotation(unpack_last_move(backward_.cubes[b])),
                              unpack_last_move(forward_.cubes[a]), kForward))
          continue;
        if (!sf_built) {
          sequence_meeting = {forward_.cubes[a], a - m.i};
          sf_.clear();
          find_level_sequence(sf_, path_, forward_, a, kForward);
          sf_built = true;
        }
        sequence_list& sb = sb_[b - m.j];
        if (sb_built_[b - m.j] == 0) {
          sb.clear();
          find_level_sequence(sb, path_, backward_, b, kBackward);
          sb_built_[b - m.j] = 1;
        }
        if (!join_paths(sb)) return false;
      }
    }
    return true;
  }

 private:
  // Every forward path of sf_ followed by every backward path of sb,
  // reversed and inverted, forward path major.
  bool join_paths(const sequence_list& sb) {
    if (sf_.count == 0 || sb.count == 0) return true;
    const auto forward_length = static_cast<std::size_t>(sf_.length);
    const auto backward_length = static_cast<std::size_t>(sb.length);
    joined_.resize(forward_length + backward_length);
    int* const back_half = joined_.data() + forward_length;
    for (std::size_t k = 0; k < sf_.count; ++k) {
      const auto fp = sf_.path(k);
      std::copy(fp.begin(), fp.end(), joined_.begin());
      for (std::size_t n = 0; n < sb.count; ++n) {
        const int* const bp = sb.path(n).data();
        for (std::size_t t = 0; t < backward_length; ++t)
          back_half[t] = reverse_rotation(bp[backward_length - 1 - t]);
        if (is_forbidden_sequence(joined_, kForward)) continue;
        ++found_;
        sequence_roots = {sf_.root(k), sb.root(n)};
        const bool go_on = sink_(joined_);
        if (found_ >= max_count_ || !go_on) return false;
      }
    }
    return true;
  }

  const LevelRange& forward_;
  const LevelRange& backward_;
  std::int64_t max_count_;
  const SequenceSink& sink_;
  std::int64_t found_ = 0;
  // The paths of the forward entry at hand, and of each backward entry of
  // the meeting (by offset from its first), with whether they are built.
  sequence_list sf_;
  std::vector<sequence_list> sb_;
  std::vector<unsigned char> sb_built_;
  std::vector<int> path_;    // scratch of find_cache_sequence
  std::vector<int> joined_;  // the sequence handed to the sink
};

// Joins of levels with fewer entries than this together run on one thread.
constexpr std::size_t kPartedJoin = std::size_t{1} << 18;

std::size_t lower_bound_state(const PackedCube* cubes, std::size_t lo, std::size_t hi,
                              const PackedCube& key) {
  return static_cast<std::size_t>(std::lower_bound(cubes + lo, cubes + hi, key, cube_state_less) -
                                  cubes);
}

}  // namespace

// Large joins look for meetings in parts at once: the positions are cut at
// a few keys, and every part walks its slice of both levels. The first part
// hands its sequences on as it goes; the others note their first meetings,
// whose sequences are then rebuilt and handed on in order on the calling
// thread, which also walks whatever a part left over.
std::int64_t find_sequence(const LevelRange& forward, const LevelRange& backward,
                           std::int64_t max_count, const SequenceSink& sink,
                           std::size_t meetings_per_part) {
  // Gallop through the side that is much larger; step through the other.
  const std::size_t forward_size = forward.end - forward.start;
  const std::size_t backward_size = backward.end - backward.start;
  const bool forward_gallops = forward_size / 4 > backward_size;
  const bool backward_gallops = backward_size / 4 > forward_size;
  SequenceJoiner joiner(forward, backward, max_count, sink);
  const unsigned parts = forward_size + backward_size < kPartedJoin ? 1u : work_threads();
  if (parts == 1 || max_count <= 0 || meetings_per_part == 0) {
    JoinWalk walk{forward.cubes,  backward.cubes, forward.start,   forward.end,
                  backward.start, backward.end,   forward_gallops, backward_gallops};
    walk.run(std::ref(joiner));
    return joiner.found();
  }

  // Part p covers the positions from the key at cut p of the larger level
  // up to the next cut.
  const LevelRange& larger = forward_size >= backward_size ? forward : backward;
  const std::vector<std::size_t> cuts = cut_evenly(larger.start, larger.end, parts);
  std::vector<JoinWalk> walks;
  std::size_t i = forward.start, j = backward.start;
  for (unsigned p = 0; p < parts; ++p) {
    std::size_t i_limit = forward.end, j_limit = backward.end;
    if (p + 1 < parts) {
      const PackedCube key = larger.cubes[cuts[p + 1]];
      i_limit = lower_bound_state(forward.cubes, i, forward.end, key);
      j_limit = lower_bound_state(backward.cubes, j, backward.end, key);
    }
    walks.push_back(
        {forward.cubes, backward.cubes, i, i_limit, j, j_limit, forward_gallops, backward_gallops});
    i = i_limit;
    j = j_limit;
  }
  // Part 0 runs on the calling thread and hands its sequences on at once;
  // once it has ended the join, the other parts give up.
  std::vector<std::vector<Meeting>> meetings(parts);
  for (unsigned p = 1; p < parts; ++p) meetings[p].reserve(meetings_per_part);
  std::atomic<bool> stop{false};
  bool go_on = true;
  run_parts(parts, [&](unsigned p) {
    if (p == 0) {
      try {
        walks[0].run([&joiner, &go_on](const Meeting& m) { return go_on = joiner(m); });
      } catch (...) {
        stop.store(true, std::memory_order_relaxed);
        throw;
      }
      if (!go_on) stop.store(true, std::memory_order_relaxed);
      return;
    }
    auto& noted = meetings[p];
    walks[p].run(
        [&noted, meetings_per_part](const Meeting& m) {
          noted.push_back(m);
          return noted.size() < meetings_per_part;
        },
        &stop);
  });
  if (!go_on) return joiner.found();
  for (unsigned p = 1; p < parts; ++p) {
    for (const Meeting& m : meetings[p])
      if (!joiner(m)) return joiner.found();
    walks[p].run([&joiner, &go_on](const Meeting& m) { return go_on = joiner(m); });
    if (!go_on) break;
  }
  return joiner.found();
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
