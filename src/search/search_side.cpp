#include "search/search_side.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/failure.h"
#include "search/packed_cube.h"

namespace tessel {

search_side::search_side(const Cube& root, int dir, MemoryBudget& budget)
    : cache(budget), direction(dir) {
  const PackedCube packed = pack_ce(root, 0);
  restart({&packed, 1});
}

search_side::search_side(std::span<const PackedCube> roots, int dir, MemoryBudget& budget)
    : cache(budget), direction(dir) {
  restart(roots);
}

void search_side::restart(std::span<const PackedCube> roots) {
  if (roots.empty()) fail("ERROR: Bug found, a search side without a root\n");
  cache.reserve(roots.size() + 1);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (unpack_last_move(roots[i]) != 0 || (i > 0 && !cube_state_less(roots[i - 1], roots[i])))
      fail("ERROR: Bug found, search roots out of order\n");
    cache.cubes()[i] = roots[i];
  }
  cache.set_used(roots.size());
  level_ends.assign(1, roots.size());
  held_share.reset();
  held_cuts.clear();
  rewind();
}

void search_side::rewind() {
  ranges.reset();
  if (held_share) {
    // Only the last stored level is ever held in shares.
    level_ends.pop_back();
    cache.set_used(level_ends.back());
    held_share.reset();
    held_cuts.clear();
  }
  depth = 0;
  level_start = 0;
  level_end = level_ends[0];
}

void search_side::write_next_marker() {
  if (levels_ahead() != 0) fail("ERROR: Bug found, a stored level would be grown again\n");
  cache.reserve(level_end + 1);
  cache.cubes()[level_end] = level_marker(level_start);
}

std::size_t search_side::grow(const LegalMoves& legal, level_step step) {
  write_next_marker();
  const std::size_t new_end = step(cache, level_start, level_end, direction, legal);
  level_start = level_end + 1;
  level_end = new_end;
  level_ends.push_back(level_end);
  ++depth;
  return newest_size();
}

void search_side::keep_share_of_newest(const std::vector<KeyShare>& cuts, int rank) {
  if (ranges || held_share || levels_ahead() != 0 || level_start == 0 ||
      static_cast<std::size_t>(rank) >= cuts.size())
    fail("ERROR: Bug found, a level that cannot be held in shares\n");
  const KeyShare& share = cuts[static_cast<std::size_t>(rank)];
  const LevelRange part = share_of_level(newest(), share);
  PackedCube* const cubes = cache.cubes();
  if (part.start != level_start && part.end > part.start)
    std::memmove(static_cast<void*>(cubes + level_start), cubes + part.start,
                 (part.end - part.start) * sizeof(PackedCube));
  level_end = level_start + (part.end - part.start);
  level_ends.back() = level_end;
  cache.set_used(level_end);
  cache.shrink_to_used();
  held_share = share;
  held_cuts = cuts;
}

bool search_side::grow_or_plan(const LegalMoves& legal, bool last, Ranks* ranks, bool hold_share,
                               const HeldBeside* beside) {
  if (ranges) fail(kOutOfMemory);
  bool gave_up = false;
  if (ranks != nullptr && ranks->size() > 1) {
    // Growing a level takes steps every rank must take together, but the
    // ranks may keep different levels from earlier searches (each gives up
    // kept sides by its own room): where one has not kept this level, all
    // grow it. The room for the next level's marker, which only this
    // rank's budget tells, is made first: a rank without it fails the
    // growth on every rank.
    const bool ahead = levels_ahead() > 0;
    std::optional<Failure> failed;
    try {
      if (!ahead) cache.reserve(level_end + 1);
    } catch (const Failure& failure) {
      failed = failure;
    }
    bool all_ahead = true;
    for (const std::string& part : all_gather_or_fail(*ranks, ahead ? "1" : "0", failed))
      all_ahead = all_ahead && part == "1";
    if (!all_ahead && ahead) {
      level_ends.resize(static_cast<std::size_t>(depth) + 1);
      cache.set_used(level_end);
      gave_up = true;
    }
  }
  if (levels_ahead() > 0) {
    level_start = level_end + 1;
    level_end = level_ends[static_cast<std::size_t>(++depth)];
    return false;
  }
  write_next_marker();
  const bool parents_held = held_share.has_value();
  new_level level = generate_or_plan_new_level(cache, level_start, level_end, direction, legal,
                                               last || parents_held, ranks,
                                               hold_share && !parents_held, parents_held, beside);
  if (level.ranges) {
    ranges = std::move(level.ranges);
    return gave_up;
  }
  held_share = level.held;
  held_cuts = std::move(level.cuts);
  level_start = level_end + 1;
  level_end = level.end;
  level_ends.push_back(level_end);
  ++depth;
  return gave_up;
}

