#include "search/rank_join.h"

#include <algorithm>
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

// join_over_ranks when joins_by_parents.
std::int64_t join_by_parents(Ranks& ranks, const search_side& forward, const search_side& backward,
                             std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                             RangeJoinOptions options) {
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
