#include "search/rank_join.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "cube/moves.h"

namespace tessel {

namespace {

// The entries that the shares are cut by: a stored newest level, or the
// parent level of a range-built one.
LevelRange cut_level(const search_side& side) {
  if (!side.range_built()) return side.newest();
  return {side.cache.cubes(), side.ranges->parent_start(), side.ranges->parent_end()};
}

// One found sequence as gathered: its length, its moves (a byte each) and
// the indices of the two roots it joins.
static_assert(kMoveCount <= 256, "a move is sent as one byte");

void append_u64(std::string& out, std::uint64_t v) {
  char bytes[sizeof v];
  std::memcpy(bytes, &v, sizeof v);
  out.append(bytes, sizeof v);
}

std::uint64_t read_u64(const std::string& in, std::size_t& at) {
  if (in.size() - at < sizeof(std::uint64_t))
    fail("ERROR: Bug found, a gathered sequence is cut short\n");
  std::uint64_t v;
  std::memcpy(&v, in.data() + at, sizeof v);
  at += sizeof v;
  return v;
}

void append_sequence(std::string& out, std::span<const int> moves, SequenceRoots roots) {
  append_u64(out, moves.size());
  for (int m : moves) out.push_back(static_cast<char>(static_cast<unsigned char>(m)));
  append_u64(out, roots.forward);
  append_u64(out, roots.backward);
}

// A gathered sequence: its moves and roots, where it meets and from which
// rank.
struct Gathered {
  std::vector<int> moves;
  SequenceRoots roots;
  PackedCube position;
  std::uint64_t forward_entry = 0;
  std::size_t rank = 0;
};

// Reads the sequence at `at` of `part` (appended by append_sequence, with
// its meeting after it when `meetings`) into g, and moves `at` past it.
void read_sequence(const std::string& part, std::size_t& at, bool meetings, Gathered& g) {
  const std::uint64_t length = read_u64(part, at);
  if (part.size() - at < length) fail("ERROR: Bug found, a gathered sequence is cut short\n");
  g.moves.clear();
  for (const std::size_t end = at + length; at < end; ++at)
    g.moves.push_back(static_cast<unsigned char>(part[at]));
  g.roots.forward = read_u64(part, at);
  g.roots.backward = read_u64(part, at);
  if (meetings) {
    g.position.hi = read_u64(part, at);
    g.position.lo = read_u64(part, at);
    g.forward_entry = read_u64(part, at);
  }
}

// Hands one more gathered sequence on, as a join of one process would:
// false once the sink says so or `found` reaches max_count (a limit of 0
// or less, like 1, stops at the first sequence).
bool hand_on_gathered(const SequenceSink& sink, const Gathered& g, std::int64_t& found,
                      std::int64_t max_count) {
  ++found;
  return hand_on(sink, g.moves, g.roots) && found < max_count;
}

}  // namespace

bool joins_by_parents(const search_side& forward, const search_side& backward) {
  return (forward.held_share && forward.range_built()) ||
         (backward.held_share && backward.range_built());
}

KeyShare share_of_rank(const search_side& forward, const search_side& backward, int rank,
                       int ranks) {
  if (forward.held_share) return *forward.held_share;
  if (backward.held_share) return *backward.held_share;
  const LevelRange f = cut_level(forward), b = cut_level(backward);
  // The larger, the forward one when alike: so the joins of one search
  // whose cut levels stay the same (a range-built level joined with the
  // other side's stored level, then with that side's range-built next
  // level) are cut alike, and a filter one fills serves the next.
  const bool pick_forward = f.end - f.start >= b.end - b.start;
  const LevelRange& by = pick_forward ? f : b;
  const std::size_t n = by.end - by.start;
  const auto cut = [&](int r) {
    const std::size_t at =
        by.start + n * static_cast<std::size_t>(r) / static_cast<std::size_t>(ranks);
    return at < by.end ? by.cubes[at].hi : ~std::uint64_t{0};
  };
  KeyShare share;
  share.lo = rank == 0 ? 0 : cut(rank);
  share.to_end = rank + 1 == ranks;
  share.hi = share.to_end ? 0 : cut(rank + 1);
  return share;
}

namespace {

// Joins this rank's part (join_newest with `options`), collecting every
// sequence it finds (with where it meets, when `meetings`), and gathers
// what every rank collected, in rank order. A join may run out of memory
// on one rank alone (the ranks' room differs): then every rank fails with
// it at the gathering.
std::vector<std::string> join_and_gather(Ranks& ranks, const search_side& forward,
                                         const search_side& backward, std::int64_t max_count,
                                         MemoryBudget& budget, const RangeJoinOptions& options,
                                         bool meetings) {
  std::string mine;
  std::optional<Failure> failed;
  try {
    join_newest(
        forward, backward, max_count,
        [&mine, meetings](std::span<const int> moves) {
          append_sequence(mine, moves, roots_of_sequence());
          if (meetings) {
            const SequenceMeeting meeting = meeting_of_sequence();
            append_u64(mine, meeting.position.hi);
            append_u64(mine, meeting.position.lo);
            append_u64(mine, meeting.forward_entry);
          }
          return true;
        },
        budget, options);
  } catch (const Failure& failure) {
    failed = failure;
  }
  return all_gather_or_fail(ranks, mine, failed);
}

// Parents whose children one round of route_children sends.
constexpr std::size_t kRoutedParents = std::size_t{1} << 15;

// `mixes` as a routed part: `out` holds them alone.
void write_mixes(std::string& out, const std::vector<std::uint64_t>& mixes) {
  out.assign(reinterpret_cast<const char*>(mixes.data()), mixes.size() * sizeof(std::uint64_t));
}

// The mixes a routed part holds, into `mixes`.
void read_mixes(const std::string& part, std::vector<std::uint64_t>& mixes) {
  if (part.size() % sizeof(std::uint64_t) != 0)
    fail("ERROR: Bug found, a routed part is cut short\n");
  mixes.resize(part.size() / sizeof(std::uint64_t));
  if (!part.empty()) std::memcpy(mixes.data(), part.data(), part.size());
}

// For a join by parents whose other side's newest level is range-built
// too. Each rank holds, for its share of the held level, a filter of the
// other side's children in that share (the one the join before prepared,
// or one made now). Most children of a rank's parents lie in its own
// share; the others go, in rounds of kRoutedParents parents, to the rank
// whose share holds their key (as mixes, PositionFilter::mix_of), which
// tests them against its filter and sends back those that pass, and each
// rank adds these to its own filter. Sifted through it, a rank's children
// are then kept where they may meet the other side's children, whatever
// share they lie in: no rank holds a filter of all those children.
void route_children(Ranks& ranks, const search_side& held, const search_side& other,
                    MemoryBudget& budget, const RangeJoinOptions& options, RoutedFilter& out) {
  const KeyShare mine = *held.held_share;
  const range_built_level& level = *held.ranges;
  const std::size_t first = level.parent_start(), end = level.parent_end();
  std::optional<EntryArena> room;
  std::optional<Failure> failed;
  const std::uint64_t in_share = children_in_share(other, mine);
  try {
    if (options.carried != nullptr && options.carried->holds(other, mine)) {
      out.filter.emplace(std::move(*options.carried->filter));
      options.carried->reset();
      if (options.prepared != nullptr) ++*options.prepared;
    } else {
      if (options.carried != nullptr) options.carried->reset();
      out.filter.emplace(budget, in_share, options.filter_bits);
      other.ranges->add_children(other.cache.cubes(), *out.filter, mine, options.filter_staging);
    }
    room.emplace(budget, kRoutedParents * std::max(1u, level.legal_move_count()));
  } catch (const Failure& failure) {
    failed = failure;
  }
  // Every rank's share and parents.
  std::string told;
  append_u64(told, mine.lo);
  append_u64(told, mine.to_end ? ~std::uint64_t{0} : mine.hi);
  append_u64(told, end - first);
  const std::vector<std::string> all = all_gather_or_fail(ranks, told, failed);
  const std::size_t n = all.size();
  std::vector<std::uint64_t> starts(n), ends(n);  // each rank's share of the keys
  std::uint64_t rounds = 0;
  for (std::size_t r = 0; r < n; ++r) {
    std::size_t at = 0;
    starts[r] = read_u64(all[r], at);
    ends[r] = read_u64(all[r], at);
    const std::uint64_t parents = read_u64(all[r], at);
    rounds = std::max<std::uint64_t>(rounds, (parents + kRoutedParents - 1) / kRoutedParents);
  }
  // One after another, from the first key to the last.
  bool covered = starts[0] == 0 && ends[n - 1] == ~std::uint64_t{0};
  for (std::size_t r = 0; r + 1 < n; ++r) covered = covered && ends[r] == starts[r + 1];
  if (!covered) fail("ERROR: Bug found, the shares of the ranks do not cover the keys\n");
  out.side = &held;
  out.held = in_share;
  PositionFilter* const owned = &*out.filter;

  PackedCube* const children = room->data();
  std::vector<std::vector<std::uint64_t>> mixes(n);
  std::vector<std::string> parts(n);
  std::vector<std::uint64_t> keys;
  std::size_t at = first;
  for (std::uint64_t round = 0; round < rounds; ++round) {
    for (auto& part : mixes) part.clear();
    if (at < end) {
      const std::size_t next = std::min(end, at + kRoutedParents);
      const std::size_t made = level.children_of_parents(held.cache.cubes(), at, next, children);
      at = next;
      for (std::size_t i = 0; i < made; ++i) {
        if (mine.holds(children[i])) continue;
        // The last rank whose share starts at or below the child's key.
        const auto owner = static_cast<std::size_t>(
            std::upper_bound(starts.begin() + 1, starts.end(), children[i].hi) - starts.begin() -
            1);
        mixes[owner].push_back(PositionFilter::mix_of(children[i]));
      }
    }
    for (std::size_t r = 0; r < n; ++r) write_mixes(parts[r], mixes[r]);
    const std::vector<std::string> received = ranks.exchange(parts);
    // Those that may meet, back to their senders.
    for (std::size_t r = 0; r < n; ++r) {
      read_mixes(received[r], mixes[r]);
      const std::size_t count = mixes[r].size();
      keys.resize(count);
      for (std::size_t i = 0; i < count; ++i) keys[i] = owned->key_of_mix(mixes[r][i]);
      constexpr std::size_t kAhead = 16;
      for (std::size_t i = 0; i < std::min(count, kAhead); ++i) owned->prefetch(keys[i]);
      std::size_t kept = 0;
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) owned->prefetch(keys[i + kAhead]);
        if (owned->may_hold_key(keys[i])) mixes[r][kept++] = mixes[r][i];
      }
      mixes[r].resize(kept);
      write_mixes(parts[r], mixes[r]);
    }
    for (const std::string& back : ranks.exchange(parts)) {
      read_mixes(back, keys);
      for (const std::uint64_t x : keys) owned->add_key(owned->key_of_mix(x));
      out.held += keys.size();
    }
  }
}

