// Level caches: all positions one search side reaches, level by level, as
// packed cubes in one growing array.
//
//   index 0        the root (the side's end position, last move 0)
//   index 1        marker of level 1: low word 0 (start of level 0)
//   2 .. e1-1      level 1
//   e1             marker of level 2: low word 2 (start of level 1)
//   e1+1 .. e2-1   level 2, and so on.
//
// Level 0 may also hold several roots, [0, r) in cube-state order, each with
// last move 0; the marker of level 1 then stands at index r. Level 0 is
// the level that starts at index 0: every entry of it is a root.
//
// Every level is sorted in cube-state order; entries of one position keep
// the order in which they were generated (parent index, then legal-list
// position), and no two entries of one position share a last move. A marker
// has a zero high word, so it sorts below every real position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/ranks.h"
#include "search/entry_arena.h"
#include "search/key_slice.h"
#include "search/legal_moves.h"
#include "search/packed_cube.h"
#include "search/position_filter.h"

namespace tessel {

inline constexpr std::size_t initial_cache_size = 16384;

// One side's levels, in an arena of its own. Neither copyable nor movable;
// frees its array on destruction.
class growing_cache {
 public:
  // Allocates initial_cache_size entries. Throws Failure("ERROR: not enough memory").
  explicit growing_cache(MemoryBudget& budget) : arena_(budget, initial_cache_size) {}

  PackedCube* cubes() { return arena_.data(); }
  const PackedCube* cubes() const { return arena_.data(); }
  std::size_t used() const { return used_; }
  std::size_t capacity() const { return arena_.capacity(); }
  void set_used(std::size_t used) { used_ = used; }
  // Children generated into this cache, before duplicates were merged.
  std::uint64_t generated() const { return generated_; }
  void add_generated(std::uint64_t n) { generated_ += n; }

  // Makes sure indices [0, n) are allocated, doubling the capacity as often
  // as needed, or growing it to n where doubling would take more than half
  // of what the budget has left. Existing entries keep their indices and
  // values. Throws Failure("ERROR: not enough memory").
  void reserve(std::size_t n) { arena_.reserve(n); }
  // Whether reserve(n) would find the memory in the budget.
  bool can_hold(std::size_t n) const { return arena_.can_hold(n); }
  // Hint that entries [from, to) are about to be written.
  void prefault(std::size_t from, std::size_t to) { arena_.prefault(from, to); }
  // Gives back the room past the entries in use.
  void shrink_to_used() { arena_.shrink(used_); }

 private:
  EntryArena arena_;
  std::size_t used_ = 0;
  std::uint64_t generated_ = 0;
};

// A level marker: the start index of the level before it.
constexpr PackedCube level_marker(std::size_t previous_start) {
  return {static_cast<std::uint64_t>(previous_start), 0};
}
constexpr std::size_t marker_value(const PackedCube& marker) {
  return static_cast<std::size_t>(marker.lo);
}

// Expands the level [start, end) by every legal move the pruning rule
// allows (the roots of level 0 are exempt), drops moves that change nothing,
// writes the new level at [end + 1, result) in the order described above
// and returns its end. Index `end` must already hold the new level's marker.
std::size_t generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                               int direction, const LegalMoves& legal);

// Levels written whole with this many possible children or more are
// sorted in 2^14 buckets instead of 2^16 (0: the default, 2^26). Tests
// lower it; the levels are the same.
void set_wide_buckets_from(std::size_t children);

// Levels written whole with this many children or more are built in shares
// on several ranks (0: the default, 2^22). Tests lower it; the levels are
// the same.
void set_shared_levels_from(std::size_t children);

// A level too large to be stored: only its parent level (in the cache) and
// its plan are kept. Its children are counted per bucket (the top 16 bits of
// the cube-state order), and any run of buckets can be built again from the
// parents: exactly that part of the level as generate_new_level would have
// stored it, in the same order and with the same duplicate rule.
class range_built_level {
 public:
  struct Plan;
  range_built_level(std::unique_ptr<Plan> plan, std::size_t parent_start, std::size_t parent_end);
  ~range_built_level();
  range_built_level(const range_built_level&) = delete;
  range_built_level& operator=(const range_built_level&) = delete;

