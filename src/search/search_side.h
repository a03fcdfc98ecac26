// One side of a bidirectional search: a level cache grown from one end
// position, and where its newest level lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "cube/cube_state.h"
#include "search/entry_arena.h"
#include "search/join.h"
#include "search/legal_moves.h"
#include "search/level_cache.h"
#include "search/position_filter.h"
#include "search/progress.h"

namespace tessel {

// The signature of generate_new_level; the benchmarks grow sides with a
// plain level step too.
using level_step = std::size_t (*)(growing_cache& cache, std::size_t start, std::size_t end,
                                   int direction, const LegalMoves& legal);

// The root at index 0 (last move 0), then each level behind its marker.
// At first the newest level is level 0, the root alone: [0, 1) (or the
// roots: [0, r)).
struct search_side {
  growing_cache cache;
  std::size_t level_start = 0;                // first entry of the newest level
  std::size_t level_end = 1;                  // one past its last entry
  int direction;                              // kForward or kBackward
  std::unique_ptr<range_built_level> ranges;  // the newest level, when not stored
  // The end of every stored level, level 0 first: the newest is `depth`, and
  // those after it were grown by an earlier search and are taken again by
  // grow_or_plan instead of being grown.
  std::vector<std::size_t> level_ends;
  int depth = 0;
  // On several ranks: the newest stored level holds only this rank's share
  // of its positions (the other ranks hold the rest), when set. Only a
  // range-built level grows from it (whose parents are then that share),
  // and the level is given up by rewind().
  std::optional<KeyShare> held_share;
  // Then the share of every rank, in rank order.
  std::vector<KeyShare> held_cuts;

  search_side(const Cube& root, int direction, MemoryBudget& budget);
  // A side with several roots, all in level 0: distinct packed cubes (last
  // move 0) in cube-state order, holding the same pieces (turns of one
  // cube). Its levels are the union of the levels of one side per root.
  search_side(std::span<const PackedCube> roots, int direction, MemoryBudget& budget);

  // Writes the next level's marker at level_end, making room for it, and
  // builds that level with `step`; it becomes the newest. Returns its size.
  std::size_t grow(const LegalMoves& legal, level_step step = generate_new_level);
  // Only writes the marker, as grow does before it builds the level: the
  // next level can then be built at [level_end + 1, ...) as often as wanted
  // without becoming the newest.
  void write_next_marker();

  // Grows like grow(), except that a level the budget cannot hold is not an
  // error: it becomes the newest level as a range-built level, and
  // level_start and level_end still bound its parent. A side cannot grow
  // past a range-built level: that ends with "ERROR: not enough memory".
  // With `last`, the side will not grow again, so a large level is left
  // range-built even when it fits: its joins are cheaper than storing it.
  // On several `ranks`, large levels are built in shares
  // (generate_or_plan_new_level); with `hold_share`, a large stored level
  // is then held in shares (held_share), cut alike with `beside` when
  // given (HeldBeside). Every rank grows the level when
  // one has not kept it from an earlier search, and the others give up the
  // stored levels they have kept from there on: then it returns true.
  bool grow_or_plan(const LegalMoves& legal, bool last = false, Ranks* ranks = nullptr,
                    bool hold_share = false, const HeldBeside* beside = nullptr);
  // Keeps only this rank's share (cuts[rank], of every rank's `cuts`) of
  // the newest level, stored whole, which is then held in shares; gives
  // back the room of the rest.
  void keep_share_of_newest(const std::vector<KeyShare>& cuts, int rank);
  bool range_built() const { return ranges != nullptr; }

  // Back to level 0 for a new search with the same roots, direction and
  // legal moves: the stored levels stay and are taken again as it grows,
  // except a level held in shares.
  void rewind();
  // A new side in the same memory: only `roots` (as for the constructor),
  // whose levels are all grown again.
  void restart(std::span<const PackedCube> roots);
  // Stored levels past the newest one.
  int levels_ahead() const { return static_cast<int>(level_ends.size()) - 1 - depth; }