// join_over_ranks when joins_by_parents.
std::int64_t join_by_parents(Ranks& ranks, const search_side& forward, const search_side& backward,
                             std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                             RangeJoinOptions options) {
  const bool forward_held = forward.held_share && forward.range_built();
  const search_side& held = forward_held ? forward : backward;
  const search_side& other = forward_held ? backward : forward;
  RoutedFilter routed;
  if (other.range_built()) {
    route_children(ranks, held, other, budget, options, routed);
    if (options.routed_joins != nullptr) ++*options.routed_joins;
    options.routed = &routed;
  }
  options.share = {};
  const std::vector<std::string> all =
      join_and_gather(ranks, forward, backward, max_count, budget, options, true);
  std::vector<Gathered> sequences;
  for (std::size_t r = 0; r < all.size(); ++r) {
    for (std::size_t at = 0; at < all[r].size();) {
      sequences.emplace_back().rank = r;
      read_sequence(all[r], at, true, sequences.back());
    }
  }
  // In one process's join, a meeting position's sequences come forward
  // entry by forward entry, each with every backward entry in turn; the
  // entries of the side grown from shares come from the parents of rank 0
  // first, then of rank 1, and so on. Where that side is the forward one,
  // each rank's entries of a position follow those of the ranks before;
  // otherwise every rank has the same forward entries, and for each, the
  // ranks' backward entries follow one another.
  const bool forward_from_shares = forward.held_share && forward.range_built();
  std::stable_sort(sequences.begin(), sequences.end(),
                   [forward_from_shares](const Gathered& a, const Gathered& b) {
                     if (!same_cube_state(a.position, b.position))
                       return cube_state_less(a.position, b.position);
                     if (forward_from_shares) return a.rank < b.rank;
                     if (a.forward_entry != b.forward_entry)
                       return a.forward_entry < b.forward_entry;
                     return a.rank < b.rank;
                   });
  std::int64_t found = 0;
  for (const Gathered& g : sequences)
    if (!hand_on_gathered(sink, g, found, max_count)) break;
  return found;
}

}  // namespace

std::int64_t join_over_ranks(Ranks& ranks, const search_side& forward, const search_side& backward,
                             std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                             RangeJoinOptions options) {
  if (joins_by_parents(forward, backward))
    return join_by_parents(ranks, forward, backward, max_count, sink, budget, options);
  options.share = share_of_rank(forward, backward, ranks.rank(), ranks.size());
  const std::vector<std::string> all =
      join_and_gather(ranks, forward, backward, max_count, budget, options, false);
  std::int64_t found = 0;
  Gathered g;
  for (const std::string& part : all) {
    for (std::size_t at = 0; at < part.size();) {
      read_sequence(part, at, false, g);
      if (!hand_on_gathered(sink, g, found, max_count)) return found;
    }
  }
  return found;
}

}  // namespace tessel
