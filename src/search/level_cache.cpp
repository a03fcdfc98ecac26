#include "search/level_cache.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "core/parallel.h"
#include "core/ranks.h"
#include "cube/moves.h"
#include "search/child_kernels.h"
#include "search/legal_moves.h"
#include "search/packed_moves.h"
#include "search/radix_sort.h"

namespace tessel {

namespace {

// Copies [from, from + n), sorted in cube-state order, to `to`, keeping in
// every run of one position only the first entry of each last move; returns
// the number kept. `to` may be `from` or lie before it. Checks the order on
// the way: `index` is where from[0] stands in the cache, for the report.
std::size_t copy_first_per_move(const PackedCube* from, std::size_t n, PackedCube* to,
                                std::size_t index) {
  std::size_t out = 0;
  std::size_t i = 0;
  while (i < n) {
    std::uint64_t seen = 0;
    const PackedCube head = from[i];
    for (; i < n && same_cube_state(from[i], head); ++i) {
      const std::uint64_t bit = std::uint64_t{1} << (unpack_last_move(from[i]) & 63);
      if (seen & bit) continue;
      seen |= bit;
      to[out++] = from[i];
    }
    if (i < n && !cube_state_less(head, from[i]))
      fail("ERROR: Bug found,SORTING FAILURE at i = " + std::to_string(index + i - 1) + "\n");
  }
  return out;
}

}  // namespace

std::size_t remove_duplicates(PackedCube* cubes, std::size_t begin, std::size_t end) {
  if (end <= begin) return begin;
  return begin + copy_first_per_move(cubes + begin, end - begin, cubes + begin, begin);
}

bool is_sorted_by_cube_state(const PackedCube* cubes, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i + 1 < end; ++i)
    if (cube_state_less(cubes[i + 1], cubes[i])) return false;
  return true;
}

namespace {

// Moves each parent may be expanded by: the distinct legal moves in list
// order, less those the pruning rule forbids after the parent's last move.
struct MoveChoice {
  std::array<std::array<std::uint8_t, kMoveCount>, kMoveCount> after{};
  std::array<std::uint8_t, kMoveCount> count_after{};
  std::array<std::uint8_t, kMoveCount> root{};
  std::uint8_t root_count = 0;
  // Moves known never to leave a cube of this search unchanged.
  std::array<bool, kMoveCount> never_unchanged{};
  // Entries below this index are roots: level 0, when it is the level
  // expanded (else 0).
  std::size_t roots_end = 0;
  // Whether no legal move can leave a cube of this search unchanged: then
  // every move a parent is expanded by gives a child.
  bool every_move_changes = true;
  // Makes a parent's children; `portable` when that is the portable kernel
  // (which has cheaper routines of its own for parts of a child).
  ExpandFn expand = nullptr;
  bool portable = true;
  bool relabels = false;  // some legal move relabels colours

  // The moves entry i (a root: every legal move), reached by `previous`, is
  // expanded by.
  std::pair<const std::uint8_t*, unsigned> moves_for(std::size_t i, int previous) const {
    if (i < roots_end) return {root.data(), root_count};
    const auto p = static_cast<std::size_t>(previous < kMoveCount ? previous : 0);
    return {after[p].data(), count_after[p]};
  }

