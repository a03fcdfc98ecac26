#include "search/rank_join.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "cube/moves.h"
#include "search/packed_cube.h"

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

// Hands on the sequences of every rank's part, in rank order, as a join of
// one process would, counting them in `found`: false once the sink says
// so or `found` reaches max_count (a limit of 0 or less, like 1, stops at
// the first sequence).
bool hand_on_parts(const std::vector<std::string>& parts, const SequenceSink& sink,
                   std::int64_t& found, std::int64_t max_count) {
  Gathered g;
  for (const std::string& part : parts) {
    for (std::size_t at = 0; at < part.size();) {
      read_sequence(part, at, false, g);
      if (!hand_on_gathered(sink, g, found, max_count)) return false;
    }
  }
  return true;
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
                                         bool meetings = false) {
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

// Parents whose children one round of routing sends.
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

// The answer to a routed part: the indices, in it, of the items that
// passed. `out` holds them alone.
void write_indices(std::string& out, const std::vector<std::uint32_t>& indices) {
  out.assign(reinterpret_cast<const char*>(indices.data()), indices.size() * sizeof(std::uint32_t));
}

// Calls use(i) for each index i an answer holds, to a part of `sent` items.
template <typename Use>
void read_indices(const std::string& answer, std::size_t sent, Use&& use) {
  if (answer.size() % sizeof(std::uint32_t) != 0)
    fail("ERROR: Bug found, a routed part is cut short\n");
  for (std::size_t a = 0; a < answer.size(); a += sizeof(std::uint32_t)) {
    std::uint32_t which = 0;
    std::memcpy(&which, answer.data() + a, sizeof which);
    if (which >= sent) fail("ERROR: Bug found, a routed part is cut short\n");
    use(which);
  }
}

// Every rank's share of the keys, in rank order, and the most rounds any
// rank asks for. Gathered from every rank (failing on all of them when one
// has failed before), and checked to cover every key, one share after
// another.
class RankShares {
 public:
  RankShares(Ranks& ranks, const KeyShare& mine, std::uint64_t rounds,
             const std::optional<Failure>& failed)
      : mine_(mine) {
    std::string told;
    append_u64(told, mine.lo);
    append_u64(told, mine.to_end ? ~std::uint64_t{0} : mine.hi);
    append_u64(told, rounds);
    const std::vector<std::string> all = all_gather_or_fail(ranks, told, failed);
    const std::size_t n = all.size();
    starts_.resize(n);
    std::vector<std::uint64_t> ends(n);
    for (std::size_t r = 0; r < n; ++r) {
      std::size_t at = 0;
      starts_[r] = read_u64(all[r], at);
      ends[r] = read_u64(all[r], at);
      rounds_ = std::max(rounds_, read_u64(all[r], at));
    }
    bool covered = n > 0 && starts_[0] == 0 && ends[n - 1] == ~std::uint64_t{0};
    for (std::size_t r = 0; covered && r + 1 < n; ++r) covered = ends[r] == starts_[r + 1];
    if (!covered) fail("ERROR: Bug found, the shares of the ranks do not cover the keys\n");
  }

  const KeyShare& mine() const { return mine_; }
  std::size_t size() const { return starts_.size(); }
  std::uint64_t rounds() const { return rounds_; }
  // The rank whose share holds c: the last whose share starts at or below
  // its key.
  std::size_t owner(const PackedCube& c) const {
    return static_cast<std::size_t>(std::upper_bound(starts_.begin() + 1, starts_.end(), c.hi) -
                                    starts_.begin() - 1);
  }

 private:
  KeyShare mine_;
  std::vector<std::uint64_t> starts_;
  std::uint64_t rounds_ = 0;
};

// Parents whose children one round of routing makes on this rank: at most
// kRoutedParents, their children in at most a sixteenth of what the budget
// has left.
std::size_t routed_parents(const search_side& side, const MemoryBudget& budget) {
  const std::size_t per_parent = sizeof(PackedCube) * std::max(1u, side.ranges->legal_move_count());
  return std::clamp<std::size_t>(budget.remaining() / 16 / per_parent, 1, kRoutedParents);
}

// Rounds of routing the children of a level range-built from this rank's
// share of its parents, `per_round` parents a round.
std::uint64_t routing_rounds(const search_side& side, std::size_t per_round) {
  const std::size_t parents = side.ranges->parent_end() - side.ranges->parent_start();
  return (parents + per_round - 1) / per_round;
}

// Room for the children of `per_round` parents of `side`'s range-built
// level.
std::size_t routing_room(const search_side& side, std::size_t per_round) {
  return per_round * std::max(1u, side.ranges->legal_move_count());
}

// One round of routing: the children of this rank's next `per_round`
// parents of `side`'s range-built level (from `at`, moved on; none once
// they are all made) are made into `children`, and the mixes of those
// outside its share go to `mixes`, a part per rank owning them.
void mix_next_round(const search_side& side, const RankShares& shares, std::size_t per_round,
                    std::size_t& at, PackedCube* children,
                    std::vector<std::vector<std::uint64_t>>& mixes) {
  for (auto& part : mixes) part.clear();
  const range_built_level& level = *side.ranges;
  if (at >= level.parent_end()) return;
  const std::size_t next = std::min(level.parent_end(), at + per_round);
  const std::size_t made = level.children_of_parents(side.cache.cubes(), at, next, children);
  at = next;
  for (std::size_t i = 0; i < made; ++i)
    if (!shares.mine().holds(children[i]))
      mixes[shares.owner(children[i])].push_back(PositionFilter::mix_of(children[i]));
}

// Adds to `filter` the children in this rank's share of every rank's
// parents of `side`'s range-built level (grown from this rank's share of
// its parents): those of its own parents here, on every work thread; those
// of other ranks' parents as they send them. In shares.rounds() rounds of
// `per_round` parents, each rank makes the children of its parents and
// sends the mixes (PositionFilter::mix_of) of those outside its share to
// the ranks whose shares hold them. Every rank calls it together, with
// `children` made (room for the children of `per_round` parents).
void add_children_over_ranks(Ranks& ranks, const search_side& side, const RankShares& shares,
                             PositionFilter& filter, int staging, std::size_t per_round,
                             PackedCube* children) {
  const range_built_level& level = *side.ranges;
  level.add_children(side.cache.cubes(), filter, shares.mine(), staging);
  const std::size_t n = shares.size();
  std::vector<std::vector<std::uint64_t>> mixes(n);
  std::vector<std::string> parts(n);
  std::size_t at = level.parent_start();
  for (std::uint64_t round = 0; round < shares.rounds(); ++round) {
    mix_next_round(side, shares, per_round, at, children, mixes);
    for (std::size_t r = 0; r < n; ++r) write_mixes(parts[r], mixes[r]);
    for (const std::string& part : ranks.exchange(parts)) {
      read_mixes(part, mixes[0]);
      for (const std::uint64_t x : mixes[0]) filter.add_key(filter.key_of_mix(x));
    }
  }
}

// Whether every rank had the room for a step: `failed` is how it ended
// on this one. Other failures end every rank alike.
bool fit_on_all(Ranks& ranks, std::optional<Failure> failed) {
  bool fits = true;
  if (failed && failed->message == kOutOfMemory) {
    fits = false;
    failed.reset();
  }
  for (const std::string& part : all_gather_or_fail(ranks, fits ? "1" : "0", failed))
    fits = fits && part == "1";
  return fits;
}

// Runs `step` on every rank: whether it found the room on all of them.
template <typename Step>
bool fit_on_all(Ranks& ranks, Step&& step) {
  return fit_on_all(ranks, failure_of(step));
}

// Children kept by sift_over_ranks: each child, then its place in the
// order of generation (its parent's index, times 64, plus its place among
// the parent's children).
class KeptChildren {
 public:
  static_assert(kMoveCount <= 64, "a parent's children are numbered in 6 bits");
  explicit KeptChildren(MemoryBudget& budget) : arena_(budget, 2) {}

  std::size_t size() const { return count_; }
  const PackedCube& child(std::size_t i) const { return arena_.data()[2 * i]; }
  std::size_t parent(std::size_t i) const {
    return static_cast<std::size_t>(arena_.data()[2 * i + 1].lo >> 6);
  }
  // Throws Failure("ERROR: not enough memory").
  void add(const PackedCube& child, std::uint64_t order) {
    arena_.reserve(2 * (count_ + 1));
    arena_.data()[2 * count_] = child;
    arena_.data()[2 * count_ + 1] = {order, 0};
    ++count_;
  }
  // Keeps the children whose bit is set in `passing`, in order.
  void keep_only(const std::vector<std::uint64_t>& passing) {
    auto* const kept = reinterpret_cast<Kept*>(arena_.data());
    std::size_t out = 0;
    for (std::size_t i = 0; i < count_; ++i)
      if ((passing[i >> 6] >> (i & 63)) & 1) kept[out++] = kept[i];
    count_ = out;
  }
  // In the level's order, each position's first entry of each last move
  // alone: the entries of the level that was not stored.
  void arrange() {
    auto* const kept = reinterpret_cast<Kept*>(arena_.data());
    std::sort(kept, kept + count_, [](const Kept& a, const Kept& b) {
      if (!same_cube_state(a.child, b.child)) return cube_state_less(a.child, b.child);
      return a.order.lo < b.order.lo;
    });
    std::size_t out = 0;
    for (std::size_t i = 0; i < count_;) {
      std::uint64_t seen = 0;
      const PackedCube head = kept[i].child;
      for (; i < count_ && same_cube_state(kept[i].child, head); ++i) {
        const std::uint64_t bit = std::uint64_t{1} << (unpack_last_move(kept[i].child) & 63);
        if ((seen & bit) != 0) continue;
        seen |= bit;
        kept[out++] = kept[i];
      }
    }
    count_ = out;
  }

 private:
  struct Kept {
    PackedCube child;
    PackedCube order;
  };
  EntryArena arena_;
  std::size_t count_ = 0;
};

// One pass over this rank's parents of `side`'s range-built level (grown
// from this rank's share of its parents), in shares.rounds() rounds of
// `per_round` parents: their children in `range` that lie in this rank's
// share are tested against `keep` here; the mixes of the others go to the
// ranks whose shares hold them, which test them against their `keep` and
// answer which passed. The children that pass go to `kept`, arranged.
// With `near`, only the parents it may hold are expanded (see
// range_built_level::sift).
// With `fill`, every child of every rank's parents in a rank's share is
// added to that rank's `fill` as well. Every rank calls it together, with
// `children` made (room for the children of `per_round` parents); a rank
// out of memory for its kept children goes on taking part and keeps no
// more. Returns whether every rank kept them all.
// A large `fill` is staged (`staging` as for FilterStaging) when there is
// no `near`.
bool sift_over_ranks(Ranks& ranks, const search_side& side, const RankShares& shares,
                     const PositionFilter& keep, PositionFilter* fill, const KeyShare& range,
                     std::size_t per_round, PackedCube* children, KeptChildren& kept,
                     int staging, const PositionFilter* near = nullptr) {
  const range_built_level& level = *side.ranges;
  const PackedCube* cubes = side.cache.cubes();
  const KeyShare& mine = shares.mine();
  const std::size_t end = level.parent_end();
  const std::size_t n = shares.size();
  // Parents whose children are made and worked on at once: few enough for
  // the children to stay in the caches.
  constexpr std::size_t kParentBlock = 128;
  const std::size_t moves = std::max(1u, level.legal_move_count());
  std::vector<std::uint64_t> order(kParentBlock * moves);
  // The children sent to other ranks this round, and their order.
  std::vector<PackedCube> outside;
  std::vector<std::uint64_t> outside_order;
  std::vector<std::vector<std::uint64_t>> mixes(n);
  std::vector<std::vector<std::uint32_t>> sent(n);  // which child of `outside` each mix is
  std::vector<std::string> parts(n);
  std::vector<std::uint32_t> passed;
  std::vector<std::uint64_t> got, keys;
  std::optional<Failure> failed;
  const auto keep_child = [&](const PackedCube& child, std::uint64_t at) {
    if (failed) return;
    try {
      kept.add(child, at);
    } catch (const Failure& failure) {
      failed = failure;
    }
  };
  // A child outside this rank's share: its mix goes to its owner when the
  // owner may keep it or fills its filter with it.
  const auto send_child = [&](const PackedCube& child, std::uint64_t at) {
    if (fill == nullptr && !range.holds(child)) return;
    const std::size_t owner = shares.owner(child);
    mixes[owner].push_back(PositionFilter::mix_of(child));
    sent[owner].push_back(static_cast<std::uint32_t>(outside.size()));
    outside.push_back(child);
    outside_order.push_back(at);
  };
  const auto start_round = [&] {
    for (std::size_t r = 0; r < n; ++r) {
      mixes[r].clear();
      sent[r].clear();
    }
    outside.clear();
    outside_order.clear();
  };
  // The round's mixes to their owners, which test them and answer.
  const auto end_round = [&] {
    for (std::size_t r = 0; r < n; ++r) write_mixes(parts[r], mixes[r]);
    const std::vector<std::string> received = ranks.exchange(parts);
    // Which of them pass here, back to their senders (the children of
    // other ranks' parents outside `range` are only added to `fill`), the
    // filter words of each fetched a few mixes ahead.
    for (std::size_t r = 0; r < n; ++r) {
      read_mixes(received[r], got);
      passed.clear();
      const std::size_t count = got.size();
      keys.resize(count);
      for (std::size_t i = 0; i < count; ++i) keys[i] = keep.key_of_mix(got[i]);
      if (fill != nullptr)
        for (std::uint64_t& x : got) x = fill->key_of_mix(x);
      constexpr std::size_t kMixesAhead = 16;
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kMixesAhead < count) {
          keep.prefetch(keys[i + kMixesAhead]);
          if (fill != nullptr) fill->prefetch(got[i + kMixesAhead]);
        }
        if (fill != nullptr) fill->add_key_alone(got[i]);
        if (keep.may_hold_key(keys[i])) passed.push_back(static_cast<std::uint32_t>(i));
      }
      write_indices(parts[r], passed);
    }
    const std::vector<std::string> answers = ranks.exchange(parts);
    for (std::size_t r = 0; r < n; ++r) {
      read_indices(answers[r], sent[r].size(), [&](std::uint32_t which) {
        const std::uint32_t i = sent[r][which];
        if (range.holds(outside[i])) keep_child(outside[i], outside_order[i]);
      });
    }
  };

  std::size_t at = level.parent_start();
  std::optional<FilterStaging> fill_staged;
  // In an eighth of the filter's size: more rounds, each cheap, and the
  // rank's peak stays low.
  if (fill != nullptr && near == nullptr)
    fill_staged.emplace(*fill, 1, false, staging, fill->size_in_bits() / 64);
  if (fill_staged && !fill_staged->empty()) {
    // `fill` staged: the keys of the children in this rank's share are
    // staged over many parents, routing rounds included, and set region
    // by region whenever the staging is nearly full. `keep` is read at
    // random, a few children ahead.
    struct Waiting {
      PackedCube child;
      std::uint64_t order, key;
    };
    constexpr std::size_t kWaiting = 16;
    std::array<Waiting, kWaiting> waiting;
    std::size_t waiting_at = 0;
    const auto test_waiting = [&](const Waiting& w) {
      if (keep.may_hold_key(w.key) && range.holds(w.child)) keep_child(w.child, w.order);
    };
    std::array<PackedCube, kMoveCount> made;
    std::array<std::uint64_t, kMoveCount> fill_keys;
    std::uint64_t round = 0;
    std::size_t next = std::min(end, at + per_round);
    start_round();
    const auto produce = [&](unsigned) {
      bool room = true;
      while (round < shares.rounds()) {
        for (; room && at < next; ++at) {
          const std::size_t count = level.children_of_parents(cubes, at, at + 1, made.data());
          unsigned local = 0;
          for (std::size_t k = 0; k < count; ++k) {
            const PackedCube& child = made[k];
            const std::uint64_t order = (std::uint64_t{at} << 6) | k;
            if (!mine.holds(child)) {
              send_child(child, order);
              continue;
            }
            const std::uint64_t x = PositionFilter::mix_of(child);
            fill_keys[local++] = fill->key_of_mix(x);
            Waiting& w = waiting[waiting_at++ % kWaiting];
            if (waiting_at > kWaiting) test_waiting(w);
            w = {child, order, keep.key_of_mix(x)};
            keep.prefetch(w.key);
          }
          room &= fill_staged->stage(0, fill_keys.data(), local);
        }
        if (at < next) return true;
        end_round();
        if (++round < shares.rounds()) {
          start_round();
          next = std::min(end, at + per_round);
        }
      }
      for (std::size_t i = waiting_at > kWaiting ? waiting_at - kWaiting : 0; i < waiting_at; ++i)
        test_waiting(waiting[i % kWaiting]);
      return false;
    };
    FilterStaging::run_together(&*fill_staged, fill, nullptr, produce, {}, {});
    if (!fit_on_all(ranks, failed)) return false;
    kept.arrange();
    return true;
  }

  // A child in this rank's share, with its order and keys.
  struct Local {
    PackedCube child;
    std::uint64_t order, keep, fill;
  };
  constexpr std::size_t kAhead = 32;  // children whose filter words are fetched together
  std::array<Local, kAhead> groups[2];
  std::size_t held_in[2] = {0, 0};
  unsigned current = 0;
  const auto work_group = [&](unsigned g) {
    for (std::size_t k = 0; k < held_in[g]; ++k) {
      const Local& l = groups[g][k];
      if (fill != nullptr) fill->add_key_alone(l.fill);
      if (keep.may_hold_key(l.keep) && range.holds(l.child)) keep_child(l.child, l.order);
    }
    held_in[g] = 0;
  };
  for (std::uint64_t round = 0; round < shares.rounds(); ++round) {
    start_round();
    const std::size_t next = std::min(end, at + per_round);
    while (at < next) {
      const std::size_t block_end = std::min(next, at + kParentBlock);
      std::size_t made = 0;
      for (; at < block_end; ++at) {
        if (near != nullptr && !near->may_hold(cubes[at])) continue;
        const std::size_t first = made;
        made += level.children_of_parents(cubes, at, at + 1, children + made);
        for (std::size_t k = first; k < made; ++k) order[k] = (std::uint64_t{at} << 6) | (k - first);
      }
      // Groups of children: the filter words of one group's children in
      // this share are fetched while the group before is tested.
      for (std::size_t b = 0; b < made; b += kAhead) {
        const std::size_t group_end = std::min(made, b + kAhead);
        std::array<Local, kAhead>& group = groups[current];
        std::size_t& held = held_in[current];
        held = 0;
        for (std::size_t i = b; i < group_end; ++i) {
          const PackedCube& child = children[i];
          if (!mine.holds(child)) {
            send_child(child, order[i]);
            continue;
          }
          const std::uint64_t x = PositionFilter::mix_of(child);
          Local& l = group[held++];
          l.child = child;
          l.order = order[i];
          l.keep = keep.key_of_mix(x);
          keep.prefetch(l.keep);
          if (fill != nullptr) {
            l.fill = fill->key_of_mix(x);
            fill->prefetch(l.fill);
          }
        }
        current ^= 1;
        work_group(current);
      }
    }
    // The last group of the round.
    work_group(current ^ 1);
    end_round();
  }
  if (!fit_on_all(ranks, failed)) return false;
  kept.arrange();
  return true;
}

