// Level caches: the levels grown from a cube, their order, their markers,
// duplicate merging, growth and the memory limit.
#include "search/level_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "core/parallel.h"
#include "cube/masks.h"
#include "cube/moves.h"
#include "test_util.h"

namespace tessel {
namespace {


std::size_t first_index_of(const std::vector<int>& list, int m) {
  return static_cast<std::size_t>(std::find(list.begin(), list.end(), m) - list.begin());
}

// Checks one level [start, end) against the level before it,
// [prev_start, prev_end), without using the level code: sorted, no last
// move twice in a run of one position, the marker, every entry a real
// child of the previous level by a legal move that the pruning rule
// allows, and (with check_order) the entries of each run in generation
// order: generating parent index, then position of the move in the list.
void check_level(const PackedCube* cubes, std::size_t prev_start, std::size_t prev_end,
                 std::size_t start, std::size_t end, const LegalMoves& legal, int direction,
                 bool check_order) {
  const std::vector<int> list(legal.moves().begin(), legal.moves().end());
  ASSERT_EQ(cubes[start - 1], level_marker(prev_start)) << "marker before " << start;
  const auto less = [](const PackedCube& a, const PackedCube& b) {
    return compare_packed_cubes_only_cube_state(a, b) < 0;
  };
  std::pair<std::size_t, std::size_t> previous_key{0, 0};
  std::uint64_t seen_moves = 0;
  for (std::size_t i = start; i < end; ++i) {
    const int order =
        i == start ? -1 : compare_packed_cubes_only_cube_state(cubes[i - 1], cubes[i]);
    ASSERT_LE(order, 0) << "unsorted at " << i;
    const bool new_run = order != 0;
    if (new_run) seen_moves = 0;
    Cube child;
    int m = -1;
    unpack_ce(child, m, cubes[i]);
    ASSERT_LT(first_index_of(list, m), list.size()) << "move " << m << " not legal";
    const std::uint64_t bit = std::uint64_t{1} << m;
    ASSERT_EQ(seen_moves & bit, 0u) << "last move " << m << " twice in a run at " << i;
    seen_moves |= bit;

    const Cube parent = apply_move(reverse_rotation(m), child);
    ASSERT_NE(parent, child) << "a move that changes nothing was stored";
    const PackedCube key = pack_ce(parent, 0);
    std::size_t p = static_cast<std::size_t>(
        std::lower_bound(cubes + prev_start, cubes + prev_end, key, less) - cubes);
    // The first entry of the parent position after which m is allowed.
    while (p < prev_end && compare_packed_cubes_only_cube_state(cubes[p], key) == 0 && p != 0 &&
           is_forbidden_pair(m, unpack_last_move(cubes[p]), direction))
      ++p;
    ASSERT_TRUE(p < prev_end && compare_packed_cubes_only_cube_state(cubes[p], key) == 0)
        << "entry " << i << " has no parent in the previous level";
    const std::pair<std::size_t, std::size_t> key_order{p, first_index_of(list, m)};
    if (check_order && !new_run) {
      ASSERT_LT(previous_key, key_order) << "out of generation order at " << i;
    }
    previous_key = key_order;
  }
}

TEST(LevelCache, LevelSizesFromTheSolvedCube) {
  MemoryBudget budget;
  const LegalMoves legal;
  search_side side(full_cube(), kForward, budget);
  const std::size_t expected[] = {18, 243, 3240, 43254, 577206, 7682805};
  std::size_t prev_start = 0, prev_end = 1;
  for (std::size_t level = 0; level < std::size(expected); ++level) {
    SCOPED_TRACE("level " + std::to_string(level + 1));
    const std::size_t size = side.grow(legal);
    ASSERT_EQ(size, expected[level]);
    ASSERT_EQ(side.cache.used(), side.level_end);
    if (level == 0) {
      EXPECT_EQ(side.cache.used(), 20u);  // root, marker, 18 entries
      EXPECT_EQ(side.cache.cubes()[1], level_marker(0));
    }
    check_level(side.cache.cubes(), prev_start, prev_end, side.level_start, side.level_end, legal,
                kForward, true);
    if (testing::Test::HasFatalFailure()) return;
    prev_start = side.level_start;
    prev_end = side.level_end;
  }
}

// All (position, last move) pairs that sequences of `depth` moves reach,
// enumerated directly: same-family moves never follow each other, same-axis
// moves come in decreasing (forward) or increasing (backward) index order,
// and a move that changes nothing is not taken.
void enumerate(const Cube& c, int last, int depth, const std::vector<int>& moves, int direction,
               std::set<std::pair<std::uint64_t, std::uint64_t>>& out) {
  if (depth == 0) {
    const PackedCube p = pack_ce(c, last);
    out.emplace(p.hi, p.lo);
    return;
  }
  const std::string axes = "RUFRUFxyzRUFRRUUFF";
  for (int m : moves) {
    if (last >= 0) {
      if (m / 3 == last / 3) continue;
      if (axes[static_cast<std::size_t>(m / 3)] == axes[static_cast<std::size_t>(last / 3)] &&
          (direction == 1 ? m > last : m < last))
        continue;
    }
    const Cube n = apply_move(m, c);
    if (n == c) continue;
    enumerate(n, m, depth - 1, moves, direction, out);
  }
}

struct EnumerationCase {
  const char* name;
  Cube root;
  const char* generator;  // nullptr: the 18 face turns
  int direction;
  int depth;
};

void PrintTo(const EnumerationCase& c, std::ostream* os) { *os << c.name; }

class LevelsMatchEnumeration : public ::testing::TestWithParam<EnumerationCase> {};

TEST_P(LevelsMatchEnumeration, SamePositionsAndLastMoves) {
  const auto& c = GetParam();
  MemoryBudget budget;
  LegalMoves legal;
  if (c.generator) legal.set_3gen(c.generator);
  std::vector<int> distinct(legal.moves().begin(), legal.moves().end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  search_side side(c.root, c.direction, budget);
  std::size_t prev_start = 0, prev_end = 1;
  for (int depth = 1; depth <= c.depth; ++depth) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    side.grow(legal);
    std::set<std::pair<std::uint64_t, std::uint64_t>> expected;
    enumerate(c.root, -1, depth, distinct, c.direction, expected);
    std::set<std::pair<std::uint64_t, std::uint64_t>> got;
    for (std::size_t i = side.level_start; i < side.level_end; ++i)
      got.emplace(side.cache.cubes()[i].hi, side.cache.cubes()[i].lo);
    ASSERT_EQ(side.level_end - side.level_start, got.size()) << "an entry is stored twice";
    ASSERT_EQ(got, expected);
    check_level(side.cache.cubes(), prev_start, prev_end, side.level_start, side.level_end, legal,
                c.direction, true);
    if (testing::Test::HasFatalFailure()) return;
    prev_start = side.level_start;
    prev_end = side.level_end;
  }
}

Cube scrambled(const Cube& c, const char* moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}

INSTANTIATE_TEST_SUITE_P(
    Roots, LevelsMatchEnumeration,
    ::testing::Values(
        EnumerationCase{"solved_forward", full_cube(), nullptr, kForward, 4},
        EnumerationCase{"solved_backward", full_cube(), nullptr, kBackward, 4},
        EnumerationCase{"scrambled_backward", scrambled(full_cube(), "R U2 F' L D B2"), nullptr,
                        kBackward, 3},
        EnumerationCase{"cross", scrambled(add_cross(empty_cube()), "F R'"), nullptr, kForward, 4},
        EnumerationCase{"domino", add_domino_elements(empty_cube()), nullptr, kForward, 4},
        EnumerationCase{"corner_orientation", add_missing_corner_orientation(empty_cube()), "RrMxU",
                        kForward, 3},
        EnumerationCase{"f2l_slices", scrambled(add_f2l(empty_cube()), "r U'"), "RUMEyr", kBackward,
                        3},
        EnumerationCase{"repeated_letters", scrambled(full_cube(), "F D'"), "RRUUR2", kForward, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LevelCache, EmptyCubeExpandsToNothing) {
  MemoryBudget budget;
  const LegalMoves legal;
  search_side side(empty_cube(), kForward, budget);
  EXPECT_EQ(side.grow(legal), 0u);
  EXPECT_EQ(side.level_start, 2u);
  EXPECT_EQ(side.level_end, 2u);  // end + 1 of level 0
  EXPECT_EQ(side.cache.used(), 2u);
  // The next marker goes right after the empty level's own marker.
  EXPECT_EQ(side.grow(legal), 0u);
  EXPECT_EQ(side.level_end, 3u);
  EXPECT_EQ(side.cache.cubes()[1], level_marker(0));
  EXPECT_EQ(side.cache.cubes()[2], level_marker(2));
}

TEST(LevelCache, EmptyLegalListGivesEmptyLevels) {
  MemoryBudget budget;
  LegalMoves legal;
  legal.set_3gen("");
  search_side side(full_cube(), kForward, budget);
  for (std::size_t level = 1; level <= 4; ++level) {
    EXPECT_EQ(side.grow(legal), 0u);
    EXPECT_EQ(side.level_end, level + 1);
    EXPECT_EQ(side.cache.cubes()[level], level_marker(level == 1 ? 0 : level));
  }
  EXPECT_EQ(side.cache.cubes()[0], pack_ce(full_cube(), 0));
}

TEST(LevelCache, GrowthKeepsEveryEntryAndMarker) {
  MemoryBudget budget;
  const LegalMoves legal;
  search_side side(scrambled(full_cube(), "B' D2 L"), kForward, budget);
  for (int level = 1; level <= 3; ++level) side.grow(legal);
  ASSERT_EQ(side.cache.capacity(), initial_cache_size);
  const std::vector<PackedCube> before(side.cache.cubes(), side.cache.cubes() + side.level_end);
  side.grow(legal);  // about 46000 entries in all
  EXPECT_GT(side.cache.used(), initial_cache_size);
  EXPECT_GE(side.cache.capacity(), side.cache.used());
  EXPECT_EQ(side.cache.capacity() % initial_cache_size, 0u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), side.cache.cubes()));
}

TEST(LevelCache, LevelEndingJustBeforeCapacity) {
  // A hand-made level whose marker for the next level takes the last
  // allocated slot: the first new entry needs the next block.
  MemoryBudget budget;
  const LegalMoves legal;
  growing_cache cache(budget);
  const std::size_t end = initial_cache_size - 1;
  cache.cubes()[0] = pack_ce(empty_cube(), 0);
  cache.cubes()[1] = level_marker(0);
  for (std::size_t i = 2; i < end; ++i) cache.cubes()[i] = pack_ce(full_cube(), 0);  // after R
  cache.cubes()[end] = level_marker(2);
  const std::size_t new_end = generate_new_level(cache, 2, end, kForward, legal);
  // 12 children (neither R nor L may follow R), each once however many
  // parents made it.
  ASSERT_EQ(new_end, end + 1 + 12);
  EXPECT_EQ(cache.used(), new_end);
  std::set<int> moves;
  for (std::size_t i = end + 1; i < new_end; ++i) {
    Cube c;
    int m = 0;
    unpack_ce(c, m, cache.cubes()[i]);
    EXPECT_EQ(c, apply_move(m, full_cube()));
    moves.insert(m);
  }
  EXPECT_EQ(moves, (std::set<int>{3, 4, 5, 6, 7, 8, 12, 13, 14, 15, 16, 17}));
  EXPECT_EQ(cache.cubes()[end], level_marker(2));
  EXPECT_EQ(cache.cubes()[2], pack_ce(full_cube(), 0));
}

TEST(LevelCache, RepeatedLegalMovesGiveTheSameLevels) {
  MemoryBudget budget;
  LegalMoves once, twice;
  once.set_3gen("RUF");
  twice.set_3gen("RRUFUF");
  const Cube root = scrambled(full_cube(), "L D' B2");
  search_side a(root, kForward, budget), b(root, kForward, budget);
  for (int level = 1; level <= 4; ++level) {
    a.grow(once);
    b.grow(twice);
    ASSERT_EQ(a.level_end, b.level_end);
  }
  EXPECT_TRUE(std::equal(a.cache.cubes(), a.cache.cubes() + a.level_end, b.cache.cubes()));
}

struct DuplicateCase {
  const char* name;
  std::vector<std::pair<int, int>> entries;  // (position number, last move)
  std::vector<std::pair<int, int>> kept;
};

void PrintTo(const DuplicateCase& c, std::ostream* os) { *os << c.name; }

class RemoveDuplicates : public ::testing::TestWithParam<DuplicateCase> {};

TEST_P(RemoveDuplicates, KeepsTheFirstEntryPerLastMoveInEachRun) {
  // Positions 0 < 1 < 2 in cube-state order.
  std::vector<Cube> positions = {full_cube(), scrambled(full_cube(), "R"),
                                 scrambled(full_cube(), "U")};
  std::sort(positions.begin(), positions.end(), [](const Cube& a, const Cube& b) {
    return compare_packed_cubes_only_cube_state(pack_ce(a, 0), pack_ce(b, 0)) < 0;
  });
  const PackedCube sentinel = pack_ce(empty_cube(), 7);
  std::vector<PackedCube> cubes = {sentinel};
  for (auto [pos, move] : GetParam().entries)
    cubes.push_back(pack_ce(positions[static_cast<std::size_t>(pos)], move));
  cubes.push_back(sentinel);
  const std::size_t end = cubes.size() - 1;
  const std::size_t new_end = remove_duplicates(cubes.data(), 1, end);
  std::vector<std::pair<int, int>> kept;
  for (std::size_t i = 1; i < new_end; ++i) {
    const auto it = std::find_if(positions.begin(), positions.end(), [&](const Cube& c) {
      return compare_packed_cubes_only_cube_state(pack_ce(c, 0), cubes[i]) == 0;
    });
    kept.emplace_back(static_cast<int>(it - positions.begin()), unpack_last_move(cubes[i]));
  }
  EXPECT_EQ(kept, GetParam().kept);
  EXPECT_EQ(cubes.front(), sentinel);
  EXPECT_EQ(cubes.back(), sentinel);  // nothing past the range is touched
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveDuplicates,
    ::testing::Values(
        DuplicateCase{"empty", {}, {}}, DuplicateCase{"single", {{0, 4}}, {{0, 4}}},
        DuplicateCase{"neighbours", {{0, 4}, {0, 4}}, {{0, 4}}},
        DuplicateCase{"separated_in_run", {{1, 3}, {1, 5}, {1, 3}}, {{1, 3}, {1, 5}}},
        DuplicateCase{
            "order_kept", {{1, 9}, {1, 2}, {1, 9}, {1, 2}, {1, 40}}, {{1, 9}, {1, 2}, {1, 40}}},
        DuplicateCase{
            "same_move_other_position", {{0, 3}, {1, 3}, {2, 3}}, {{0, 3}, {1, 3}, {2, 3}}},
        DuplicateCase{"runs",
                      {{0, 0}, {0, 1}, {1, 0}, {1, 0}, {2, 2}, {2, 53}, {2, 2}},
                      {{0, 0}, {0, 1}, {1, 0}, {2, 2}, {2, 53}}},
        DuplicateCase{"move_0_and_53", {{2, 53}, {2, 0}, {2, 53}, {2, 0}}, {{2, 53}, {2, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

void expect_out_of_memory(const std::function<void()>& f) {
  try {
    f();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message, "ERROR: not enough memory\n");
    EXPECT_EQ(failure.status, 1);
  }
}

TEST(LevelCache, GrowthBeyondTheBudgetFails) {
  MemoryBudget budget(300000);  // room for 18750 entries
  {
    const LegalMoves legal;
    search_side side(full_cube(), kForward, budget);
    for (int level = 1; level <= 3; ++level) side.grow(legal);  // 3506 entries
    EXPECT_LE(budget.in_use(), budget.limit());
    expect_out_of_memory([&] { side.grow(legal); });
    EXPECT_LE(budget.in_use(), budget.limit());
  }
  EXPECT_EQ(budget.in_use(), 0u);
}

TEST(LevelCache, FirstAllocationBeyondTheBudgetFails) {
  MemoryBudget budget(initial_cache_size * sizeof(PackedCube) + 1000);
  growing_cache first(budget);
  expect_out_of_memory([&] { growing_cache second(budget); });
  MemoryBudget tiny(1000);
  expect_out_of_memory([&] { growing_cache cache(tiny); });
  EXPECT_EQ(tiny.in_use(), 0u);
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// Large levels are built in parts on several threads; the levels must not
// depend on how many.
struct ThreadCase {
  const char* name;
  Cube root;
  const char* generator;  // nullptr: the 18 face turns
  int direction;
  int depth;  // the last level has more than 2^18 possible children
};

void PrintTo(const ThreadCase& c, std::ostream* os) { *os << c.name; }

class LevelsForAnyThreadCount : public ::testing::TestWithParam<ThreadCase> {};

// On `ranks` (one of a group that all build the same levels), as a search
// on them grows its sides; the threads are then set by the caller. With
// `held`, the last level is held in shares, and its share is put there.
std::vector<PackedCube> build_levels(const ThreadCase& c, unsigned threads,
                                     std::size_t wide_from = 0, Ranks* ranks = nullptr,
                                     std::optional<KeyShare>* held = nullptr) {
  if (ranks == nullptr) {
    set_work_threads(threads);
    set_wide_buckets_from(wide_from);
  }
  MemoryBudget budget;
  LegalMoves legal;
  if (c.generator) legal.set_3gen(c.generator);
  search_side side(c.root, c.direction, budget);
  std::size_t parents = 0;
  for (int depth = 1; depth <= c.depth; ++depth) {
    parents = side.level_end - side.level_start;
    if (ranks == nullptr) {
      side.grow(legal);
    } else {
      side.grow_or_plan(legal, false, ranks, held != nullptr && depth == c.depth);
      EXPECT_FALSE(side.range_built());
    }
  }
  if (held != nullptr) *held = side.held_share;
  if (ranks == nullptr) {
    set_work_threads(0);
    set_wide_buckets_from(0);
  }
  // Enough children for the level to be built in parts.
  EXPECT_GE(parents * legal.moves().size(), std::size_t{1} << 18);
  return {side.cache.cubes(), side.cache.cubes() + side.level_end};
}

TEST_P(LevelsForAnyThreadCount, SameLevels) {
  const auto& c = GetParam();
  const std::vector<PackedCube> one = build_levels(c, 1);
  for (unsigned threads : {2u, 3u, 7u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const std::vector<PackedCube> many = build_levels(c, threads);
    ASSERT_EQ(many.size(), one.size());
    const auto [a, b] = std::mismatch(one.begin(), one.end(), many.begin());
    EXPECT_EQ(a, one.end()) << "first difference at index " << (a - one.begin());
  }
  // Sorted in 2^14 buckets (as the largest levels are) from 2^16 possible
  // children on: the same levels.
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads, wide buckets");
    const std::vector<PackedCube> wide = build_levels(c, threads, std::size_t{1} << 16);
    ASSERT_EQ(wide.size(), one.size());
    const auto [a, b] = std::mismatch(one.begin(), one.end(), wide.begin());
    EXPECT_EQ(a, one.end()) << "first difference at index " << (a - one.begin());
  }
}

// On several ranks, levels of many children are built in shares, each rank
// writing and sorting a run of the buckets, and then shared: every rank
// ends with the levels one process builds. Here every level from 2^10
// children on is built so, on 2 and 3 ranks (some with runs of few or no
// buckets) of 1 and 2 threads each.
TEST_P(LevelsForAnyThreadCount, SameLevelsBuiltInSharesOnRanks) {
  const auto& c = GetParam();
  const std::vector<PackedCube> one = build_levels(c, 1);
  set_shared_levels_from(std::size_t{1} << 10);
  for (int ranks : {2, 3, 7}) {
    for (unsigned threads : {1u, 2u}) {
      set_work_threads(threads);
      std::vector<std::vector<PackedCube>> built(static_cast<std::size_t>(ranks));
      test::on_ranks(ranks, [&](Ranks& rank) {
        built[static_cast<std::size_t>(rank.rank())] = build_levels(c, threads, 0, &rank);
      });
      for (int r = 0; r < ranks; ++r) {
        SCOPED_TRACE(std::to_string(ranks) + " ranks of " + std::to_string(threads) +
                     " threads, rank " + std::to_string(r));
        const std::vector<PackedCube>& shared = built[static_cast<std::size_t>(r)];
        ASSERT_EQ(shared.size(), one.size());
        const auto [a, b] = std::mismatch(one.begin(), one.end(), shared.begin());
        EXPECT_EQ(a, one.end()) << "first difference at index " << (a - one.begin());
      }
    }
  }
  set_work_threads(0);
  set_shared_levels_from(0);
}

// Held in shares, the last level of each rank holds the positions of its
// share, the shares follow one another, and the ranks' levels, in rank
// order, are the level one process builds. Every level is built in shares
// here, on up to 7 ranks: some levels have fewer children than there are
// ranks, so some runs are empty.
TEST_P(LevelsForAnyThreadCount, LastLevelHeldInShares) {
  const auto& c = GetParam();
  std::vector<PackedCube> one = build_levels(c, 1);
  set_shared_levels_from(1);
  for (int ranks : {2, 3, 7}) {
    SCOPED_TRACE(std::to_string(ranks) + " ranks");
    set_work_threads(2);
    std::vector<std::vector<PackedCube>> built(static_cast<std::size_t>(ranks));
    std::vector<std::optional<KeyShare>> shares(static_cast<std::size_t>(ranks));
    test::on_ranks(ranks, [&](Ranks& rank) {
      const auto r = static_cast<std::size_t>(rank.rank());
      built[r] = build_levels(c, 2, 0, &rank, &shares[r]);
    });
    // Where the last level starts: after the marker that follows the level
    // before it, the same on every rank.
    const std::size_t marker = [&] {
      std::size_t at = one.size();
      while (at-- > 0)
        if (one[at].hi == 0) return at;
      return std::size_t{0};
    }();
    std::vector<PackedCube> joined(one.begin(), one.begin() + static_cast<std::ptrdiff_t>(marker) + 1);
    for (int r = 0; r < ranks; ++r) {
      SCOPED_TRACE("rank " + std::to_string(r));
      const std::vector<PackedCube>& part = built[static_cast<std::size_t>(r)];
      ASSERT_TRUE(shares[static_cast<std::size_t>(r)].has_value());
      const KeyShare& share = *shares[static_cast<std::size_t>(r)];
      ASSERT_GT(part.size(), marker);
      EXPECT_TRUE(std::equal(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(marker) + 1,
                             one.begin()));
      for (std::size_t i = marker + 1; i < part.size(); ++i) EXPECT_TRUE(share.holds(part[i]));
      if (r > 0) {
        const KeyShare& before = *shares[static_cast<std::size_t>(r - 1)];
        EXPECT_FALSE(before.to_end && (share.lo != 1 || share.hi != 1));
        if (!before.to_end) {
          EXPECT_TRUE(share.lo == before.hi || (share.lo == 1 && share.hi == 1));
        }
      }
      joined.insert(joined.end(), part.begin() + static_cast<std::ptrdiff_t>(marker) + 1,
                    part.end());
    }
    EXPECT_TRUE(shares.front()->lo == 0);
    ASSERT_EQ(joined.size(), one.size());
    const auto [a, b] = std::mismatch(one.begin(), one.end(), joined.begin());
    EXPECT_EQ(a, one.end()) << "first difference at index " << (a - one.begin());
  }
  set_work_threads(0);
  set_shared_levels_from(0);
}

INSTANTIATE_TEST_SUITE_P(
    Roots, LevelsForAnyThreadCount,
    ::testing::Values(
        ThreadCase{"solved_forward", full_cube(), nullptr, kForward, 5},
        ThreadCase{"scrambled_backward", scrambled(full_cube(), "R U2 F' L D B2"), nullptr,
                   kBackward, 5},
        // Many positions reached by several sequences: duplicates to merge
        // in every part.
        ThreadCase{"f2l_with_slices", scrambled(add_f2l(empty_cube()), "r U'"), "RUMEyr",
                   kForward, 5},
        ThreadCase{"corner_orientation", add_missing_corner_orientation(empty_cube()), "RrMxUF",
                   kBackward, 7}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessel
