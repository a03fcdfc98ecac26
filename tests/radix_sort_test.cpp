// The stable radix sort of packed cubes against std::stable_sort in
// cube-state order: random keys of many sizes, keys that share their high
// bits, many entries of one position with distinct last moves, and ranges
// holding a single position.
#include "search/radix_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace tessel {
namespace {

// How the keys of a case are drawn. Bits 0..7 (the last move) always carry
// the entry's number modulo 256, so stability shows in the result.
struct KeyCase {
  const char* name;
  int top;                // the keys agree at and above this bit
  int random_from;        // bits [random_from, random_to) are random,
  int random_to;          // the others fixed (random_to <= top)
  std::size_t positions;  // distinct positions to draw from (0: any)
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

constexpr std::size_t kSizes[] = {0, 1, 2, 3, 31, 32, 33, 34, 63, 64, 65, 100, 255, 256, 257,
                                  1000, 4095, 4096, 4097, 20000, 100000, 300000};

// Bits [from, to) of a packed value.
PackedCube bit_range(int from, int to) {
  PackedCube m{0, 0};
  for (int b = from; b < to; ++b) {
    if (b < 64)
      m.lo |= std::uint64_t{1} << b;
    else
      m.hi |= std::uint64_t{1} << (b - 64);
  }
  return m;
}

// Keys whose bits [random_from, random_to) are random, whose other bits
// down to bit 8 are those of one random prefix, and whose last move is the
// entry's number modulo 256. With `positions` > 0 the keys are drawn from that many
// positions only.
std::vector<PackedCube> make_keys(const KeyCase& c, std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const PackedCube prefix{rng(), rng()};
  const PackedCube random_part = bit_range(c.random_from, c.random_to);
  const auto draw = [&] {
    const PackedCube r{rng(), rng()};
    return PackedCube{(prefix.lo & ~random_part.lo) | (r.lo & random_part.lo),
                      (prefix.hi & ~random_part.hi) | (r.hi & random_part.hi)};
  };
  std::vector<PackedCube> pool;
  for (std::size_t i = 0; i < c.positions; ++i) pool.push_back(draw());
  std::vector<PackedCube> keys;
  for (std::size_t i = 0; i < n; ++i) {
    const PackedCube position = pool.empty() ? draw() : pool[rng() % pool.size()];
    keys.push_back(with_last_move(position, static_cast<int>(i % 256)));
  }
  return keys;
}

std::vector<PackedCube> stable_sorted(std::vector<PackedCube> keys) {
  std::stable_sort(keys.begin(), keys.end(), cube_state_less);
  return keys;
}

// The first index where the two differ, or -1.
long first_difference(const std::vector<PackedCube>& a, const PackedCube* b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i])) return static_cast<long>(i);
  return -1;
}

class RadixSort : public ::testing::TestWithParam<KeyCase> {};

TEST_P(RadixSort, SameAsStableSortInCubeStateOrder) {
  const KeyCase& c = GetParam();
  for (std::size_t n : kSizes) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const std::vector<PackedCube> keys = make_keys(c, n, 1000 + n);
    const std::vector<PackedCube> expected = stable_sorted(keys);
    std::vector<PackedCube> a = keys;
    // One spare entry on each side of both ranges: nothing outside is written.
    const PackedCube guard{0x5555, 0xaaaa};
    std::vector<PackedCube> scratch(sort_scratch_size(n) + 2, guard);
    a.insert(a.begin(), guard);
    a.push_back(guard);
    radix_sort(a.data() + 1, n, c.top, scratch.data() + 1);
    EXPECT_EQ(first_difference(expected, a.data() + 1), -1);
    EXPECT_EQ(a.front(), guard);
    EXPECT_EQ(a.back(), guard);
    EXPECT_EQ(scratch.front(), guard);
    EXPECT_EQ(scratch.back(), guard);
  }
}

TEST_P(RadixSort, SortBucketLeavesTheSameOrderInOneOfItsRanges) {
  const KeyCase& c = GetParam();
  for (std::size_t n : kSizes) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const std::vector<PackedCube> keys = make_keys(c, n, 2000 + n);
    const std::vector<PackedCube> expected = stable_sorted(keys);
    std::vector<PackedCube> a = keys;
    std::vector<PackedCube> scratch(sort_scratch_size(n));
    const PackedCube* sorted = sort_bucket(a.data(), n, c.top, scratch.data());
    ASSERT_TRUE(sorted == a.data() || sorted == scratch.data());
    EXPECT_EQ(first_difference(expected, sorted), -1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RadixSort,
    ::testing::Values(
        // Any keys: the sort as a level's bucket would never see them.
        KeyCase{"random", 128, 8, 128, 0},
        // The 16 and 8 top bits shared, as in the buckets of a level.
        KeyCase{"top_16_bits_shared", 112, 8, 112, 0},
        KeyCase{"top_8_bits_shared", 120, 8, 120, 0},
        // Only a few bits differ, just above the last move, deep in the high
        // word or across the two words: many digit passes find nothing to
        // move, and the last ones must still reach bit 8.
        KeyCase{"differ_in_bits_8_and_9", 128, 8, 10, 0},
        KeyCase{"differ_in_bits_8_to_13_below_top_14", 14, 8, 14, 0},
        KeyCase{"differ_in_bits_60_to_69", 128, 60, 70, 0},
        KeyCase{"differ_in_bits_100_to_103", 128, 100, 104, 0},
        // Buckets whose bits just below the shared top are all alike, or
        // differ there only: the digits sorted first tell nothing apart, or
        // everything but the last few bits.
        KeyCase{"alike_below_top_16", 112, 8, 70, 0},
        KeyCase{"differ_only_below_top_16_to_bit_80", 112, 80, 112, 0},
        // Many entries of few positions, with distinct last moves: the
        // order within a position is the input order.
        KeyCase{"three_positions", 128, 8, 128, 3},
        KeyCase{"forty_positions_shared_top", 112, 8, 112, 40},
        KeyCase{"forty_positions_differing_in_bits_8_to_13", 128, 8, 14, 40},
        // Every entry of one position: nothing may move.
        KeyCase{"one_position", 128, 8, 128, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RadixSortScratch, NeededOnlyAboveTheInsertionSortSize) {
  EXPECT_EQ(sort_scratch_size(0), 0u);
  EXPECT_EQ(sort_scratch_size(kInsertionSortMost), 0u);
  EXPECT_EQ(sort_scratch_size(kInsertionSortMost + 1), kInsertionSortMost + 1);
}

}  // namespace
}  // namespace tessel