// Adds the position of every kept child to the `filter` of the rank whose
// share holds it. Every rank calls it together.
void add_over_ranks(Ranks& ranks, const RankShares& shares, const KeptChildren& kept,
                    PositionFilter& filter) {
  const std::size_t n = shares.size();
  std::vector<std::vector<std::uint64_t>> mixes(n);
  for (std::size_t i = 0; i < kept.size(); ++i)
    mixes[shares.owner(kept.child(i))].push_back(PositionFilter::mix_of(kept.child(i)));
  std::vector<std::string> parts(n);
  for (std::size_t r = 0; r < n; ++r) write_mixes(parts[r], mixes[r]);
  std::vector<std::uint64_t> got;
  for (const std::string& part : ranks.exchange(parts)) {
    read_mixes(part, got);
    for (const std::uint64_t x : got) filter.add_key(filter.key_of_mix(x));
  }
}

// Kept children whose mixes go to other ranks at most this many at a time.
constexpr std::size_t kRoutedKept = std::size_t{1} << 18;

// Rounds of kRoutedKept kept children that every rank takes part in.
std::uint64_t kept_rounds(Ranks& ranks, std::size_t count) {
  std::string told;
  append_u64(told, (count + kRoutedKept - 1) / kRoutedKept);
  std::uint64_t rounds = 0;
  for (const std::string& part : ranks.all_gather(told)) {
    std::size_t at = 0;
    rounds = std::max(rounds, read_u64(part, at));
  }
  return rounds;
}