namespace {

// The entries [lo, hi) of the sorted entries [start, end) of `cubes`
// whose bucket (key bits from `shift` up) lies in [first, last).
std::pair<std::size_t, std::size_t> bucket_slice(const PackedCube* cubes, std::size_t start,
                                                 std::size_t end, std::uint64_t first,
                                                 std::uint64_t last, int shift) {
  const auto below = [shift](const PackedCube& c, std::uint64_t b) { return (c.hi >> shift) < b; };
  const PackedCube* lo = std::lower_bound(cubes + start, cubes + end, first, below);
  const PackedCube* hi = std::lower_bound(lo, cubes + end, last, below);
  return {static_cast<std::size_t>(lo - cubes), static_cast<std::size_t>(hi - cubes)};
}

// One key range of a join: the buckets [first, last), or, for a bucket
// whose kept children alone do not fit in the buffer, a slice of it with
// the kept children of each range-built side per part (buckets [first,
// last) is then that one bucket).
struct JoinRange {
  JoinRange() = default;
  JoinRange(std::size_t from, std::size_t to) : first(from), last(to) {}

  std::size_t first = 0, last = 0;
  bool sliced = false;
  KeySlice slice;
  std::vector<std::uint64_t> per_part[2];
  std::uint64_t kept = 0;
};

// The entries [lo, hi) of the sorted entries [start, end) of `cubes` that
// lie in `slice`.
std::pair<std::size_t, std::size_t> key_slice_of(const PackedCube* cubes, std::size_t start,
                                                 std::size_t end, const KeySlice& s) {
  const auto below = [&s](const PackedCube& c, std::uint64_t sub) {
    return before_sub(c, s.prefix, s.depth, s.sub_bits, sub);
  };
  const PackedCube* lo = std::lower_bound(cubes + start, cubes + end, s.first_sub, below);
  const PackedCube* hi = std::lower_bound(lo, cubes + end, s.last_sub, below);
  return {static_cast<std::size_t>(lo - cubes), static_cast<std::size_t>(hi - cubes)};
}

// What a join takes from one side for a key range: a stored level, the
// kept children of a range-built level held whole, or kept children built
// again range by range through `keep`.
struct SideSource {
  const search_side* side = nullptr;
  const range_built_level::Sifted* sifted = nullptr;
  const PositionFilter* keep = nullptr;
  std::optional<EntryArena> entries;  // the kept children, sorted, when held whole
  std::size_t held = 0;

  bool built_in_ranges() const { return side->ranges && !entries; }
  std::uint64_t in_bucket(std::size_t b) const {
    return built_in_ranges() ? range_built_level::sifted_size(*sifted, b) : 0;
  }

  // The part in range r: built into `room` when built in ranges (returns
  // the entries written there), else a slice. `per_part` is the range's
  // count of this side's kept children when r is a slice.
  std::size_t part(const JoinRange& r, std::span<const std::uint64_t> per_part, int shift,
                   PackedCube* room, LevelRange& out) const {
    const PackedCube* cubes = side->cache.cubes();
    const auto slice = [&r, shift](const PackedCube* c, std::size_t start, std::size_t end) {
      return r.sliced ? key_slice_of(c, start, end, r.slice)
                      : bucket_slice(c, start, end, r.first, r.last, shift);
    };
    if (built_in_ranges()) {
      const range_built_level& level = *side->ranges;
      const std::size_t n = r.sliced
                                ? level.build_slice(cubes, *sifted, *keep, r.slice, per_part, room)
                                : level.build_sifted(cubes, *sifted, *keep, r.first, r.last, room);
      out = {room, 0, n, cubes, level.parent_start(), level.parent_end()};
      return n;
    }
    if (side->ranges) {
      const auto [lo, hi] = slice(entries->data(), 0, held);
      const range_built_level& level = *side->ranges;
      out = {entries->data(), lo, hi, cubes, level.parent_start(), level.parent_end()};
      return 0;
    }
    const auto [lo, hi] = slice(cubes, side->level_start, side->level_end);
    if (side->level_start == 0) {
      // Level 0, the roots: a slice of them is still level 0.
      out = {cubes, lo, hi, nullptr, 0, 0, true};
      return 0;
    }
    const std::size_t marker = side->level_start - 1;
    out = {cubes, lo, hi, cubes, marker_value(cubes[marker]), marker};
    return 0;
  }