  // `roots_end`: the end of level 0 when level 0 is expanded, else 0.
  MoveChoice(const LegalMoves& legal, int direction, bool distinct_pieces, std::size_t roots)
      : roots_end(roots), portable(child_kernel() == ChildKernel::portable) {
    for (std::size_t m = 0; m < kMoveCount; ++m)
      never_unchanged[m] = distinct_pieces && !packed_moves[m].relabels;
    std::uint64_t seen = 0;
    for (int m : legal.moves()) {
      const std::uint64_t bit = std::uint64_t{1} << m;
      if (seen & bit) continue;
      seen |= bit;
      root[root_count++] = static_cast<std::uint8_t>(m);
      if (!never_unchanged[static_cast<std::size_t>(m)]) every_move_changes = false;
      if (packed_moves[static_cast<std::size_t>(m)].relabels) relabels = true;
      for (int p = 0; p < kMoveCount; ++p)
        if (!is_forbidden_pair(m, p, direction))
          after[static_cast<std::size_t>(p)][count_after[static_cast<std::size_t>(p)]++] =
              static_cast<std::uint8_t>(m);
    }
    expand = expand_function(child_kernel(), relabels);
  }
};

// Whether every piece of the cube is a real piece and no two pieces are
// alike. Then no face turn can leave the cube (or any cube reached from it)
// unchanged: that would need four alike pieces in one turning layer.
bool pieces_all_distinct(const Cube& cube) {
  // A piece as the set of its colours, one bit per colour.
  const auto colours = [&cube](const auto& stickers) {
    unsigned set = 0;
    for (int s : stickers) set |= 1u << (cube[s] & 7u);
    return set;
  };
  const Cube solved = full_cube();
  const auto solved_colours = [&solved](const auto& stickers) {
    unsigned set = 0;
    for (int s : stickers) set |= 1u << solved[s];
    return set;
  };
  std::uint64_t wanted = 0, found = 0;
  for (std::size_t k = 0; k < edge_pieces.size(); ++k) {
    for (std::size_t j = 0; j < edge_pieces.size(); ++j)
      if (colours(edge_pieces[k]) == solved_colours(edge_pieces[j])) found |= std::uint64_t{1} << j;
    wanted |= std::uint64_t{1} << k;
  }
  for (std::size_t k = 0; k < corner_pieces.size(); ++k) {
    for (std::size_t j = 0; j < corner_pieces.size(); ++j)
      if (colours(corner_pieces[k]) == solved_colours(corner_pieces[j]))
        found |= std::uint64_t{1} << (12 + j);
    wanted |= std::uint64_t{1} << (12 + k);
  }
  return found == wanted;
}

// The children of parent i in legal-list order (the kernel's), less those
// of moves that change nothing (a child equal to its parent in cube-state
// order is the same cube) and, unless kWhole, those outside `share`, into
// `children`; returns their number.
template <bool kWhole = true>
unsigned children_of(const PackedCube* cubes, std::size_t i, const MoveChoice& choice,
                     PackedCube* children, const KeyShare& share = {}) {
  const PackedCube packed = cubes[i];
  const auto [moves, count] = choice.moves_for(i, unpack_last_move(packed));
  choice.expand(packed, moves, count, children);
  if (choice.every_move_changes && kWhole) return count;
  unsigned n = 0;
  for (unsigned j = 0; j < count; ++j) {
    if (!choice.never_unchanged[moves[j]] && same_cube_state(children[j], packed)) continue;
    if constexpr (!kWhole) {
      if (!share.holds(children[j])) continue;
    }
    children[n++] = children[j];
  }
  return n;
}

// Calls brood(children, n) for every parent of [start, end) in order, with
// its children as children_of gives them.
template <typename Brood>
void for_each_brood(const PackedCube* cubes, std::size_t start, std::size_t end,
                    const MoveChoice& choice, Brood&& brood) {
  std::array<PackedCube, kMoveCount> children;
  for (std::size_t i = start; i < end; ++i)
    brood(children.data(), children_of(cubes, i, choice, children.data()));
}

// Calls sink(child) for every child of [start, end), in generation order:
// parent index, then legal-list position. Moves that change nothing are
// skipped: a child equal to its parent in cube-state order is the same cube.
// With kTopOnly the sink gets only the child's high word, exact in its top
// bits, computed from a few fields where no check for an unchanged cube is
// needed.
template <bool kTopOnly, typename Sink>
void for_each_child(const PackedCube* cubes, std::size_t start, std::size_t end,
                    const MoveChoice& choice, Sink&& sink) {
  if (!choice.portable) {
    for_each_brood(cubes, start, end, choice, [&sink](const PackedCube* children, unsigned n) {
      for (unsigned k = 0; k < n; ++k) {
        if constexpr (kTopOnly)
          sink(children[k].hi);
        else
          sink(children[k]);
      }
    });
    return;
  }
  Cube parent;
  for (std::size_t i = start; i < end; ++i) {
    const PackedCube packed = cubes[i];
    int previous = 0;
    unpack_ce(parent, previous, packed);
    const auto [moves, count] = choice.moves_for(i, previous);
    for (unsigned j = 0; j < count; ++j) {
      const int m = moves[j];
      const auto mi = static_cast<std::size_t>(m);
      if constexpr (kTopOnly) {
        if (choice.never_unchanged[mi]) {
          sink(packed_child_top_functions[mi](parent, packed));
          continue;
        }
      }
      const PackedCube child = packed_child_functions[mi](parent, packed);
      if (!choice.never_unchanged[mi] && same_cube_state(child, packed)) continue;
      if constexpr (kTopOnly)
        sink(child.hi);
      else
        sink(child);
    }
  }
}

// Calls sink(child) for the children of [start, end) whose top bits (the
// high word shifted right by `shift`) lie in [first, last), in generation
// order. The top bits are computed first where they can be, so children of
// other buckets cost little more than in the counting pass.
template <typename Sink>
void for_each_child_in_buckets(const PackedCube* cubes, std::size_t start, std::size_t end,
                               const MoveChoice& choice, int shift, std::uint64_t first,
                               std::uint64_t last, Sink&& sink) {
  const std::uint64_t width = last - first;
  if (!choice.portable) {
    for_each_brood(cubes, start, end, choice,
                   [&sink, shift, first, width](const PackedCube* children, unsigned n) {
                     for (unsigned k = 0; k < n; ++k)
                       if ((children[k].hi >> shift) - first < width) sink(children[k]);
                   });
    return;
  }
  Cube parent;
  for (std::size_t i = start; i < end; ++i) {
    const PackedCube packed = cubes[i];
    int previous = 0;
    unpack_ce(parent, previous, packed);
    const auto [moves, count] = choice.moves_for(i, previous);
    for (unsigned j = 0; j < count; ++j) {
      const auto mi = static_cast<std::size_t>(moves[j]);
      if (choice.never_unchanged[mi]) {
        const std::uint64_t top = packed_child_top_functions[mi](parent, packed) >> shift;
        if (top - first >= width) continue;
        sink(packed_child_functions[mi](parent, packed));
        continue;
      }
      const PackedCube child = packed_child_functions[mi](parent, packed);
      if (same_cube_state(child, packed)) continue;
      if ((child.hi >> shift) - first >= width) continue;
      sink(child);
    }
  }
}

// Children are distributed by the top bits of the packed value (the high
// bits of the cube-state order) into buckets laid out in bucket order:
// 16 bits for large levels, 8 for small ones (where clearing 65536
// counters would cost more than the level). A level of 2^26 possible
// children or more that is written whole takes 14: its children go to a
// quarter as many places at once, which the TLB holds better, and its
// buckets (thousands of entries) are still sorted in cache. Level 7 of the
// full cube: 1.56 -> 1.40 s (13 bits: 1.43 s); levels of 10^7 children are
// faster with 16 (J14 0.1 s slower with 14). Range-built levels always
// take 16, the buckets their joins are cut by.
constexpr int kLargeBucketBits = 16;
constexpr int kWideBucketBits = 14;
constexpr std::size_t kWideBucketChildren = std::size_t{1} << 26;
std::atomic<std::size_t> wide_bucket_children{kWideBucketChildren};
// Levels written whole with at least this many children are built in key
// shares when the search runs on several ranks (build_in_shares).
constexpr std::size_t kSharedLevelChildren = std::size_t{1} << 22;
std::atomic<std::size_t> shared_level_children{kSharedLevelChildren};
// Levels no other level grows from are left range-built from this many
// children on, even where they fit.
std::atomic<std::uint64_t> planned_level_children{kLeastPlannedChildren};
constexpr int kSmallBucketBits = 8;

// Levels with fewer possible children than this are built on one thread:
// starting threads would cost more than it saves.
constexpr std::size_t kPartedChildren = std::size_t{1} << 18;

// How one new level is cut up: into parts that may run at once, each
// expanding its own slice of the parents, and into buckets by the top bits
// of the children. All memory the parts use is allocated here or between
// the steps, never inside a part: a thread's first allocation would set up
// a memory arena of its own, which costs address space.
struct LevelPlan {
  int bucket_bits;
  std::size_t buckets;
  int bucket_shift;  // a child's bucket is its high word shifted right by this
  unsigned parts;
  // Part p expands the parents [parents[p], parents[p + 1]).
  std::vector<std::size_t> parents;
  // Per part and bucket: the children counted, then where the next one goes.
  std::vector<std::vector<std::uint64_t>> next;
  // Bucket b spans [bucket[b], bucket[b + 1]) of the new level.
  std::vector<std::uint64_t> bucket;