// Adds to the `near` filter of the rank whose share holds it every parent
// (of `side`'s range-built level) one move from a kept child. Every rank
// calls it together.
void add_parents_over_ranks(Ranks& ranks, const RankShares& shares, const search_side& side,
                            const KeptChildren& kept, PositionFilter& near) {
  const std::size_t n = shares.size();
  const range_built_level& level = *side.ranges;
  std::vector<PackedCube> parents(std::max(1u, level.legal_move_count()));
  std::vector<std::vector<std::uint64_t>> mixes(n);
  std::vector<std::string> parts(n);
  std::vector<std::uint64_t> got;
  // Each child's parents in this share added once the next child's have
  // been fetched.
  std::vector<std::uint64_t> pending, keys;
  std::size_t at = 0;
  const std::uint64_t rounds = kept_rounds(ranks, kept.size());
  for (std::uint64_t round = 0; round < rounds; ++round) {
    for (auto& part : mixes) part.clear();
    pending.clear();
    for (const std::size_t last = std::min(kept.size(), at + kRoutedKept); at < last; ++at) {
      const unsigned count = level.parents_of(kept.child(at), parents.data());
      keys.clear();
      for (unsigned k = 0; k < count; ++k) {
        if (shares.mine().holds(parents[k])) {
          keys.push_back(near.key_of(parents[k]));
          near.prefetch(keys.back());
        } else {
          mixes[shares.owner(parents[k])].push_back(PositionFilter::mix_of(parents[k]));
        }
      }
      for (const std::uint64_t key : pending) near.add_key_alone(key);
      pending.swap(keys);
    }
    for (const std::uint64_t key : pending) near.add_key_alone(key);
    for (std::size_t r = 0; r < n; ++r) write_mixes(parts[r], mixes[r]);
    for (const std::string& part : ranks.exchange(parts)) {
      read_mixes(part, got);
      for (const std::uint64_t x : got) near.add_key_alone(near.key_of_mix(x));
    }
  }
}