  // The whole level: only when not built in ranges.
  LevelRange whole() const {
    if (!side->ranges) return side->newest();
    const PackedCube* cubes = side->cache.cubes();
    const range_built_level& level = *side->ranges;
    return {entries->data(), 0, held, cubes, level.parent_start(), level.parent_end()};
  }
};

// Room for `wanted` entries, at most `most` (0: no such limit) and what
// `bytes` hold, and at least one.
std::size_t entries_room(std::size_t bytes, std::size_t most, std::uint64_t wanted) {
  std::size_t room = bytes / sizeof(PackedCube);
  if (most != 0) room = std::min(room, most);
  return static_cast<std::size_t>(
      std::max<std::uint64_t>(std::min<std::uint64_t>(room, wanted), 1));
}

// Sifts the range-built level of `source.side` through `keep` (adding the
// kept to `also`), and holds the kept children whole, sorted, when half of
// what the budget has left (or `most`) holds them. With `near`, only the
// children of the parents it holds are tested, when that keeps them whole:
// kept children built again range by range are built from every parent.
void sift_side(SideSource& source, const PositionFilter& keep, PositionFilter* also,
               MemoryBudget& budget, std::size_t most, const KeyShare& share, int staging,
               range_built_level::SiftedPtr& sifted, PositionFilter* fill = nullptr,
               const PositionFilter* near = nullptr) {
  const range_built_level& level = *source.side->ranges;
  const PackedCube* cubes = source.side->cache.cubes();
  const std::size_t room_size =
      entries_room(kept_children_bytes(budget.remaining()), most, level.children());
  {
    EntryArena room(budget, room_size);
    sifted = level.sift(cubes, keep, also, room.data(), room_size, share, staging, fill, near);
    if (near != nullptr && !range_built_level::sifted_whole(*sifted))
      sifted = level.sift(cubes, keep, also, room.data(), room_size, share, staging, fill);
    source.sifted = sifted.get();
    source.keep = &keep;
    if (range_built_level::sifted_whole(*sifted)) {
      const auto total = static_cast<std::size_t>(range_built_level::sifted_total(*sifted));
      source.entries.emplace(budget, std::max<std::size_t>(total, 1));
      source.held = level.arrange(*sifted, room.data(), source.entries->data());
    }
  }
}

// About the part of a side's newest level that lies in `share`: the part
// of its parent level there, when it is range-built (the positions of two
// levels spread alike over the keys).
double share_fraction(const search_side& side, const KeyShare& share) {
  if (share.whole()) return 1.0;
  const LevelRange level = side.ranges ? LevelRange{side.cache.cubes(), side.ranges->parent_start(),
                                                    side.ranges->parent_end()}
                                       : side.newest();
  if (level.end == level.start) return 1.0;
  const LevelRange part = share_of_level(level, share);
  const double fraction =
      static_cast<double>(part.end - part.start) / static_cast<double>(level.end - level.start);
  return std::min(1.0, fraction * 1.1);
}

// Bytes per position of a filter of parents one move from kept children:
// half as many as a level's, for fewer reads from memory; the more
// parents passing by chance are few beside those passed over.
constexpr std::uint64_t kNearFilterBytesPerPosition = 1;

}  // namespace

std::uint64_t children_in_share(const search_side& side, const KeyShare& share) {
  return static_cast<std::uint64_t>(static_cast<double>(side.ranges->children()) *
                                    share_fraction(side, share));
}