  // `written`: the level will be written whole if it has as many children
  // as its parents may have (else it may be range-built).
  LevelPlan(std::size_t start, std::size_t end, unsigned moves_per_parent,
            bool large_buckets = false, bool written = false) {
    const std::size_t most_children = (end - start) * moves_per_parent;
    bucket_bits = large_buckets                                             ? kLargeBucketBits
                  : most_children < (std::size_t{1} << 16)                  ? kSmallBucketBits
                  : most_children < wide_bucket_children.load() || !written ? kLargeBucketBits
                                                                            : kWideBucketBits;
    buckets = std::size_t{1} << bucket_bits;
    bucket_shift = 64 - bucket_bits;
    parts = most_children < kPartedChildren ? 1u : work_threads();
    parents = cut_evenly(start, end, parts);
    next.assign(parts, std::vector<std::uint64_t>(buckets, 0));
  }
};

// Count: every part counts the children of its parents in every bucket.
void count_children(LevelPlan& plan, const PackedCube* cubes, const MoveChoice& choice) {
  const int bucket_shift = plan.bucket_shift;
  run_parts(plan.parts, [&](unsigned p) {
    std::uint64_t* const count = plan.next[p].data();
    for_each_child<true>(cubes, plan.parents[p], plan.parents[p + 1], choice,
                         [count, bucket_shift](std::uint64_t hi) { ++count[hi >> bucket_shift]; });
  });
}

// The moves the parents are expanded by, all parts: the number of children
// when every move changes the cube.
std::uint64_t count_moves(const LevelPlan& plan, const PackedCube* cubes,
                          const MoveChoice& choice) {
  std::vector<std::uint64_t> moves(plan.parts, 0);
  run_parts(plan.parts, [&](unsigned p) {
    std::uint64_t n = 0;
    for (std::size_t i = plan.parents[p]; i < plan.parents[p + 1]; ++i)
      n += choice.moves_for(i, unpack_last_move(cubes[i])).second;
    moves[p] = n;
  });
  std::uint64_t total = 0;
  for (std::uint64_t n : moves) total += n;
  return total;
}

// Place: lays the buckets out one after another and, within each bucket,
// the parts one after another, so every bucket holds its children in
// generation order whatever the number of parts. Turns the counts into the
// places where each part writes; returns the number of children.
std::size_t place_children(LevelPlan& plan) {
  plan.bucket.assign(plan.buckets + 1, 0);
  for (std::size_t b = 0; b < plan.buckets; ++b) {
    std::uint64_t at = plan.bucket[b];
    for (unsigned p = 0; p < plan.parts; ++p) {
      const std::uint64_t n = plan.next[p][b];
      plan.next[p][b] = at;
      at += n;
    }
    plan.bucket[b + 1] = at;
  }
  return plan.bucket[plan.buckets];
}

// Allocates the new level [base, base + total) and the marker slot after
// it, and faults its pages in, each part its own share.
void make_room(growing_cache& cache, std::size_t base, std::size_t total, unsigned parts) {
  cache.reserve(base + total + 1);
  cache.add_generated(total);
  const std::vector<std::size_t> pages = cut_evenly(base, base + total, parts);
  run_parts(parts, [&](unsigned p) { cache.prefault(pages[p], pages[p + 1]); });
}

// Write: every part writes its children into their places in `level`,
// or only those of buckets [lo, hi). The write places are used up
// afterwards.
void write_children(LevelPlan& plan, const PackedCube* cubes, const MoveChoice& choice,
                    PackedCube* level, std::size_t lo = 0,
                    std::size_t hi = std::numeric_limits<std::size_t>::max()) {
  const int bucket_shift = plan.bucket_shift;
  const bool all = lo == 0 && hi >= plan.buckets;
  run_parts(plan.parts, [&](unsigned p) {
    std::uint64_t* const at = plan.next[p].data();
    if (all) {
      for_each_child<false>(cubes, plan.parents[p], plan.parents[p + 1], choice,
                            [at, level, bucket_shift](const PackedCube& c) {
                              level[at[c.hi >> bucket_shift]++] = c;
                            });
    } else {
      for_each_child<false>(cubes, plan.parents[p], plan.parents[p + 1], choice,
                            [at, level, bucket_shift, lo, hi](const PackedCube& c) {
                              const std::size_t b = c.hi >> bucket_shift;
                              if (b >= lo && b < hi) level[at[b]++] = c;
                            });
    }
  });
  plan.next = {};
}

// Sort and compact: every part takes a run of whole buckets, about an equal
// share of the children, sorts each bucket and keeps the first entry per
// last move in every run of one position, compacting its buckets towards
// the start of its run; the runs are then closed up. `base` is where the
// level stands in the cache, for the report of a sorting failure. Returns
// the number of entries kept.
std::size_t sort_and_compact(unsigned parts, const std::vector<std::uint64_t>& bucket,
                             int bucket_bits, PackedCube* level, std::size_t base) {
  const std::size_t buckets = bucket.size() - 1;
  const std::vector<std::size_t> shares = cut_evenly(0, bucket[buckets], parts);
  std::vector<std::size_t> first_bucket(parts + 1, buckets);
  first_bucket[0] = 0;
  for (unsigned p = 1, b = 0; p < parts; ++p) {
    while (b < buckets && bucket[b] < shares[p]) ++b;
    first_bucket[p] = b;
  }
  std::vector<std::size_t> kept(parts, 0);
  std::vector<std::vector<PackedCube>> scratches(parts);
  for (unsigned p = 0; p < parts; ++p) {
    std::size_t largest = 0;
    for (std::size_t b = first_bucket[p]; b < first_bucket[p + 1]; ++b)
      largest = std::max<std::size_t>(largest, bucket[b + 1] - bucket[b]);
    scratches[p].resize(sort_scratch_size(largest));
  }
  const int top = 128 - bucket_bits;  // the children of a bucket agree above this bit
  run_parts(parts, [&](unsigned p) {
    PackedCube* const scratch = scratches[p].data();
    const std::size_t from = bucket[first_bucket[p]];
    std::size_t out = from;
    for (std::size_t b = first_bucket[p]; b < first_bucket[p + 1]; ++b) {
      const std::size_t first = bucket[b], last = bucket[b + 1];
      if (first == last) continue;
      const PackedCube* sorted = sort_bucket(level + first, last - first, top, scratch);
      out += copy_first_per_move(sorted, last - first, level + out, base + first);
    }
    kept[p] = out - from;
  });
  std::size_t out = kept[0];
  for (unsigned p = 1; p < parts; ++p) {
    const std::size_t from = bucket[first_bucket[p]];
    if (out != from && kept[p] != 0)
      std::memmove(static_cast<void*>(level + out), level + from, kept[p] * sizeof(PackedCube));
    out += kept[p];
  }
  return out;
}

// Writes, sorts and compacts only buckets [lo, hi) of the level planned,
// from level[0] on (their write places moved down to start there).
// Returns the number of entries kept.
std::size_t build_run(LevelPlan& plan, const PackedCube* cubes, const MoveChoice& choice,
                      PackedCube* level, std::size_t base, std::size_t lo, std::size_t hi) {
  const std::uint64_t from = plan.bucket[lo];
  std::vector<std::uint64_t> run(plan.bucket.begin() + static_cast<std::ptrdiff_t>(lo),
                                 plan.bucket.begin() + static_cast<std::ptrdiff_t>(hi) + 1);
  for (std::uint64_t& at : run) at -= from;
  for (auto& next : plan.next)
    for (std::size_t b = lo; b < hi; ++b) next[b] -= from;
  write_children(plan, cubes, choice, level, lo, hi);
  return sort_and_compact(plan.parts, run, plan.bucket_bits, level, base);
}

// The runs of whole buckets of a level built in shares on `size` ranks:
// rank r's is [first[r], first[r + 1]), cut where the counts give the
// ranks about as many children each (with `beside`, as many children and
// entries of that level together). The counts, and so the cuts, are the
// same on every rank.
std::vector<std::size_t> runs_of_ranks(const LevelPlan& plan, std::size_t size,
                                       const HeldBeside* beside = nullptr) {
  // Children and entries beside in the buckets below b.
  const auto below = [&plan, beside](std::size_t b) -> std::uint64_t {
    std::uint64_t n = plan.bucket[b];
    if (beside != nullptr) {
      const PackedCube* const first = beside->cubes + beside->start;
      const PackedCube* const last = beside->cubes + beside->end;
      if (b >= plan.buckets)
        n += static_cast<std::uint64_t>(last - first);
      else
        n += static_cast<std::uint64_t>(
            std::lower_bound(first, last, static_cast<std::uint64_t>(b) << plan.bucket_shift,
                             [](const PackedCube& c, std::uint64_t key) { return c.hi < key; }) -
            first);
    }
    return n;
  };
  const std::uint64_t total = below(plan.buckets);
  std::vector<std::size_t> first(size + 1, plan.buckets);
  first[0] = 0;
  for (std::size_t r = 1, b = 0; r < size; ++r) {
    const std::uint64_t at = total / size * r + total % size * r / size;  // total * r / size
    while (b < plan.buckets && below(b) < at) ++b;
    first[r] = b;
  }
  return first;
}

// The positions of buckets [lo, hi) of `buckets`, as the share of one of
// the ranks whose runs cover them all in order.
KeyShare share_of_run(std::size_t lo, std::size_t hi, std::size_t buckets, int shift) {
  KeyShare share;
  if (lo != 0 && lo == buckets) return {1, 1, false};  // nothing
  share.lo = static_cast<std::uint64_t>(lo) << shift;
  share.to_end = hi == buckets;
  share.hi = share.to_end ? 0 : static_cast<std::uint64_t>(hi) << shift;
  return share;
}

// On several ranks, a level is built in shares: every rank makes all the
// children (the parents are on every rank) but writes, sorts and compacts
// only its run of buckets (runs_of_ranks). The ranks then share what they
// kept, in rank order, which is bucket order: every rank ends with the
// level one process builds. Returns the number of entries.
std::size_t build_in_shares(LevelPlan& plan, const PackedCube* cubes, const MoveChoice& choice,
                            PackedCube* level, std::size_t base, Ranks& ranks) {
  const auto size = static_cast<std::size_t>(ranks.size());
  const auto rank = static_cast<std::size_t>(ranks.rank());
  const std::vector<std::size_t> first = runs_of_ranks(plan, size);
  const std::uint64_t kept =
      build_run(plan, cubes, choice, level, base, first[rank], first[rank + 1]);
  std::string mine(sizeof kept, '\0');
  std::memcpy(mine.data(), &kept, sizeof kept);
  const std::vector<std::string> all = ranks.all_gather(mine);
  std::vector<std::uint64_t> bounds(size + 1, 0);
  for (std::size_t r = 0; r < size; ++r) {
    std::uint64_t n = 0;
    if (r >= all.size() || all[r].size() != sizeof n)
      fail("ERROR: Bug found, a rank's share of a level is missing\n");
    std::memcpy(&n, all[r].data(), sizeof n);
    bounds[r + 1] = bounds[r] + n * sizeof(PackedCube);
  }
  // After the ranks before this one.
  const std::size_t to = bounds[rank] / sizeof(PackedCube);
  if (kept != 0 && to != 0)
    std::memmove(static_cast<void*>(level + to), level, kept * sizeof(PackedCube));
  ranks.share_parts(reinterpret_cast<char*>(level), bounds);
  return bounds[size] / sizeof(PackedCube);
}

}  // namespace