  // The newest level; only for a side whose newest level is stored.
  LevelRange newest() const { return {cache.cubes(), level_start, level_end}; }
  std::size_t newest_size() const { return level_end - level_start; }
  // Entries the side holds: the root, the markers and every level.
  std::uint64_t stored() const { return level_end; }
};

// A filter of all the children of a range-built level (in one key share),
// made by the join of one length for the join of the next. A join of a
// range-built level with a stored one passes over its children once; when
// the next length will grow the other side's last level, range-built too,
// that pass also fills this filter, and the next join sifts the other
// side's new level through it instead of passing over these children again
// to fill it.
struct PreparedFilter {
  const range_built_level* level = nullptr;  // whose children it holds
  KeyShare share;                            // those in this share
  std::optional<PositionFilter> filter;

  // Whether it holds the children of `side`'s newest level in `in`.
  bool holds(const search_side& side, const KeyShare& in) const;
  // Gives its memory back.
  void reset();
};

// A filter of the other side's children in one process's share, to which
// were added the children of the process's own parents (of a side's
// range-built level grown from a level held in shares) that lie in other
// shares and passed there the same filter of those shares
// (route_children): the children of the process's parents that may meet
// the other side's level pass it.
struct RoutedFilter {
  const search_side* side = nullptr;  // whose children are sifted through it
  std::optional<PositionFilter> filter;
  std::uint64_t held = 0;  // positions it holds, about
};

// How join_newest may go about range-built levels, and what it reports.
struct RangeJoinOptions {
  // Most entries held for one key range (0: as many as the budget allows),
  // and the size of the position filters in bits (0: by level and budget).
  // Tests lower them so that levels are cut into many ranges.
  std::size_t most_per_range = 0;
  int filter_bits = 0;
  // How the filters are worked on: 0 staged by region when large
  // (FilterStaging), -1 never staged, n > 0 always staged, in slots of n
  // keys (tests).
  int filter_staging = 0;
  std::uint64_t* ranges_used = nullptr;   // adds the key ranges joined
  std::uint64_t* range_joins = nullptr;   // adds 1 for a join of a range-built level
  std::uint64_t* slices = nullptr;        // adds the key ranges cut finer than a bucket
  std::uint64_t* kept = nullptr;          // adds the children of range-built levels kept
  std::uint64_t* prepared = nullptr;      // adds 1 for a join that takes a carried filter
  std::uint64_t* near_joins = nullptr;    // adds 1 for a join that passed over parents
  std::uint64_t* routed_joins = nullptr;  // adds 1 for a join by parents that routed children
  Progress* progress = nullptr;
  // Only the meetings of these positions are joined, and only children of
  // range-built levels in it are kept (one process's share of a join split
  // between several).
  KeyShare share;
  // Carried from one join to the next: a join takes the filter when it
  // holds one of its range-built levels, and gives its memory back
  // otherwise; with `prepare`, a join of a range-built level with a stored
  // one fills it for the next.
  PreparedFilter* carried = nullptr;
  bool prepare = false;
  // When both levels are range-built: the first side sifted is this one's,
  // through its filter instead of one of the other side's children.
  // The join gives its memory back once it has served.
  RoutedFilter* routed = nullptr;
  // When both levels are range-built, the second is sifted only from the
  // parents one move from the first's kept children, when those are few
  // (tests turn it off to compare).
  bool near_parents = true;
};

// Bytes a filter sized to a level takes per position.
inline constexpr std::uint64_t kFilterBytesPerPosition = 2;

// The bytes a join of range-built levels holds the children it keeps in,
// out of `remaining` bytes: half, so that they can be sorted out of them.
constexpr std::size_t kept_children_bytes(std::size_t remaining) { return remaining / 2; }

// The children of a side's range-built newest level in `share`, about.
std::uint64_t children_in_share(const search_side& side, const KeyShare& share);

// Joins the newest levels of two sides as find_sequence does, also when one
// or both are range-built. A range-built level is never made whole: one
// pass over its parents keeps only the children whose position a filter of
// the other side's level may hold (with two range-built levels, the
// children of the smaller fill a filter first, those of the larger are
// sifted through it, and those of the smaller then through a filter of the
// larger's kept). The children kept, sorted, are exactly the level's entries of
// those positions, so joining them gives the join of the stored levels.
// When the kept children do not fit in the budget, the key space is walked
// in ranges of whole buckets, in increasing order, each built again from
// the parents through the same filters; a bucket whose kept children alone
// do not fit is cut into slices by the key bits below the bucket's, down
// to single positions where needed.
std::int64_t join_newest(const search_side& forward, const search_side& backward,
                         std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                         const RangeJoinOptions& options = {});

}  // namespace tessel