// Keeps only the kept children whose position `holds` (a test of
// positions in one rank's share) passes on the rank whose share holds it.
// Every rank calls it together.
template <typename Holds>
void keep_passing_over_ranks(Ranks& ranks, const RankShares& shares, Holds&& holds,
                             KeptChildren& kept) {
  const std::size_t n = shares.size();
  std::vector<std::uint64_t> passing((kept.size() + 63) / 64 + 1, 0);
  std::vector<std::string> parts(n);
  std::vector<std::vector<std::uint32_t>> sent(n);
  std::vector<std::uint32_t> passed;
  std::size_t at = 0;
  const std::uint64_t rounds = kept_rounds(ranks, kept.size());
  for (std::uint64_t round = 0; round < rounds; ++round) {
    for (std::size_t r = 0; r < n; ++r) {
      parts[r].clear();
      sent[r].clear();
    }
    const std::size_t first = at;
    for (const std::size_t last = std::min(kept.size(), at + kRoutedKept); at < last; ++at) {
      const PackedCube& child = kept.child(at);
      if (shares.mine().holds(child)) {
        if (holds(child)) passing[at >> 6] |= std::uint64_t{1} << (at & 63);
        continue;
      }
      const std::size_t owner = shares.owner(child);
      append_u64(parts[owner], child.hi);
      append_u64(parts[owner], child.lo);
      sent[owner].push_back(static_cast<std::uint32_t>(at - first));
    }
    const std::vector<std::string> received = ranks.exchange(parts);
    for (std::size_t r = 0; r < n; ++r) {
      passed.clear();
      std::uint32_t i = 0;
      for (std::size_t p = 0; p < received[r].size(); ++i) {
        PackedCube position;
        position.hi = read_u64(received[r], p);
        position.lo = read_u64(received[r], p);
        if (holds(position)) passed.push_back(i);
      }
      write_indices(parts[r], passed);
    }
    const std::vector<std::string> answers = ranks.exchange(parts);
    for (std::size_t r = 0; r < n; ++r) {
      read_indices(answers[r], sent[r].size(), [&](std::uint32_t which) {
        const std::size_t i = first + sent[r][which];
        passing[i >> 6] |= std::uint64_t{1} << (i & 63);
      });
    }
  }
  kept.keep_only(passing);
}