struct range_built_level::Plan {
  std::unique_ptr<const MoveChoice> choice;
  std::unique_ptr<LevelPlan> level;  // counted and placed, never written
};

// The children are counted before they are written, so the level is
// allocated once and every child goes straight to its bucket. A level that
// does not fit in the budget is not written: its plan is handed back, from
// which any run of its buckets can be built later.
new_level generate_or_plan_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                                     int direction, const LegalMoves& legal, bool never_grown,
                                     Ranks* ranks, bool hold_share, bool must_plan,
                                     const HeldBeside* beside) {
  // On several ranks every rank decides alike whether to store the level,
  // as the rank with the least room would (filters sized to each rank's
  // share leave the ranks different room). A level that must be planned
  // is planned by each rank alone: its parents, and so its counts, differ
  // from rank to rank.
  const bool on_ranks = ranks != nullptr && ranks->size() > 1 && !must_plan;
  const auto agreed = [&](bool mine) { return on_ranks ? all_agree(*ranks, mine) : mine; };
  // Level 0 (the level at index 0) holds the roots, which every legal move
  // expands; all roots hold the same pieces.
  auto choice = std::make_unique<const MoveChoice>(
      legal, direction, pieces_all_distinct(unpack_cube(cache.cubes()[0])), start == 0 ? end : 0);
  const std::size_t base = end + 1;
  // The level left range-built, with its plan.
  const auto planned = [&](std::unique_ptr<LevelPlan> plan) -> new_level {
    return {end,
            std::make_unique<range_built_level>(
                std::make_unique<range_built_level::Plan>(
                    range_built_level::Plan{std::move(choice), std::move(plan)}),
                start, end),
            std::nullopt, {}};
  };
  if (never_grown && choice->every_move_changes) {
    // Every child counts, so the moves give the level's size without a
    // counting pass; a large level is left to be built for its joins,
    // which count its children by bucket as they sift them.
    auto plan = std::make_unique<LevelPlan>(start, end, choice->root_count, true);
    const std::uint64_t total = count_moves(*plan, cache.cubes(), *choice);
    if (total >= planned_level_children.load()) {
      plan->bucket.assign(plan->buckets + 1, 0);
      plan->bucket[plan->buckets] = total;
      cache.add_generated(total);
      return planned(std::move(plan));
    }
  }
  const bool written =
      agreed(!never_grown && cache.can_hold(base + (end - start) * choice->root_count + 1));
  auto plan = std::make_unique<LevelPlan>(start, end, choice->root_count, false, written);
  count_children(*plan, cache.cubes(), *choice);
  std::size_t total = place_children(*plan);
  const bool shared = on_ranks && !must_plan && total >= shared_level_children.load();
  // A level held in shares takes each rank only the room of its run.
  std::vector<std::size_t> runs;
  std::size_t room = total;
  if (shared && hold_share) {
    runs = runs_of_ranks(*plan, static_cast<std::size_t>(ranks->size()), beside);
    room = 0;
    for (std::size_t r = 0; r + 1 < runs.size(); ++r)
      room = std::max<std::size_t>(room, plan->bucket[runs[r + 1]] - plan->bucket[runs[r]]);
  }
  // Whether this rank has the room for the level: reserved at once, so
  // that a rank the system refuses the memory (within its budget) plans
  // the level with the others instead of failing alone between their
  // gatherings.
  const auto has_room = [&cache](std::size_t n) {
    if (!cache.can_hold(n)) return false;
    try {
      cache.reserve(n);
    } catch (const Failure&) {
      return false;
    }
    return true;
  };
  if (must_plan || (never_grown && total >= planned_level_children.load()) ||
      !agreed(has_room(base + room + 1))) {
    if (plan->bucket_bits != kLargeBucketBits) {
      plan = std::make_unique<LevelPlan>(start, end, choice->root_count, true);
      count_children(*plan, cache.cubes(), *choice);
      total = place_children(*plan);
    }
    cache.add_generated(total);
    return planned(std::move(plan));
  }
  if (!runs.empty()) {
    // Only this rank's run is written, at the start of the level's place:
    // the level holds this rank's share of it.
    const auto rank = static_cast<std::size_t>(ranks->rank());
    std::vector<KeyShare> cuts;
    for (std::size_t r = 0; r + 1 < runs.size(); ++r)
      cuts.push_back(share_of_run(runs[r], runs[r + 1], plan->buckets, plan->bucket_shift));
    if (beside != nullptr) beside->cut(cuts);
    const std::size_t lo = runs[rank], hi = runs[rank + 1];
    const std::size_t run = plan->bucket[hi] - plan->bucket[lo];
    make_room(cache, base, run, plan->parts);
    cache.add_generated(total - run);
    const std::size_t new_end =
        base + build_run(*plan, cache.cubes(), *choice, cache.cubes() + base, base, lo, hi);
    cache.set_used(new_end);
    return {new_end, nullptr, cuts[rank], std::move(cuts)};
  }
  make_room(cache, base, total, plan->parts);
  PackedCube* const level = cache.cubes() + base;
  std::size_t kept = 0;
  if (shared) {
    kept = build_in_shares(*plan, cache.cubes(), *choice, level, base, *ranks);
  } else {
    write_children(*plan, cache.cubes(), *choice, level);
    kept = sort_and_compact(plan->parts, plan->bucket, plan->bucket_bits, level, base);
  }
  const std::size_t new_end = base + kept;
  cache.set_used(new_end);
  return {new_end, nullptr, std::nullopt, {}};
}