namespace {

// Replaces the placeholder at `hole` in `ranges` by `slices`, in order.
void fill_hole(std::vector<JoinRange>& ranges, std::size_t hole, std::vector<JoinRange>& slices) {
  const auto next = ranges.erase(ranges.begin() + static_cast<std::ptrdiff_t>(hole));
  ranges.insert(next, std::make_move_iterator(slices.begin()),
                std::make_move_iterator(slices.end()));
}

// Most bytes one round of finer counts takes: when many buckets are cut
// at once, each is counted by fewer bits.
constexpr std::size_t kFinerCountBytes = std::size_t{16} << 20;

// Cuts the kept children of the range-built sides in every prefix (each of
// `depth` key bits, in key order) into slices of at most `capacity`,
// counted by the next key bits; a sub-slice still too large is cut again
// by the bits after those. Returns each prefix's slices in key order,
// leaving out key runs without kept children. One position with more kept
// children than `capacity` ends with "ERROR: not enough memory".
std::vector<std::vector<JoinRange>> cut_finer(const SideSource (&sources)[2],
                                              const std::vector<KeyPrefix>& prefixes, int depth,
                                              std::size_t capacity, int shift) {
  const std::size_t n = prefixes.size();
  unsigned parts[2] = {0, 0};
  for (int k = 0; k < 2; ++k)
    if (sources[k].built_in_ranges()) parts[k] = sources[k].side->ranges->parts();
  int bits = std::min(16, kKeyBits - depth);
  while (bits > 1 && (n * (parts[0] + parts[1]) << bits) * sizeof(std::uint64_t) > kFinerCountBytes)
    --bits;
  std::vector<std::uint64_t> counts[2];
  for (int k = 0; k < 2; ++k)
    if (parts[k] != 0)
      counts[k] =
          sources[k].side->ranges->count_finer(sources[k].side->cache.cubes(), *sources[k].sifted,
                                               *sources[k].keep, prefixes, depth, bits);
  const auto count = [&](int k, unsigned p, std::size_t i, std::uint64_t s) {
    return counts[k][((p * n + i) << bits) + s];
  };
  std::vector<std::vector<JoinRange>> out(n);
  std::vector<KeyPrefix> deeper;
  std::vector<std::pair<std::size_t, std::size_t>> holes;  // (prefix, place) of each
  const std::uint64_t subs = std::uint64_t{1} << bits;
  for (std::size_t i = 0; i < n; ++i) {
    JoinRange open;
    const auto close = [&] {
      if (open.sliced) out[i].push_back(std::move(open));
      open = {};
    };
    for (std::uint64_t s = 0; s < subs; ++s) {
      std::uint64_t kept = 0;
      for (int k = 0; k < 2; ++k)
        for (unsigned p = 0; p < parts[k]; ++p) kept += count(k, p, i, s);
      if (kept == 0) continue;
      if (kept > capacity) {
        if (depth + bits >= kKeyBits) fail(kOutOfMemory);
        close();
        holes.emplace_back(i, out[i].size());
        out[i].emplace_back();
        deeper.push_back(with_key_bits(prefixes[i], depth, bits, s));
        continue;
      }
      if (open.sliced && open.kept + kept > capacity) close();
      if (!open.sliced) {
        open.sliced = true;
        open.first = static_cast<std::size_t>(prefixes[i].hi >> shift);
        open.last = open.first + 1;
        open.slice = {prefixes[i], depth, bits, s, s + 1};
        for (int k = 0; k < 2; ++k) open.per_part[k].assign(parts[k], 0);
      }
      open.slice.last_sub = s + 1;
      open.kept += kept;
      for (int k = 0; k < 2; ++k)
        for (unsigned p = 0; p < parts[k]; ++p) open.per_part[k][p] += count(k, p, i, s);
    }
    close();
  }
  if (deeper.empty()) return out;
  std::vector<std::vector<JoinRange>> finer =
      cut_finer(sources, deeper, depth + bits, capacity, shift);
  // From the last hole back, so that the places of the others hold.
  for (std::size_t h = holes.size(); h-- > 0;)
    fill_hole(out[holes[h].first], holes[h].second, finer[h]);
  return out;
}

}  // namespace

bool PreparedFilter::holds(const search_side& side, const KeyShare& in) const {
  return filter && side.ranges && side.ranges.get() == level && in.lo == share.lo &&
         in.hi == share.hi && in.to_end == share.to_end;
}

void PreparedFilter::reset() {
  filter.reset();
  level = nullptr;
}