  std::size_t parent_start() const { return parent_start_; }
  std::size_t parent_end() const { return parent_end_; }
  std::size_t buckets() const;
  // A position's bucket is its high word shifted right by this.
  int bucket_shift() const;
  // The children of the parents, counted by the moves they are expanded by
  // (every child then counts) or child by child.
  std::uint64_t children() const;
  // Adds the position of every child in `share` to `filter` (one pass
  // over the parents, on every work thread). `staging` as for
  // FilterStaging.
  void add_children(const PackedCube* cubes, PositionFilter& filter, const KeyShare& share = {},
                    int staging = 0) const;

  // The children whose position `keep` may hold, counted per bucket: what
  // one pass over the parents found, and, when `room` had room for them
  // all, the children themselves (in generation order per part, unsorted).
  struct Sifted;
  struct SiftedDeleter {
    void operator()(Sifted* sifted) const;
  };
  using SiftedPtr = std::unique_ptr<Sifted, SiftedDeleter>;
  // Passes over the children keeping those in `share` that `keep` may
  // hold: counts them per bucket, adds each to `also` (when not null), and
  // writes them into [room, room + room_size) while it lasts. What follows
  // of the sifted children holds for those in the share alone. In the same
  // pass, every child in `share` is added to `fill` (when not null), as
  // add_children would. `staging` as for FilterStaging.
  //
  // `near` (when not null, and neither `also` nor `fill` is) tells which
  // parents to pass over: a parent whose position it does not hold has no
  // child `keep` is asked for (see add_parents_of), so only the children of
  // the others are made and tested. The children kept are then fewer:
  // those of the skipped parents that `keep` held only by chance are left
  // out. Every one `keep` was made of is still kept.
  SiftedPtr sift(const PackedCube* cubes, const PositionFilter& keep, PositionFilter* also,
                 PackedCube* room, std::size_t room_size, const KeyShare& share = {},
                 int staging = 0, PositionFilter* fill = nullptr,
                 const PositionFilter* near = nullptr) const;
  // Adds to `near` every position one legal move (undone) away from
  // positions[0..n): every parent that could have any of them as a child.
  // On every work thread.
  void add_parents_of(const PackedCube* positions, std::size_t n, PositionFilter& near) const;
  // For every position of cubes[start, end) that `children` (a filter of
  // this level's children) may hold: adds it to `wanted` and its parents
  // to `near`, as add_parents_of. Returns how many, or more than `most`
  // once more than that are found (then it stops, the filters partly
  // filled). On every work thread.
  std::uint64_t add_wanted(const PackedCube* cubes, std::size_t start, std::size_t end,
                           const PositionFilter& children, PositionFilter& wanted,
                           PositionFilter& near, std::uint64_t most) const;
  // Writes into `out` (room for legal_move_count()) every position one
  // legal move (undone) away from `position`, as add_parents_of would add
  // them; returns how many.
  unsigned parents_of(const PackedCube& position, PackedCube* out) const;
  // The legal moves a parent may be expanded by, at most.
  unsigned legal_move_count() const;
  // Writes the children of parents [from, to) (indices of cubes, within
  // [parent_start(), parent_end())) into `out`, which has room for
  // legal_move_count() children per parent, in generation order and
  // unsorted; returns how many. On this thread.
  std::size_t children_of_parents(const PackedCube* cubes, std::size_t from, std::size_t to,
                                  PackedCube* out) const;
  // Whether the room held every child kept.
  static bool sifted_whole(const Sifted& sifted);
  // Children kept in bucket b.
  static std::uint64_t sifted_size(const Sifted& sifted, std::size_t b);
  static std::uint64_t sifted_total(const Sifted& sifted);
  // The kept children held in `room` (only when whole), sorted into `out`
  // (room for sifted_total) with duplicates merged: exactly the entries of
  // the stored level whose position `keep` may hold, in the stored level's
  // order. Returns the number of entries.
  std::size_t arrange(const Sifted& sifted, const PackedCube* room, PackedCube* out) const;
  // Buckets [first, last) of what arrange gives, built again from the
  // parents through the same filter, into `out` (room for their kept
  // children). Returns the number of entries.
  std::size_t build_sifted(const PackedCube* cubes, const Sifted& sifted,
                           const PositionFilter& keep, std::size_t first, std::size_t last,
                           PackedCube* out) const;

