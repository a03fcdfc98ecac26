#include "search/rank_join.h"

#include <cstring>
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

}  // namespace

KeyShare share_of_rank(const search_side& forward, const search_side& backward, int rank,
                       int ranks) {
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

std::int64_t join_over_ranks(Ranks& ranks, const search_side& forward, const search_side& backward,
                             std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                             RangeJoinOptions options) {
  options.share = share_of_rank(forward, backward, ranks.rank(), ranks.size());
  std::string mine;
  join_newest(
      forward, backward, max_count,
      [&mine](std::span<const int> moves) {
        append_sequence(mine, moves, roots_of_sequence());
        return true;
      },
      budget, options);
  const std::vector<std::string> all = ranks.all_gather(mine);
  std::int64_t found = 0;
  std::vector<int> moves;
  for (const std::string& part : all) {
    std::size_t at = 0;
    while (at < part.size()) {
      const std::uint64_t length = read_u64(part, at);
      if (part.size() - at < length) fail("ERROR: Bug found, a gathered sequence is cut short\n");
      moves.clear();
      for (const std::size_t end = at + length; at < end; ++at)
        moves.push_back(static_cast<unsigned char>(part[at]));
      SequenceRoots roots;
      roots.forward = read_u64(part, at);
      roots.backward = read_u64(part, at);
      ++found;
      // As a join of one process: a limit of 0 or less, like 1, stops at
      // the first sequence.
      if (!hand_on(sink, moves, roots) || found >= max_count) return found;
    }
  }
  return found;
}

}  // namespace tessel