std::int64_t join_newest(const search_side& forward, const search_side& backward,
                         std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                         const RangeJoinOptions& options) {
  if (!forward.ranges && !backward.ranges) {
    if (options.ranges_used != nullptr) ++*options.ranges_used;
    return find_sequence(share_of_level(forward.newest(), options.share),
                         share_of_level(backward.newest(), options.share), max_count, sink);
  }
  if (options.range_joins != nullptr) ++*options.range_joins;
  Progress* const progress = options.progress;
  const bool both = forward.ranges && backward.ranges;
  const KeyShare& share = options.share;
  PreparedFilter* const carried = options.carried;
  // A filter of one side's children made by the join before.
  RoutedFilter* const routed = both ? options.routed : nullptr;
  const bool prepared_forward =
      both && routed == nullptr && carried != nullptr && carried->holds(forward, share);
  const bool prepared_backward = both && routed == nullptr && !prepared_forward &&
                                 carried != nullptr && carried->holds(backward, share);
  if (carried != nullptr && !prepared_forward && !prepared_backward) carried->reset();
  SideSource sources[2];  // forward, backward
  sources[0].side = &forward;
  sources[1].side = &backward;
  // The side sifted first: the range-built one; when both are, the one
  // with more children, through a filter of the other's children, so that
  // the larger level is passed over once (or the other one, when the filter
  // of one side's children is at hand, or the side whose children were
  // routed).
  const bool backward_first =
      routed != nullptr
          ? routed->side == &backward
          : prepared_forward ||
                (!prepared_backward && backward.ranges &&
                 (!forward.ranges || backward.ranges->children() >= forward.ranges->children()));
  SideSource& first = backward_first ? sources[1] : sources[0];
  SideSource& other = backward_first ? sources[0] : sources[1];
  std::uint64_t steps = both ? 3 : 1;
  std::uint64_t step = 0, positions = 0;

  // One process of several passes over every child but keeps only those
  // of its share: its filters are sized for them.
  std::optional<PositionFilter> own_first_filter, second_filter;
  // Parents one move from the few children a join may find: the others
  // are passed over (the second sift of two range-built levels, or the
  // sift of one made after a filter of its children).
  std::optional<PositionFilter> near;
  PositionFilter* first_filter = nullptr;
  range_built_level::SiftedPtr first_sifted, second_sifted;
  // The join of the next length may take a filter of all the children of
  // the level sifted here, made in the same pass.
  PositionFilter* fill = nullptr;
  if (both) {
    const range_built_level& smaller = *other.side->ranges;
    const std::uint64_t children = smaller.children();
    const std::uint64_t in_share = children_in_share(*other.side, share);
    if (routed != nullptr) {
      first_filter = &*routed->filter;
      if (progress != nullptr) progress->step(++step, steps, positions);
    } else if (prepared_forward || prepared_backward) {
      first_filter = &*carried->filter;
      if (options.prepared != nullptr) ++*options.prepared;
      if (progress != nullptr) progress->step(++step, steps, positions);
    } else {
      first_filter = &own_first_filter.emplace(budget, in_share, options.filter_bits);
      if (progress != nullptr) progress->step(++step, steps, positions);
      smaller.add_children(other.side->cache.cubes(), *first_filter, share, options.filter_staging);
    }
    positions += children;
    // The children of the larger level kept: about those that pass by
    // chance, plus those that meet.
    const double larger =
        static_cast<double>(first.side->ranges->children()) * share_fraction(*first.side, share);
    const auto expected =
        static_cast<std::uint64_t>(
            larger * first_filter->chance_of_passing(routed != nullptr ? routed->held : in_share) *
            2) +
        (std::uint64_t{1} << 16);
    second_filter.emplace(budget, expected, options.filter_bits);
  } else {
    const LevelRange stored = share_of_level(other.side->newest(), share);
    const range_built_level& level = *first.side->ranges;
    const std::uint64_t next = children_in_share(*first.side, share);
    // The next join may take a filter of the range-built level's children,
    // only where it leaves most of the budget to this join (half of it when
    // the join keeps few children, as it does once parents are passed
    // over).
    const std::uint64_t filter_bytes = next * kFilterBytesPerPosition;
    const bool prepare = carried != nullptr && options.prepare &&
                         filter_bytes <= budget.remaining() / (options.near_parents ? 2 : 4);
    if (prepare && options.near_parents) {
      // That filter made first, in a pass of its own, tells which stored
      // positions may be children: those few, and their parents, make the
      // filters the level is then sifted through, from those parents alone.
      carried->level = first.side->ranges.get();
      carried->share = share;
      const PositionFilter& children = carried->filter.emplace(budget, next, options.filter_bits);
      steps = 2;
      if (progress != nullptr) progress->step(++step, steps, positions);
      level.add_children(first.side->cache.cubes(), *carried->filter, share,
                         options.filter_staging);
      const double chance = children.chance_of_passing(next);
      // Worth it only while the parents one move from them are at most
      // half as many as the children.
      const std::uint64_t moves = std::max(1u, level.legal_move_count());
      const std::uint64_t most = next / 2 / moves;
      const std::uint64_t expected = std::min(
          static_cast<std::uint64_t>(static_cast<double>(stored.end - stored.start) * chance * 2) +
              (std::uint64_t{1} << 16),
          most + 1);
      PositionFilter& wanted = own_first_filter.emplace(budget, expected, options.filter_bits);
      near.emplace(budget, expected * moves * kNearFilterBytesPerPosition / kFilterBytesPerPosition,
                   options.filter_bits);
      const std::uint64_t found =
          level.add_wanted(stored.cubes, stored.start, stored.end, children, wanted, *near, most);
      if (found <= most) {
        first_filter = &wanted;
        if (options.near_joins != nullptr) ++*options.near_joins;
      } else {
        // Too many pass for the parents to be passed over.
        near.reset();
        own_first_filter.reset();
      }
    }
    if (first_filter == nullptr) {
      first_filter =
          &own_first_filter.emplace(budget, stored.end - stored.start, options.filter_bits);
      first_filter->add_all(stored.cubes, stored.start, stored.end, options.filter_staging);
      // Filled in the same pass, only where this join's own filter is read
      // at random: were it staged too, the two would share the staging's
      // rounds, each round then too short for a large filter to pay for
      // being read in order.
      if (prepare && !carried->filter && filter_bytes <= budget.remaining() / 4 &&
          (options.filter_staging != 0 || !FilterStaging::stages_by_default(*first_filter))) {
        carried->level = first.side->ranges.get();
        carried->share = share;
        carried->filter.emplace(budget, next, options.filter_bits);
        fill = &*carried->filter;
      }
    }
  }
  if (progress != nullptr) progress->step(++step, steps, positions);
  sift_side(first, *first_filter, both ? &*second_filter : nullptr, budget, options.most_per_range,
            share, options.filter_staging, first_sifted, fill, near ? &*near : nullptr);
  near.reset();
  positions += first.side->ranges->children();
  if (both) {
    // A filter no longer needed gives its memory to what comes next.
    if (first.entries) {
      own_first_filter.reset();
      if (carried != nullptr) carried->reset();
      if (routed != nullptr) routed->filter.reset();
    }
    // The other side's children wanted are those one move from the first
    // side's kept ones: when these are few and held whole, a filter of the
    // parents one move from them passes over most of the other side's
    // parents without making their children.
    const range_built_level& other_level = *other.side->ranges;
    const std::uint64_t parents_near =
        first.entries ? std::uint64_t{first.held} * other_level.legal_move_count() : 0;
    if (options.near_parents && first.entries &&
        parents_near <= children_in_share(*other.side, share) / 2 &&
        parents_near * kNearFilterBytesPerPosition <= budget.remaining() / 8) {
      near.emplace(budget, parents_near * kNearFilterBytesPerPosition / kFilterBytesPerPosition,
                   options.filter_bits);
      other_level.add_parents_of(first.entries->data(), first.held, *near);
      if (options.near_joins != nullptr) ++*options.near_joins;
    }
    if (progress != nullptr) progress->step(++step, steps, positions);
    sift_side(other, *second_filter, nullptr, budget, options.most_per_range, share,
              options.filter_staging, second_sifted, nullptr, near ? &*near : nullptr);
    near.reset();
    positions += other.side->ranges->children();
    if (other.entries) second_filter.reset();
  }
  if (options.kept != nullptr) {
    *options.kept += range_built_level::sifted_total(*first_sifted);
    if (both) *options.kept += range_built_level::sifted_total(*second_sifted);
  }

  if (!sources[0].built_in_ranges() && !sources[1].built_in_ranges()) {
    if (options.ranges_used != nullptr) ++*options.ranges_used;
    return find_sequence(share_of_level(sources[0].whole(), options.share),
                         share_of_level(sources[1].whole(), options.share), max_count, sink);
  }

  // Ranges of whole buckets, each as large as the buffer allows. A bucket
  // holds whole runs of one position, so no run is ever cut.
  const range_built_level* built = forward.ranges ? forward.ranges.get() : backward.ranges.get();
  const std::size_t buckets = built->buckets();
  const int shift = built->bucket_shift();
  const auto kept_in = [&sources](std::size_t b) {
    return sources[0].in_bucket(b) + sources[1].in_bucket(b);
  };
  std::uint64_t total = 0;
  for (std::size_t b = 0; b < buckets; ++b) total += kept_in(b);
  const std::size_t capacity = entries_room(budget.remaining(), options.most_per_range, total);
  // Each range costs a pass over the parents: a join is walked in no more
  // ranges than a level has buckets, as with whole buckets alone. A buffer
  // that would need more is too small for the join.
  if (total > static_cast<std::uint64_t>(capacity) * buckets) fail(kOutOfMemory);
  // A bucket whose kept children alone exceed the buffer is cut into
  // slices by the next key bits; it stands in `ranges` as a hole until
  // they are known.
  std::vector<JoinRange> ranges;
  std::vector<KeyPrefix> oversized;
  std::vector<std::size_t> holes;
  JoinRange open;
  std::uint64_t in_range = 0;
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::uint64_t n = kept_in(b);
    if (n > capacity) {
      if (open.last > open.first) ranges.push_back(std::move(open));
      holes.push_back(ranges.size());
      ranges.emplace_back();
      oversized.push_back({static_cast<std::uint64_t>(b) << shift, 0});
      open = JoinRange(b + 1, b + 1);
      in_range = 0;
      continue;
    }
    if (in_range + n > capacity && open.last > open.first) {
      ranges.push_back(std::move(open));
      open = JoinRange(b, b);
      in_range = 0;
    }
    open.last = b + 1;
    in_range += n;
  }
  if (open.last > open.first || ranges.empty()) {
    open.last = buckets;
    ranges.push_back(std::move(open));
  }
  if (!oversized.empty()) {
    std::vector<std::vector<JoinRange>> slices =
        cut_finer(sources, oversized, 64 - shift, capacity, shift);
    for (std::size_t h = holes.size(); h-- > 0;) fill_hole(ranges, holes[h], slices[h]);
  }
  if (ranges.size() > buckets) fail(kOutOfMemory);
  if (options.ranges_used != nullptr) *options.ranges_used += ranges.size();
  if (options.slices != nullptr)
    for (const JoinRange& r : ranges) *options.slices += r.sliced ? 1 : 0;

  EntryArena buffer(budget, capacity);
  bool stopped = false;
  const SequenceSink counted = [&sink, &stopped](std::span<const int> moves) {
    const bool go_on = sink(moves);
    if (!go_on) stopped = true;
    return go_on;
  };
  std::int64_t found = 0;
  const std::uint64_t all_steps = step + ranges.size();
  for (const JoinRange& r : ranges) {
    if (progress != nullptr) progress->step(++step, all_steps, positions);
    if (r.sliced) {
      positions += r.kept;
    } else {
      for (std::size_t b = r.first; b < r.last; ++b) positions += kept_in(b);
    }
    // Bucket b holds the positions whose high key word lies in
    // [b << shift, (b + 1) << shift): a range wholly out of the share is
    // not built.
    if (r.last <= (share.lo >> shift)) continue;
    if (!share.to_end && (share.hi == 0 || r.first > ((share.hi - 1) >> shift))) break;
    LevelRange parts[2];
    const std::size_t used = sources[0].part(r, r.per_part[0], shift, buffer.data(), parts[0]);
    sources[1].part(r, r.per_part[1], shift, buffer.data() + used, parts[1]);
    found += find_sequence(share_of_level(parts[0], share), share_of_level(parts[1], share),
                           max_count - found, counted);
    // A limit of 0 or less, like 1, stops at the first sequence found.
    if ((found > 0 && found >= max_count) || stopped) break;
  }
  return found;
}

}  // namespace tessel