void set_wide_buckets_from(std::size_t children) {
  wide_bucket_children.store(children == 0 ? kWideBucketChildren : children);
}

void set_shared_levels_from(std::size_t children) {
  shared_level_children.store(children == 0 ? kSharedLevelChildren : children);
}

void set_planned_levels_from(std::uint64_t children) {
  planned_level_children.store(children == 0 ? kLeastPlannedChildren : children);
}

std::size_t generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                               int direction, const LegalMoves& legal) {
  new_level level = generate_or_plan_new_level(cache, start, end, direction, legal);
  if (level.ranges) fail(kOutOfMemory);
  return level.end;
}

range_built_level::range_built_level(std::unique_ptr<Plan> plan, std::size_t parent_start,
                                     std::size_t parent_end)
    : plan_(std::move(plan)), parent_start_(parent_start), parent_end_(parent_end) {}
range_built_level::~range_built_level() = default;

std::size_t range_built_level::buckets() const { return plan_->level->buckets; }

int range_built_level::bucket_shift() const { return plan_->level->bucket_shift; }

std::uint64_t range_built_level::children() const {
  return plan_->level->bucket[plan_->level->buckets];
}

namespace {

// Buckets [first, last) of a level laid out by `layout` (per part and
// bucket, where the whole level would have its first child there), built
// from the parents into `out`, sorted and with duplicates merged: only the
// children in `share` that `keep` may hold, which `layout` counts. Returns
// the number of entries kept.
std::size_t build_buckets(const LevelPlan& layout, const MoveChoice& choice,
                          const PackedCube* cubes, std::size_t first, std::size_t last,
                          PackedCube* out, const PositionFilter& keep, const KeyShare& share) {
  const std::uint64_t origin = layout.bucket[first];
  const std::uint64_t total = layout.bucket[last] - origin;
  // Each part writes its children of bucket b from where the whole level
  // would have them, less the place of the first bucket built.
  std::vector<std::vector<std::uint64_t>> at(layout.parts);
  for (unsigned p = 0; p < layout.parts; ++p) {
    at[p].assign(layout.next[p].begin() + static_cast<std::ptrdiff_t>(first),
                 layout.next[p].begin() + static_cast<std::ptrdiff_t>(last));
    for (auto& a : at[p]) a -= origin;
  }
  const int shift = layout.bucket_shift;
  std::vector<std::uint64_t> written(layout.parts, 0);
  run_parts(layout.parts, [&](unsigned p) {
    std::uint64_t* const place = at[p].data();
    std::uint64_t n = 0;
    for_each_child_in_buckets(cubes, layout.parents[p], layout.parents[p + 1], choice, shift, first,
                              last,
                              [place, out, shift, first, &keep, &share, &n](const PackedCube& c) {
                                if (!keep.may_hold(c) || !share.holds(c)) return;
                                out[place[(c.hi >> shift) - first]++] = c;
                                ++n;
                              });
    written[p] = n;
  });
  std::uint64_t sum = 0;
  for (auto n : written) sum += n;
  if (sum != total)
    fail("ERROR: Bug found, a level range was built with a wrong number of children\n");
  std::vector<std::uint64_t> bucket(layout.bucket.begin() + static_cast<std::ptrdiff_t>(first),
                                    layout.bucket.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  for (auto& b : bucket) b -= origin;
  return sort_and_compact(layout.parts, bucket, layout.bucket_bits, out, 0);
}

// Calls use(child, key) for every child of [start, end) in `share`, in
// generation order, with its key in `filter`; moves that change nothing
// are left out. A filter is read at random: each parent's children have
// their filter words fetched while the children of the next few parents
// are made, and are used only then. Each child is also handed to
// made(child) as it is made; once that returns false, the walk stops after
// the parent it is at. Returns the index of the first parent not walked.
template <bool kWhole, typename Use, typename Made>
std::size_t for_each_child_with_key(const PackedCube* cubes, std::size_t start, std::size_t end,
                                    const MoveChoice& choice, const PositionFilter& filter,
                                    const KeyShare& share, Use&& use, Made&& made) {
  constexpr unsigned kAhead = 4;  // parents whose children are in flight
  struct Brood {
    std::array<PackedCube, kMoveCount> child;
    std::array<std::uint64_t, kMoveCount> key;
    unsigned n = 0;
  };
  std::array<Brood, kAhead> ring;
  const auto use_brood = [&use](const Brood& b) {
    for (unsigned k = 0; k < b.n; ++k) use(b.child[k], b.key[k]);
  };
  unsigned slot = 0;
  bool room = true;
  std::size_t i = start;
  for (; room && i < end; ++i) {
    Brood& b = ring[slot];
    if (i - start >= kAhead) use_brood(b);
    const PackedCube packed = cubes[i];
    const auto [moves, count] = choice.moves_for(i, unpack_last_move(packed));
    choice.expand(packed, moves, count, b.child.data());
    unsigned n = 0;
    for (unsigned j = 0; j < count; ++j) {
      const PackedCube child = b.child[j];
      if (!choice.never_unchanged[moves[j]] && same_cube_state(child, packed)) continue;
      if constexpr (!kWhole) {
        if (!share.holds(child)) continue;
      }
      const std::uint64_t key = filter.key_of(child);
      filter.prefetch(key);
      room &= made(child);
      b.child[n] = child;
      b.key[n] = key;
      ++n;
    }
    b.n = n;
    slot = slot + 1 == kAhead ? 0 : slot + 1;
  }
  // The broods still in flight, oldest first.
  const std::size_t left = std::min<std::size_t>(i - start, kAhead);
  slot = (slot + kAhead - static_cast<unsigned>(left)) % kAhead;
  for (std::size_t k = 0; k < left; ++k) {
    use_brood(ring[slot]);
    slot = slot + 1 == kAhead ? 0 : slot + 1;
  }
  return i;
}

// Calls for_each_child_with_key, passing over the share test when the
// share is the whole key space.
template <typename Use, typename Made>
std::size_t for_each_child_with_key(const PackedCube* cubes, std::size_t start, std::size_t end,
                                    const MoveChoice& choice, const PositionFilter& filter,
                                    const KeyShare& share, Use&& use, Made&& made) {
  if (share.whole())
    return for_each_child_with_key<true>(cubes, start, end, choice, filter, share, use, made);
  return for_each_child_with_key<false>(cubes, start, end, choice, filter, share, use, made);
}

template <typename Use>
void for_each_child_with_key(const PackedCube* cubes, std::size_t start, std::size_t end,
                             const MoveChoice& choice, const PositionFilter& filter,
                             const KeyShare& share, Use&& use) {
  for_each_child_with_key(cubes, start, end, choice, filter, share, use,
                          [](const PackedCube&) { return true; });
}

// The n bits (n <= 64) of `bitmap` from bit `first` on, the first lowest.
inline std::uint64_t bits_at(const std::uint64_t* bitmap, std::uint64_t first, unsigned n) {
  if (n == 0) return 0;
  const std::uint64_t word = first >> 6;
  const unsigned offset = static_cast<unsigned>(first & 63);
  std::uint64_t bits = bitmap[word] >> offset;
  if (offset + n > 64) bits |= bitmap[word + 1] << (64 - offset);
  return n == 64 ? bits : bits & ((std::uint64_t{1} << n) - 1);
}

// A filter that every child a pass makes goes to as well, staged or not
// (or none).
struct FillTarget {
  PositionFilter* filter = nullptr;
  FilterStaging* staged = nullptr;

  // Adds the positions of part p's children[0..n); false once the
  // staging's round is nearly full.
  bool add(unsigned p, const PackedCube* children, unsigned n) const {
    if (filter == nullptr) return true;
    std::array<std::uint64_t, kMoveCount> keys;
    for (unsigned k = 0; k < n; ++k) keys[k] = filter->key_of(children[k]);
    if (staged != nullptr) return staged->stage(p, keys.data(), n);
    for (unsigned k = 0; k < n; ++k) filter->add_key(keys[k]);
    return true;
  }
};

// Stages the keys of the children of `plan`'s parents in `staging` (when
// not null) and adds them to `fill`, part by part, from where each part is
// (`at`, moved on) until a round is full: at most `most_parents` parents,
// whose numbers of children staged go to `counts` when given. Numbers the
// keys from 0 in each round. Returns whether the part has parents left.
template <bool kWhole>
bool stage_children(const LevelPlan& plan, const MoveChoice& choice, const PositionFilter& filter,
                    const PackedCube* cubes, const KeyShare& share, FilterStaging* staging,
                    const FillTarget& fill, unsigned p, std::size_t& at, std::size_t most_parents,
                    std::uint8_t* counts) {
  std::array<PackedCube, kMoveCount> children;
  std::array<std::uint64_t, kMoveCount> keys;
  const std::size_t last = plan.parents[p + 1];
  const std::size_t first = at;
  std::uint32_t number = 0;
  bool room = true;
  std::size_t i = at;
  for (; room && i < last && i - first < most_parents; ++i) {
    const unsigned n = children_of<kWhole>(cubes, i, choice, children.data(), share);
    if (counts != nullptr) counts[i - first] = static_cast<std::uint8_t>(n);
    if (staging != nullptr) {
      for (unsigned k = 0; k < n; ++k) keys[k] = filter.key_of(children[k]);
      room = staging->stage(p, keys.data(), n, number);
      number += n;
    }
    room &= fill.add(p, children.data(), n);
  }
  at = i;
  return i < last;
}

}  // namespace

void range_built_level::add_children(const PackedCube* cubes, PositionFilter& filter,
                                     const KeyShare& share, int staging) const {
  const LevelPlan& plan = *plan_->level;
  const MoveChoice& choice = *plan_->choice;
  FilterStaging staged(filter, plan.parts, false, staging);
  if (!staged.empty()) {
    std::vector<std::size_t> at(plan.parents.begin(), plan.parents.end() - 1);
    const std::size_t most = staged.keys_per_round();
    staged.run_adding(filter, [&](unsigned p) {
      return share.whole() ? stage_children<true>(plan, choice, filter, cubes, share, &staged, {},
                                                  p, at[p], most, nullptr)
                           : stage_children<false>(plan, choice, filter, cubes, share, &staged, {},
                                                   p, at[p], most, nullptr);
    });
    return;
  }
  run_parts(plan.parts, [&](unsigned p) {
    for_each_child_with_key(
        cubes, plan.parents[p], plan.parents[p + 1], choice, filter, share,
        [&filter](const PackedCube&, std::uint64_t key) { filter.add_key(key); });
  });
}

std::size_t range_built_level::children_of_parents(const PackedCube* cubes, std::size_t from,
                                                   std::size_t to, PackedCube* out) const {
  const MoveChoice& choice = *plan_->choice;
  std::size_t n = 0;
  for (std::size_t i = from; i < to; ++i) {
    const PackedCube packed = cubes[i];
    const auto [moves, count] = choice.moves_for(i, unpack_last_move(packed));
    const std::size_t made = n;
    choice.expand(packed, moves, count, out + made);
    for (unsigned j = 0; j < count; ++j) {
      const PackedCube child = out[made + j];
      if (!choice.never_unchanged[moves[j]] && same_cube_state(child, packed)) continue;
      out[n++] = child;
    }
  }
  return n;
}

struct range_built_level::Sifted {
  LevelPlan kept;                      // children kept, per part and bucket: counted, then placed
  KeyShare share;                      // the positions children were kept of
  std::vector<std::uint64_t> written;  // per part, from room + p * per_part
  std::size_t per_part = 0;
  bool whole = true;
};

void range_built_level::SiftedDeleter::operator()(Sifted* sifted) const { delete sifted; }

range_built_level::SiftedPtr range_built_level::sift(const PackedCube* cubes,
                                                     const PositionFilter& keep,
                                                     PositionFilter* also, PackedCube* room,
                                                     std::size_t room_size, const KeyShare& share,
                                                     int staging, PositionFilter* fill,
                                                     const PositionFilter* near) const {
  const LevelPlan& plan = *plan_->level;
  const MoveChoice& choice = *plan_->choice;
  SiftedPtr sifted(new Sifted{plan, share, {}, room_size / plan.parts, true});
  LevelPlan& kept = sifted->kept;
  for (auto& counts : kept.next) std::fill(counts.begin(), counts.end(), 0);
  sifted->written.assign(plan.parts, 0);
  std::vector<unsigned char> overflowed(plan.parts, 0);
  const int shift = plan.bucket_shift;
  // Part p keeps a child: counts it, adds it to `also` and writes it in
  // generation order while its room lasts.
  const auto keep_child = [&](unsigned p, const PackedCube& child) {
    ++kept.next[p][child.hi >> shift];
    if (also != nullptr) also->add(child);
    std::uint64_t& n = sifted->written[p];
    if (n < sifted->per_part)
      room[p * sifted->per_part + n++] = child;
    else
      overflowed[p] = 1;
  };
  // With `near`, few children are made and tested: `keep` is read at
  // random. Else `keep` and `fill` are staged when large; `also` takes the
  // few children kept.
  const bool near_walk = near != nullptr && also == nullptr && fill == nullptr;
  FilterStaging staged(keep, plan.parts, true, near_walk ? -1 : staging);
  std::optional<FilterStaging> fill_staged;
  if (fill != nullptr) fill_staged.emplace(*fill, plan.parts, false, staging);
  FillTarget filling;
  filling.filter = fill;
  if (fill_staged && !fill_staged->empty()) filling.staged = &*fill_staged;
  std::vector<std::size_t> at(plan.parents.begin(), plan.parents.end() - 1);
  if (near_walk) {
    // Most parents fail `near`: their positions are read in order, a few
    // ahead, and only those that pass are expanded.
    run_parts(plan.parts, [&](unsigned p) {
      constexpr std::size_t kAhead = 16;
      std::array<PackedCube, kMoveCount> children;
      const std::size_t last = plan.parents[p + 1];
      for (std::size_t i = plan.parents[p]; i < last; ++i) {
        if (i + kAhead < last) near->prefetch(near->key_of(cubes[i + kAhead]));
        if (!near->may_hold(cubes[i])) continue;
        const unsigned n = share.whole()
                               ? children_of<true>(cubes, i, choice, children.data(), share)
                               : children_of<false>(cubes, i, choice, children.data(), share);
        for (unsigned k = 0; k < n; ++k)
          if (keep.may_hold(children[k])) keep_child(p, children[k]);
      }
    });
  } else if (!staged.empty()) {
    // Each round: the keys of every part's next parents are staged and
    // tested; each part then makes the children of its parents with a
    // child that passed again, and keeps those.
    const std::size_t most = staged.keys_per_round();
    // A round also ends after this many parents: most have a dozen
    // children or more.
    const std::size_t most_parents = std::max<std::size_t>(most / 8, 4096);
    struct Round {
      std::size_t first = 0, parents = 0;
      std::vector<std::uint8_t> counts;
      std::vector<std::uint64_t> passed;
    };
    std::vector<Round> rounds(plan.parts);
    for (Round& r : rounds) {
      r.counts.assign(most_parents, 0);
      r.passed.assign(most / 64 + 2, 0);
    }
    FilterStaging::run_together(
        filling.staged, fill, &staged,
        [&](unsigned p) {
          Round& r = rounds[p];
          std::fill(r.passed.begin(), r.passed.end(), 0);
          r.first = at[p];
          const bool more =
              share.whole()
                  ? stage_children<true>(plan, choice, keep, cubes, share, &staged, filling, p,
                                         at[p], most_parents, r.counts.data())
                  : stage_children<false>(plan, choice, keep, cubes, share, &staged, filling, p,
                                          at[p], most_parents, r.counts.data());
          r.parents = at[p] - r.first;
          return more;
        },
        [&](unsigned p) { return rounds[p].passed.data(); },
        [&](unsigned p) {
          Round& r = rounds[p];
          std::array<PackedCube, kMoveCount> children;
          std::uint64_t number = 0;
          for (std::size_t j = 0; j < r.parents; ++j) {
            const unsigned n = r.counts[j];
            const std::uint64_t bits = bits_at(r.passed.data(), number, n);
            number += n;
            if (bits == 0) continue;
            if (share.whole())
              children_of<true>(cubes, r.first + j, choice, children.data(), share);
            else
              children_of<false>(cubes, r.first + j, choice, children.data(), share);
            for (unsigned k = 0; k < n; ++k)
              if ((bits >> k) & 1) keep_child(p, children[k]);
          }
          r.parents = 0;
        });
  } else {
    // `keep` read at random, each child kept as it is tested; a `fill` not
    // staged is fetched from as the child is made, and added to with it.
    const bool fill_direct = fill != nullptr && filling.staged == nullptr;
    const auto walk = [&](unsigned p) {
      at[p] = for_each_child_with_key(
          cubes, at[p], plan.parents[p + 1], choice, keep, share,
          [&](const PackedCube& child, std::uint64_t key) {
            if (keep.may_hold_key(key)) keep_child(p, child);
            if (fill_direct) fill->add(child);
          },
          [&](const PackedCube& child) {
            if (!fill_direct) return filling.add(p, &child, 1);
            fill->prefetch(fill->key_of(child));
            return true;
          });
      return at[p] < plan.parents[p + 1];
    };
    if (filling.staged != nullptr)
      FilterStaging::run_together(filling.staged, fill, nullptr, walk, {}, {});
    else
      run_parts(plan.parts, [&](unsigned p) { walk(p); });
  }
  for (unsigned char o : overflowed)
    if (o != 0) sifted->whole = false;
  place_children(kept);
  return sifted;
}

namespace {

// Adds to a filter the parents of position after position: every position
// one legal move (undone) away, since x = m(parent) makes parent = m'(x).
// Each position's parents are fetched while the next one's are made.
class ParentAdder {
 public:
  ParentAdder(const MoveChoice& choice, PositionFilter& near) : choice_(choice), near_(near) {
    count_ = choice.root_count;
    for (unsigned k = 0; k < count_; ++k)
      undo_[k] = static_cast<std::uint8_t>(reverse_rotation(choice.root[k]));
  }
  ParentAdder(const ParentAdder&) = delete;
  ParentAdder& operator=(const ParentAdder&) = delete;
  ~ParentAdder() { add_pending(); }

  void add(const PackedCube& position) {
    const unsigned slot = pending_ ? 1 - slot_ : slot_;
    std::array<PackedCube, kMoveCount> parents;
    choice_.expand(position, undo_.data(), count_, parents.data());
    for (unsigned k = 0; k < count_; ++k) {
      keys_[slot][k] = near_.key_of(parents[k]);
      near_.prefetch(keys_[slot][k]);
    }
    add_pending();
    slot_ = slot;
    pending_ = true;
  }

 private:
  void add_pending() {
    if (!pending_) return;
    for (unsigned k = 0; k < count_; ++k) near_.add_key(keys_[slot_][k]);
    pending_ = false;
  }

  const MoveChoice& choice_;
  PositionFilter& near_;
  std::array<std::uint8_t, kMoveCount> undo_{};
  unsigned count_ = 0;
  std::array<std::uint64_t, kMoveCount> keys_[2];
  unsigned slot_ = 0;
  bool pending_ = false;
};

}  // namespace

void range_built_level::add_parents_of(const PackedCube* positions, std::size_t n,
                                       PositionFilter& near) const {
  const unsigned parts = n < (std::size_t{1} << 16) ? 1u : work_threads();
  const std::vector<std::size_t> cuts = cut_evenly(0, n, parts);
  run_parts(parts, [&](unsigned p) {
    ParentAdder adder(*plan_->choice, near);
    for (std::size_t i = cuts[p]; i < cuts[p + 1]; ++i) adder.add(positions[i]);
  });
}

std::uint64_t range_built_level::add_wanted(const PackedCube* cubes, std::size_t start,
                                            std::size_t end, const PositionFilter& children,
                                            PositionFilter& wanted, PositionFilter& near,
                                            std::uint64_t most) const {
  const unsigned parts = end - start < (std::size_t{1} << 16) ? 1u : work_threads();
  const std::vector<std::size_t> cuts = cut_evenly(start, end, parts);
  std::vector<std::uint64_t> found(parts, 0);
  std::atomic<bool> too_many{false};
  run_parts(parts, [&](unsigned p) {
    constexpr std::size_t kAhead = 16;
    ParentAdder adder(*plan_->choice, near);
    const std::size_t last = cuts[p + 1];
    const std::uint64_t mine = most / parts + 1;
    std::uint64_t n = 0;
    for (std::size_t i = cuts[p]; i < last; ++i) {
      if (i + kAhead < last) children.prefetch(children.key_of(cubes[i + kAhead]));
      if (!children.may_hold(cubes[i])) continue;
      wanted.add(cubes[i]);
      adder.add(cubes[i]);
      if (++n > mine || ((n & 1023) == 0 && too_many.load(std::memory_order_relaxed))) {
        too_many.store(true, std::memory_order_relaxed);
        break;
      }
    }
    found[p] = n;
  });
  if (too_many.load()) return most + 1;
  std::uint64_t total = 0;
  for (auto n : found) total += n;
  return total;
}

unsigned range_built_level::legal_move_count() const { return plan_->choice->root_count; }

unsigned range_built_level::parents_of(const PackedCube& position, PackedCube* out) const {
  const MoveChoice& choice = *plan_->choice;
  std::array<std::uint8_t, kMoveCount> undo;
  for (unsigned k = 0; k < choice.root_count; ++k)
    undo[k] = static_cast<std::uint8_t>(reverse_rotation(choice.root[k]));
  choice.expand(position, undo.data(), choice.root_count, out);
  return choice.root_count;
}

bool range_built_level::sifted_whole(const Sifted& sifted) { return sifted.whole; }

std::uint64_t range_built_level::sifted_size(const Sifted& sifted, std::size_t b) {
  return sifted.kept.bucket[b + 1] - sifted.kept.bucket[b];
}

std::uint64_t range_built_level::sifted_total(const Sifted& sifted) {
  return sifted.kept.bucket[sifted.kept.buckets];
}

std::size_t range_built_level::arrange(const Sifted& sifted, const PackedCube* room,
                                       PackedCube* out) const {
  if (!sifted.whole) fail("ERROR: Bug found, kept children arranged without all of them\n");
  const LevelPlan& kept = sifted.kept;
  const int shift = kept.bucket_shift;
  std::vector<std::vector<std::uint64_t>> places = kept.next;
  run_parts(kept.parts, [&](unsigned p) {
    std::uint64_t* const at = places[p].data();
    const PackedCube* const mine = room + p * sifted.per_part;
    for (std::size_t i = 0; i < sifted.written[p]; ++i) out[at[mine[i].hi >> shift]++] = mine[i];
  });
  return sort_and_compact(kept.parts, kept.bucket, kept.bucket_bits, out, 0);
}

std::size_t range_built_level::build_sifted(const PackedCube* cubes, const Sifted& sifted,
                                            const PositionFilter& keep, std::size_t first,
                                            std::size_t last, PackedCube* out) const {
  return build_buckets(sifted.kept, *plan_->choice, cubes, first, last, out, keep, sifted.share);
}

unsigned range_built_level::parts() const { return plan_->level->parts; }

std::vector<std::uint64_t> range_built_level::count_finer(const PackedCube* cubes,
                                                          const Sifted& sifted,
                                                          const PositionFilter& keep,
                                                          std::span<const KeyPrefix> prefixes,
                                                          int depth, int sub_bits) const {
  const LevelPlan& plan = *plan_->level;
  const std::size_t n = prefixes.size();
  const std::size_t subs = std::size_t{1} << sub_bits;
  std::vector<std::uint64_t> counts(plan.parts * n * subs, 0);
  if (n == 0) return counts;
  const int shift = plan.bucket_shift;
  const std::uint64_t first = prefixes.front().hi >> shift;
  const std::uint64_t last = (prefixes.back().hi >> shift) + 1;
  run_parts(plan.parts, [&](unsigned p) {
    std::uint64_t* const mine = counts.data() + p * n * subs;
    for_each_child_in_buckets(cubes, plan.parents[p], plan.parents[p + 1], *plan_->choice, shift,
                              first, last, [&](const PackedCube& c) {
                                if (!keep.may_hold(c) || !sifted.share.holds(c)) return;
                                const KeyPrefix own = key_prefix(c, depth);
                                const auto it =
                                    std::lower_bound(prefixes.begin(), prefixes.end(), own);
                                if (it == prefixes.end() || *it != own) return;
                                const auto i = static_cast<std::size_t>(it - prefixes.begin());
                                ++mine[(i << sub_bits) + key_bits(c, depth, sub_bits)];
                              });
  });
  return counts;
}

std::size_t range_built_level::build_slice(const PackedCube* cubes, const Sifted& sifted,
                                           const PositionFilter& keep, const KeySlice& slice,
                                           std::span<const std::uint64_t> per_part,
                                           PackedCube* out) const {
  const LevelPlan& plan = *plan_->level;
  if (per_part.size() != plan.parts)
    fail("ERROR: Bug found, a key slice was counted in other parts\n");
  // Each part writes its children after those of the parts before it, so
  // the slice holds them in generation order.
  std::vector<std::uint64_t> from(plan.parts + 1, 0);
  for (unsigned p = 0; p < plan.parts; ++p) from[p + 1] = from[p] + per_part[p];
  const int shift = plan.bucket_shift;
  const std::uint64_t bucket = slice.prefix.hi >> shift;
  std::vector<std::uint64_t> written(plan.parts, 0);
  run_parts(plan.parts, [&](unsigned p) {
    PackedCube* const at = out + from[p];
    const std::uint64_t most = per_part[p];
    std::uint64_t n = 0;
    for_each_child_in_buckets(
        cubes, plan.parents[p], plan.parents[p + 1], *plan_->choice, shift, bucket, bucket + 1,
        [&](const PackedCube& c) {
          if (!in_slice(c, slice) || !keep.may_hold(c) || !sifted.share.holds(c)) return;
          if (n < most) at[n] = c;
          ++n;
        });
    written[p] = n;
  });
  for (unsigned p = 0; p < plan.parts; ++p)
    if (written[p] != per_part[p])
      fail("ERROR: Bug found, a key slice was built with a wrong number of children\n");
  return sort_and_compact(plan.parts, {0, from[plan.parts]}, plan.bucket_bits, out, 0);
}

}  // namespace tessel
