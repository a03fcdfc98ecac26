// The position filter never turns away a position it holds, ignores the
// last move, and lets through few positions it does not hold.
#include "search/position_filter.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/failure.h"

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
  EXPECT_GE(filter.bits(), 21);
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

}  // namespace
}  // namespace tessel