  // Buckets whose kept children alone are too many for one range are cut
  // finer. The parents are passed over in parts, each part's children in
  // generation order.
  unsigned parts() const;
  // The children sifted through `keep`, counted by part, prefix and the next
  // `sub_bits` key bits: at ((p * n + i) << sub_bits) + s for part p,
  // prefixes[i] (n of them, in key order, each of `depth` bits, at least a
  // bucket's) and sub-slice s.
  std::vector<std::uint64_t> count_finer(const PackedCube* cubes, const Sifted& sifted,
                                         const PositionFilter& keep,
                                         std::span<const KeyPrefix> prefixes, int depth,
                                         int sub_bits) const;
  // The kept children of one slice (within one bucket), built again from
  // the parents into `out`, sorted and with duplicates merged: exactly the
  // stored level's entries of those positions that `keep` may hold.
  // `per_part` holds what count_finer counted of the slice for each part.
  // Returns the number of entries.
  std::size_t build_slice(const PackedCube* cubes, const Sifted& sifted, const PositionFilter& keep,
                          const KeySlice& slice, std::span<const std::uint64_t> per_part,
                          PackedCube* out) const;

 private:
  std::unique_ptr<Plan> plan_;
  std::size_t parent_start_ = 0, parent_end_ = 0;
};

// What generate_or_plan_new_level made: a stored level ending at `end`, or,
// when it did not fit in the budget, a range-built level (and `end` is the
// parent level's end, unchanged).
struct new_level {
  std::size_t end;
  std::unique_ptr<range_built_level> ranges;
  // A stored level that holds only this rank's share of its positions,
  // and the share of every rank, in rank order.
  std::optional<KeyShare> held;
  std::vector<KeyShare> cuts;
};

// The other side's newest level, stored whole, beside a level about to be
// held in shares (generate_or_plan_new_level): the ranks' shares are cut
// so that each holds about as much of both, and `cut` (given every rank's
// share, in rank order) then keeps only this rank's share of it, before
// the new level is built.
struct HeldBeside {
  const PackedCube* cubes = nullptr;
  std::size_t start = 0, end = 0;
  std::function<void(const std::vector<KeyShare>&)> cut;
};

// Levels with fewer children than this are stored whenever they fit.
inline constexpr std::uint64_t kLeastPlannedChildren = std::uint64_t{1} << 22;

// Levels no level is grown from are left range-built from this many
// children on (0: the default, kLeastPlannedChildren). Tests lower it; the
// sequences found are the same.
void set_planned_levels_from(std::uint64_t children);

// generate_new_level, except that a level the budget cannot hold is not an
// error: it is planned and returned as a range-built level. With
// `never_grown`, so is a level of kLeastPlannedChildren children or more
// (set_planned_levels_from) that fits: no level will be grown from it. With `ranks` (every rank
// growing the same level from the same parents, and deciding alike whether
// to store it), a large level is built in shares, each rank sorting a run
// of its buckets, and shared: the level is the same. With `hold_share`
// too, the ranks do not share their runs: each rank's level holds only the
// positions of its run (`held` tells which), and needs only the room for
// them. With `must_plan`, the level is range-built whatever its size (its
// parents are one rank's share of their level). With `beside`, a level
// held in shares is cut alike with that one (HeldBeside).
new_level generate_or_plan_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                                     int direction, const LegalMoves& legal,
                                     bool never_grown = false, Ranks* ranks = nullptr,
                                     bool hold_share = false, bool must_plan = false,
                                     const HeldBeside* beside = nullptr);

// Within every run of one position in [begin, end), keeps only the first
// entry for each last move; compacts in place and returns the new end.
std::size_t remove_duplicates(PackedCube* cubes, std::size_t begin, std::size_t end);

// Whether [begin, end) is in cube-state order.
bool is_sorted_by_cube_state(const PackedCube* cubes, std::size_t begin, std::size_t end);

}  // namespace tessel