// Kept children sent at most this many at a time from each rank to the
// ranks owning them.
constexpr std::size_t kGatheredChildren = std::size_t{1} << 20;

// A part of a range-built level gathered by the rank whose share holds
// its positions, from the ranks holding its parents: the children, sorted
// as the level holds them, and every entry of each of their parents, in
// their level's order. Its paths are those of the same entries of the
// whole level.
struct GatheredPart {
  std::optional<EntryArena> children;
  std::optional<EntryArena> parents;
  std::size_t child_count = 0, parent_count = 0;

  LevelRange range(const search_side& side) const {
    const std::size_t first = side.ranges->parent_start();
    if (first == 0) fail("ERROR: Bug found, a level held in shares without a level below it\n");
    const PackedCube* cubes = side.cache.cubes();
    LevelRange level{children->data(), 0, child_count, parents->data(), 0, parent_count};
    level.lower = cubes;
    level.lower_start = marker_value(cubes[first - 1]);
    level.lower_end = first - 1;
    return level;
  }
};

// A kept child as the rank owning its position receives it: the child and
// the position of its parent (which orders the entries of one position as
// they were generated: each comes from the parent one move away).
struct ChildAndParent {
  PackedCube child;
  PackedCube parent;
};
static_assert(sizeof(ChildAndParent) == 2 * sizeof(PackedCube));

