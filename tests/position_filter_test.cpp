// The position filter never turns away a position it holds, ignores the
// last move, and lets through few positions it does not hold.
#include "search/position_filter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/failure.h"
#include "core/parallel.h"

namespace tessel {
namespace {

std::vector<PackedCube> random_positions(std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::vector<PackedCube> v(n);
  for (auto& c : v) {
    c.lo = rng() & ~std::uint64_t{0xFF};
    c.hi = rng() | (std::uint64_t{1} << 63);
  }
  return v;
}

TEST(PositionFilter, HoldsWhatWasAddedWhateverTheMove) {
  for (int bits : {0, 6, 10, 20}) {
    MemoryBudget budget(std::size_t{1} << 30);
    const auto held = random_positions(300000, 1);
    PositionFilter filter(budget, held.size(), bits);
    filter.add_all(held.data(), 0, held.size());
    for (const auto& c : held) {
      PackedCube moved = c;
      moved.lo |= 37;
      ASSERT_TRUE(filter.may_hold(c)) << bits;
      ASSERT_TRUE(filter.may_hold(moved)) << bits;
    }
  }
}

TEST(PositionFilter, SizedFilterLetsFewOthersThrough) {
  MemoryBudget budget(std::size_t{1} << 30);
  const auto held = random_positions(100000, 2);
  PositionFilter filter(budget, held.size());
  EXPECT_GE(filter.size_in_bits(), 100000u * 16);
  filter.add_all(held.data(), 0, held.size());
  std::size_t passed = 0;
  for (const auto& c : random_positions(100000, 3)) passed += filter.may_hold(c);
  EXPECT_LT(passed, 100000u / 16);
}

TEST(PositionFilter, MemoryComesFromTheBudget) {
  MemoryBudget budget(std::size_t{1} << 20);
  {
    PositionFilter filter(budget, std::uint64_t{1} << 30);
    EXPECT_LE(budget.in_use(), budget.limit() / 4);
    EXPECT_GT(budget.in_use(), 0u);
  }
  EXPECT_EQ(budget.in_use(), 0u);
  MemoryBudget tiny(4);
  EXPECT_THROW({ PositionFilter filter(tiny, 10); }, Failure);
}

// Filled region by region (staged) or at random, a filter answers alike
// for every position: for any number of parts and any slot size, and
// whether the filter has one region, a few, or a last one not whole.
TEST(FilterStaging, StagedFillingSetsTheSameBits) {
  const auto held = random_positions(200000, 4);
  const auto others = random_positions(200000, 5);
  for (std::uint64_t positions :
       {std::uint64_t{1000}, std::uint64_t{200000}, std::uint64_t{3000000}}) {
    MemoryBudget budget(std::size_t{1} << 30);
    PositionFilter plain(budget, positions);
    plain.add_all(held.data(), 0, held.size(), -1);
    for (unsigned threads : {1u, 2u, 3u}) {
      set_work_threads(threads);
      for (int slots : {1, 100, 5000}) {
        PositionFilter staged(budget, positions);
        staged.add_all(held.data(), 0, held.size(), slots);
        for (std::size_t i = 0; i < others.size(); ++i) {
          ASSERT_TRUE(staged.may_hold(held[i])) << positions << ' ' << threads << ' ' << slots;
          ASSERT_EQ(staged.may_hold(others[i]), plain.may_hold(others[i]))
              << positions << ' ' << threads << ' ' << slots;
        }
      }
    }
  }
  set_work_threads(0);
}

// Staged tests: every key tested has its bit set exactly when the filter
// may hold its position, in the round it was staged in, for every part.
TEST(FilterStaging, StagedTestsMarkWhatTheFilterMayHold) {
  const auto held = random_positions(100000, 6);
  auto probes = random_positions(150000, 7);
  probes.insert(probes.end(), held.begin(), held.begin() + 50000);
  MemoryBudget budget(std::size_t{1} << 30);
  PositionFilter filter(budget, 2000000);
  filter.add_all(held.data(), 0, held.size());
  for (unsigned parts : {1u, 2u, 3u}) {
    FilterStaging staged(filter, parts, true, 700);
    ASSERT_FALSE(staged.empty());
    const std::vector<std::size_t> cuts = cut_evenly(0, probes.size(), parts);
    std::vector<std::size_t> at(cuts.begin(), cuts.end() - 1), first(parts);
    std::vector<std::vector<std::uint64_t>> passed(
        parts, std::vector<std::uint64_t>(staged.keys_per_round() / 64 + 2));
    std::vector<unsigned char> answers(probes.size(), 2);
    std::size_t rounds = 0;
    staged.run_testing(
        [&](unsigned p) {
          std::fill(passed[p].begin(), passed[p].end(), 0);
          first[p] = at[p];
          std::uint32_t number = 0;
          for (bool room = true; room && at[p] < cuts[p + 1]; ++at[p], ++number) {
            const std::uint64_t key = filter.key_of(probes[at[p]]);
            room = staged.stage(p, &key, 1, number);
          }
          return at[p] < cuts[p + 1];
        },
        [&](unsigned p) { return passed[p].data(); },
        [&](unsigned p) {
          if (p == 0) ++rounds;
          for (std::size_t i = first[p]; i < at[p]; ++i) {
            const std::size_t n = i - first[p];
            answers[i] = (passed[p][n / 64] >> (n % 64)) & 1;
          }
        });
    EXPECT_GT(rounds, 5u) << parts;
    for (std::size_t i = 0; i < probes.size(); ++i)
      ASSERT_EQ(answers[i], filter.may_hold(probes[i]) ? 1 : 0) << parts << " parts, probe " << i;
  }
}

TEST(FilterStaging, SmallFiltersAreNotStagedUnlessAsked) {
  MemoryBudget budget(std::size_t{1} << 30);
  PositionFilter small(budget, 100000);
  EXPECT_TRUE(FilterStaging(small, 2, false).empty());
  EXPECT_FALSE(FilterStaging(small, 2, false, 10).empty());
  PositionFilter large(budget, std::uint64_t{1} << 24);
  EXPECT_FALSE(FilterStaging(large, 2, true).empty());
  EXPECT_TRUE(FilterStaging(large, 2, true, -1).empty());
  // Staging memory comes from the budget, and goes back to it.
  const std::size_t before = budget.in_use();
  {
    FilterStaging staged(large, 2, true);
    EXPECT_GT(budget.in_use(), before);
  }
  EXPECT_EQ(budget.in_use(), before);
}

}  // namespace
}  // namespace tessel