// Sends each of the kept children of `side`'s range-built level (grown
// from this rank's share of its parents), with every entry of its parent,
// to the rank whose share holds its position, and gathers what this rank
// receives into `out`. Every rank calls it together; a rank that fails
// goes on taking part, and every rank fails with it at the end; returns
// false on all of them when one ran out of memory.
bool gather_at_owners(Ranks& ranks, const search_side& side, const KeptChildren& kept,
                      const RankShares& shares, MemoryBudget& budget, GatheredPart& out) {
  const std::size_t n = shares.size();
  const range_built_level& level = *side.ranges;
  const PackedCube* cubes = side.cache.cubes();
  const std::size_t parent_start = level.parent_start(), parent_end = level.parent_end();
  const std::size_t count = kept.size();
  std::optional<Failure> failed;
  std::string told;
  append_u64(told, (count + kGatheredChildren - 1) / kGatheredChildren);
  std::uint64_t rounds = 0;
  for (const std::string& part : all_gather_or_fail(ranks, told, failed)) {
    std::size_t at = 0;
    rounds = std::max(rounds, read_u64(part, at));
  }
  try {
    out.children.emplace(budget, 1);
    out.parents.emplace(budget, 1);
  } catch (const Failure& failure) {
    failed = failure;
  }
  std::vector<std::string> parts(n);
  std::size_t sent = 0;
  for (std::uint64_t round = 0; round < rounds; ++round) {
    for (std::string& part : parts) part.clear();
    const std::size_t last = std::min(count, sent + kGatheredChildren);
    for (; sent < last; ++sent) {
      const PackedCube& child = kept.child(sent);
      // The run of entries of the parent's position.
      std::size_t i = kept.parent(sent), j = i + 1;
      if (i < parent_start || i >= parent_end) {
        failed = Failure{"ERROR: Bug found, a kept child without its parent\n", 1};
        continue;
      }
      while (i > parent_start && same_cube_state(cubes[i - 1], cubes[i])) --i;
      while (j < parent_end && same_cube_state(cubes[j], cubes[i])) ++j;
      std::string& part = parts[shares.owner(child)];
      append_u64(part, child.hi);
      append_u64(part, child.lo);
      append_u64(part, j - i);
      for (; i < j; ++i) {
        append_u64(part, cubes[i].hi);
        append_u64(part, cubes[i].lo);
      }
    }
    const std::vector<std::string> received = ranks.exchange(parts);
    if (failed) continue;
    try {
      for (const std::string& part : received) {
        for (std::size_t at = 0; at < part.size();) {
          PackedCube child;
          child.hi = read_u64(part, at);
          child.lo = read_u64(part, at);
          const std::uint64_t entries = read_u64(part, at);
          if (entries == 0 || (part.size() - at) / (2 * sizeof(std::uint64_t)) < entries)
            fail("ERROR: Bug found, a gathered child is cut short\n");
          out.children->reserve(2 * (out.child_count + 1));
          out.parents->reserve(out.parent_count + entries);
          PackedCube* const pair = out.children->data() + 2 * out.child_count++;
          pair[0] = child;
          for (std::uint64_t e = 0; e < entries; ++e) {
            PackedCube entry;
            entry.hi = read_u64(part, at);
            entry.lo = read_u64(part, at);
            if (e == 0) pair[1] = entry;
            out.parents->data()[out.parent_count++] = entry;
          }
        }
      }
    } catch (const Failure& failure) {
      failed = failure;
    }
  }
  if (!fit_on_all(ranks, failed)) return false;
  // The children in the level's order, then alone.
  auto* const pairs = reinterpret_cast<ChildAndParent*>(out.children->data());
  std::sort(pairs, pairs + out.child_count, [](const ChildAndParent& a, const ChildAndParent& b) {
    if (!same_cube_state(a.child, b.child)) return cube_state_less(a.child, b.child);
    return cube_state_less(a.parent, b.parent);
  });
  PackedCube* const children = out.children->data();
  for (std::size_t i = 0; i < out.child_count; ++i) children[i] = pairs[i].child;
  // Each parent's entries once, in their level's order: a parent's
  // entries come as a run, in that order, once per child of it.
  PackedCube* const parents = out.parents->data();
  std::stable_sort(parents, parents + out.parent_count, cube_state_less);
  out.parent_count = remove_duplicates(parents, 0, out.parent_count);
  return true;
}

// The two halves of a key range, by the high key word; none for a range
// of one high word.
std::optional<std::pair<KeyShare, KeyShare>> halves_of(const KeyShare& range) {
  std::uint64_t mid = 0;
  if (range.to_end) {
    if (range.lo == ~std::uint64_t{0}) return std::nullopt;
    // 2^64 - lo keys: their half, without overflow.
    mid = range.lo == 0 ? std::uint64_t{1} << 63 : range.lo + (0 - range.lo) / 2;
  } else {
    if (range.hi - range.lo < 2) return std::nullopt;
    mid = range.lo + (range.hi - range.lo) / 2;
  }
  return std::pair<KeyShare, KeyShare>{{range.lo, mid, false}, {mid, range.hi, range.to_end}};
}

// join_over_ranks when both sides' last stored levels are held in shares,
// cut alike, and a side's newest level is range-built from its share.
// Every join is made by the rank whose share holds the meeting position:
// the sequences of all ranks, in rank order, are those of one process's
// join. Each rank passes once over the children of its own parents
// (sift_over_ranks), testing them against a filter of the other side's
// newest level in the share they lie in; when both levels are range-built,
// the first side's kept children make, in each share, the filter the
// other side's children are then tested against. The children kept go,
// with their parents' entries, to the ranks owning their positions
// (gather_at_owners), which join them.
//
// Where the other side's next level is range-built too, the pass over a
// range-built level joined with a stored one also fills, on every rank, a
// filter of that level's children in its share (carried): the next join
// tests the other side's children against it.
std::int64_t join_at_owners(Ranks& ranks, const search_side& forward, const search_side& backward,
                            std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                            const RangeJoinOptions& options) {
  const KeyShare mine = *forward.held_share;
  const KeyShare& theirs = *backward.held_share;
  if (mine.lo != theirs.lo || mine.hi != theirs.hi || mine.to_end != theirs.to_end)
    fail("ERROR: Bug found, the two sides are held in different shares\n");
  const bool both = forward.range_built() && backward.range_built();
  PreparedFilter* const carried = options.carried;
  // The side tested first: the range-built one; when both are, the one
  // whose filter of children is not at hand (the same on every rank, as
  // every rank prepared it or none), else the one with more children on
  // all ranks together (each rank knows its parents' alone).
  bool backward_first = backward.range_built();
  if (both) {
    std::string told;
    append_u64(told, forward.ranges->children());
    append_u64(told, backward.ranges->children());
    told.push_back(carried != nullptr && carried->holds(forward, mine)    ? 'f'
                   : carried != nullptr && carried->holds(backward, mine) ? 'b'
                                                                           : '-');
    std::uint64_t children[2] = {0, 0};
    std::string prepared;
    for (const std::string& part : ranks.all_gather(told)) {
      std::size_t at = 0;
      children[0] += read_u64(part, at);
      children[1] += read_u64(part, at);
      prepared += part.substr(at);
    }
    if (prepared == std::string(prepared.size(), 'f'))
      backward_first = true;
    else if (prepared == std::string(prepared.size(), 'b'))
      backward_first = false;
    else
      backward_first = children[1] >= children[0];
  }
  const search_side& first = backward_first ? backward : forward;
  const search_side& second = backward_first ? forward : backward;
  if (options.routed_joins != nullptr) ++*options.routed_joins;
  if (options.range_joins != nullptr) ++*options.range_joins;

  // Rounds of as many parents on both sides.
  std::size_t per_round = routed_parents(first, budget);
  if (both) per_round = std::min(per_round, routed_parents(second, budget));
  std::uint64_t rounds = routing_rounds(first, per_round);
  if (both) rounds = std::max(rounds, routing_rounds(second, per_round));
  const RankShares shares(ranks, mine, rounds, std::nullopt);
  std::optional<EntryArena> room;
  all_or_none(ranks, [&] {
    room.emplace(budget, std::max(routing_room(first, per_round),
                                  both ? routing_room(second, per_round) : std::size_t{0}));
  });

  // What the first side's children are tested against: a filter of the
  // second side's newest level in this rank's share (stored, or the
  // children of every rank's parents).
  std::optional<PositionFilter> filter;
  if (both && carried != nullptr && carried->holds(second, mine)) {
    filter.emplace(std::move(*carried->filter));
    if (options.prepared != nullptr) ++*options.prepared;
  }
  if (carried != nullptr) carried->reset();
  const auto make_filter = [&] {
    all_or_none(ranks, [&] {
      if (both) {
        filter.emplace(budget, children_in_share(second, mine), options.filter_bits);
      } else {
        const LevelRange stored = second.newest();
        filter.emplace(budget, stored.end - stored.start, options.filter_bits);
        filter->add_all(stored.cubes, stored.start, stored.end, options.filter_staging);
      }
    });
    if (both)
      add_children_over_ranks(ranks, second, shares, *filter, options.filter_staging, per_round,
                              room->data());
  };
  if (!filter) make_filter();
  // The next join's filter, made in this one's pass.
  PositionFilter* fill = nullptr;
  if (!both && carried != nullptr && options.prepare) {
    const std::uint64_t next = children_in_share(first, mine);
    const bool room_for_it =
        all_agree(ranks, next * kFilterBytesPerPosition <= budget.remaining() / 2);
    if (room_for_it) {
      all_or_none(ranks, [&] {
        carried->level = first.ranges.get();
        carried->share = mine;
        fill = &carried->filter.emplace(budget, next, options.filter_bits);
      });
    }
  }

  // The join walks key ranges in order, from one covering every key: a
  // range whose kept children do not fit on some rank is cut in two, and
  // those are walked in its place.
  std::vector<KeyShare> ranges = {KeyShare{}};
  std::int64_t found = 0;
  while (!ranges.empty()) {
    const KeyShare range = ranges.back();
    ranges.pop_back();
    // The first side's children in the range that may meet the second
    // side, then the second side's that may meet those.
    if (!filter) make_filter();
    std::optional<KeptChildren> kept[2];
    all_or_none(ranks, [&] { kept[0].emplace(budget); });
    bool fits = sift_over_ranks(ranks, first, shares, *filter, fill, range, per_round,
                                room->data(), *kept[0], options.filter_staging);
    // The next join's filter is whole after one pass.
    fill = nullptr;
    // Made again should a range after this one need it.
    if (fits && ranges.empty()) filter.reset();
    if (options.kept != nullptr) *options.kept += kept[0]->size();
    if (fits && both) {
      std::optional<PositionFilter> near;
      fits = fit_on_all(ranks, [&] {
        near.emplace(budget, kept[0]->size() + (std::uint64_t{1} << 16), options.filter_bits);
        kept[1].emplace(budget);
      });
      if (fits) {
        add_over_ranks(ranks, shares, *kept[0], *near);
        // The second side's children wanted are one move from the first
        // side's kept ones: when these are few, only the parents one move
        // from them are expanded.
        std::optional<PositionFilter> parents;
        const std::uint64_t parents_near =
            std::uint64_t{kept[0]->size()} * second.ranges->legal_move_count();
        if (options.near_parents &&
            all_agree(ranks, parents_near <= second.ranges->children() / 2 &&
                                 parents_near <= budget.remaining() / 8)) {
          all_or_none(ranks, [&] {
            parents.emplace(budget, parents_near / 2 + (std::uint64_t{1} << 12),
                            options.filter_bits);
          });
          add_parents_over_ranks(ranks, shares, second, *kept[0], *parents);
          if (options.near_joins != nullptr) ++*options.near_joins;
        }
        fits = sift_over_ranks(ranks, second, shares, *near, nullptr, range, per_round,
                               room->data(), *kept[1], options.filter_staging,
                               parents ? &*parents : nullptr);
        if (options.kept != nullptr) *options.kept += kept[1]->size();
        if (fits) {
          // Of the first side's kept children, those the second side's
          // may meet.
          std::optional<PositionFilter> met;
          all_or_none(ranks, [&] {
            met.emplace(budget, kept[1]->size() + (std::uint64_t{1} << 12), options.filter_bits);
          });
          add_over_ranks(ranks, shares, *kept[1], *met);
          keep_passing_over_ranks(
              ranks, shares, [&met](const PackedCube& c) { return met->may_hold(c); }, *kept[0]);
        }
      }
    }
    if (fits && !both) {
      // Only the children that meet the stored level go to be joined.
      const LevelRange stored = second.newest();
      keep_passing_over_ranks(
          ranks, shares,
          [&stored](const PackedCube& c) {
            return find_index_in_cache_level(stored.cubes, stored.start, stored.end, c) !=
                   stored.end;
          },
          *kept[0]);
    }
    // Each rank joins the meetings in its share.
    GatheredPart gathered[2];
    if (fits) fits = gather_at_owners(ranks, first, *kept[0], shares, budget, gathered[0]);
    kept[0].reset();
    if (fits && both) fits = gather_at_owners(ranks, second, *kept[1], shares, budget, gathered[1]);
    kept[1].reset();
    if (!fits) {
      const std::optional<std::pair<KeyShare, KeyShare>> halves = halves_of(range);
      if (!halves) fail(kOutOfMemory);
      ranges.push_back(halves->second);
      ranges.push_back(halves->first);
      continue;
    }
    if (options.ranges_used != nullptr) ++*options.ranges_used;
    LevelRange levels[2];  // first, second
    levels[0] = gathered[0].range(first);
    if (both)
      levels[1] = gathered[1].range(second);
    else
      levels[1] = share_of_level(share_of_level(second.newest(), mine), range);
    const LevelRange& f = backward_first ? levels[1] : levels[0];
    const LevelRange& b = backward_first ? levels[0] : levels[1];
    std::string found_here;
    std::optional<Failure> join_failed;
    try {
      find_sequence(f, b, max_count - found, [&found_here](std::span<const int> moves) {
        append_sequence(found_here, moves, roots_of_sequence());
        return true;
      });
    } catch (const Failure& failure) {
      join_failed = failure;
    }
    if (!hand_on_parts(all_gather_or_fail(ranks, found_here, join_failed), sink, found,
                       max_count))
      break;
  }
  return found;
}

// For a join by parents whose other side's newest level is range-built
// from a level whole on every rank. Each rank holds, for its share of the
// held level, a filter of the other side's children in that share (the one
// the join before prepared, or one made now). Most children of a rank's
// parents lie in its own share; the others go to the rank whose share
// holds their key, which tests them against its filter and sends back
// those that pass, and each rank adds these to its own filter. Sifted
// through it, a rank's children are then kept where they may meet the
// other side's children, whatever share they lie in: no rank holds a
// filter of all those children.
void route_children(Ranks& ranks, const search_side& held, const search_side& other,
                    MemoryBudget& budget, const RangeJoinOptions& options, RoutedFilter& out) {
  const KeyShare mine = *held.held_share;
  std::optional<EntryArena> room;
  std::optional<Failure> failed;
  const std::uint64_t in_share = children_in_share(other, mine);
  const std::size_t per_round = routed_parents(held, budget);
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
    room.emplace(budget, routing_room(held, per_round));
  } catch (const Failure& failure) {
    failed = failure;
  }
  const RankShares shares(ranks, mine, routing_rounds(held, per_round), failed);
  out.side = &held;
  out.held = in_share;
  const range_built_level& level = *held.ranges;
  PositionFilter& filter = *out.filter;
  PackedCube* const children = room->data();
  const std::size_t n = shares.size();
  std::vector<std::vector<std::uint64_t>> mixes(n);
  std::vector<std::string> parts(n);
  std::vector<std::uint64_t> keys;
  std::size_t at = level.parent_start();
  for (std::uint64_t round = 0; round < shares.rounds(); ++round) {
    mix_next_round(held, shares, per_round, at, children, mixes);
    for (std::size_t r = 0; r < n; ++r) write_mixes(parts[r], mixes[r]);
    const std::vector<std::string> received = ranks.exchange(parts);
    // Those that may meet, back to their senders.
    for (std::size_t r = 0; r < n; ++r) {
      read_mixes(received[r], mixes[r]);
      const std::size_t count = mixes[r].size();
      keys.resize(count);
      for (std::size_t i = 0; i < count; ++i) keys[i] = filter.key_of_mix(mixes[r][i]);
      constexpr std::size_t kAhead = 16;
      for (std::size_t i = 0; i < std::min(count, kAhead); ++i) filter.prefetch(keys[i]);
      std::size_t kept = 0;
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) filter.prefetch(keys[i + kAhead]);
        if (filter.may_hold_key(keys[i])) mixes[r][kept++] = mixes[r][i];
      }
      mixes[r].resize(kept);
      write_mixes(parts[r], mixes[r]);
    }
    for (const std::string& back : ranks.exchange(parts)) {
      read_mixes(back, keys);
      for (const std::uint64_t x : keys) filter.add_key(filter.key_of_mix(x));
      out.held += keys.size();
    }
  }
}

// join_over_ranks when joins_by_parents and only one side holds a level in
// shares: every rank joins the children of the parents it holds with the
// other side's level (whole, or range-built from a whole level), and the
// sequences of all ranks are put in the order of one process's join.
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
  std::stable_sort(sequences.begin(), sequences.end(),
                   [forward_held](const Gathered& a, const Gathered& b) {
                     if (!same_cube_state(a.position, b.position))
                       return cube_state_less(a.position, b.position);
                     if (forward_held) return a.rank < b.rank;
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
  if (joins_by_parents(forward, backward)) {
    if (forward.held_share && backward.held_share)
      return join_at_owners(ranks, forward, backward, max_count, sink, budget, options);
    return join_by_parents(ranks, forward, backward, max_count, sink, budget, options);
  }
  options.share = share_of_rank(forward, backward, ranks.rank(), ranks.size());
  std::int64_t found = 0;
  hand_on_parts(join_and_gather(ranks, forward, backward, max_count, budget, options), sink, found,
                max_count);
  return found;
}

}  // namespace tessel
