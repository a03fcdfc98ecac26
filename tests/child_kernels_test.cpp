// Child kernels: every kernel this processor runs gives the portable
// kernel's children bit for bit, and the portable kernel gives what
// applying the move to the sticker cube and packing it gives.
#include "search/child_kernels.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cube/masks.h"
#include "cube/moves.h"
#include "search/packed_moves.h"
#include "test_util.h"

namespace tessel {
namespace {

// Parents of every kind a search meets: scrambled cubes, masked targets
// (empty stickers and markers), and byte patterns no cube has (whose
// derived corners are not representable), each with every last move.
std::vector<PackedCube> sample_parents() {
  std::mt19937 rng(20261210);
  std::vector<Cube> cubes = {full_cube(), add_f2l(empty_cube()), add_domino_elements(empty_cube())};
  for (int i = 0; i < 40; ++i) {
    cubes.push_back(test::apply_sequence(full_cube(), test::random_moves(rng, 25, true)));
    cubes.push_back(test::apply_sequence(add_f2l(empty_cube()), test::random_moves(rng, 12, true)));
    cubes.push_back(test::random_stickers(rng));
  }
  std::vector<PackedCube> parents;
  for (std::size_t i = 0; i < cubes.size(); ++i)
    parents.push_back(pack_ce(cubes[i], static_cast<int>(i % kMoveCount)));
  return parents;
}

std::array<std::uint8_t, kMoveCount> every_move() {
  std::array<std::uint8_t, kMoveCount> moves{};
  for (std::size_t m = 0; m < kMoveCount; ++m) moves[m] = static_cast<std::uint8_t>(m);
  return moves;
}

TEST(ChildKernels, PortableKernelAppliesAndPacksEachMove) {
  const auto moves = every_move();
  std::array<PackedCube, kMoveCount> out{};
  std::mt19937 rng(7);
  for (int i = 0; i < 50; ++i) {
    const Cube cube = test::apply_sequence(full_cube(), test::random_moves(rng, 20, true));
    const PackedCube parent = pack_ce(cube, 4);
    expand_function(ChildKernel::portable)(parent, moves.data(), kMoveCount, out.data());
    for (int m = 0; m < kMoveCount; ++m)
      ASSERT_EQ(out[static_cast<std::size_t>(m)], pack_ce(apply_move(m, cube), m))
          << "cube " << i << " move " << all_rotations_s[static_cast<std::size_t>(m)];
  }
}

class EveryKernel : public ::testing::TestWithParam<ChildKernel> {};

TEST_P(EveryKernel, GivesThePortableChildren) {
  const ChildKernel kernel = GetParam();
  if (!child_kernel_available(kernel))
    GTEST_SKIP() << child_kernel_name(kernel) << " does not run on this processor";
  const ExpandFn portable = expand_function(ChildKernel::portable);
  const ExpandFn fast = expand_function(kernel);
  const ExpandFn plain_fast = expand_function(kernel, false);
  const auto all = every_move();
  // Every move alone, all moves at once, and a few short lists (the kernel
  // must neither read nor write past `count`).
  std::vector<std::vector<std::uint8_t>> lists = {{all.begin(), all.end()}, {}, {13}, {53, 0, 7}};
  for (std::uint8_t m : all) lists.push_back({m});
  for (const PackedCube& parent : sample_parents())
    for (const auto& moves : lists) {
      std::array<PackedCube, kMoveCount + 1> want{}, got{};
      const PackedCube guard{0x0123456789abcdefULL, 0xfedcba9876543210ULL};
      got.fill(guard);
      const auto n = static_cast<unsigned>(moves.size());
      portable(parent, moves.data(), n, want.data());
      fast(parent, moves.data(), n, got.data());
      for (unsigned j = 0; j < n; ++j)
        ASSERT_EQ(got[j], want[j])
            << child_kernel_name(kernel) << ", parent " << std::hex << parent.hi << ':' << parent.lo
            << std::dec << ", move " << all_rotations_s[moves[j]];
      ASSERT_EQ(got[n], guard) << "written past the last child";
      // The routine for moves that relabel no colour, on those moves.
      std::vector<std::uint8_t> plain;
      for (std::uint8_t m : moves)
        if (!packed_moves[m].relabels) plain.push_back(m);
      const auto k = static_cast<unsigned>(plain.size());
      got.fill(guard);
      portable(parent, plain.data(), k, want.data());
      plain_fast(parent, plain.data(), k, got.data());
      for (unsigned j = 0; j < k; ++j)
        ASSERT_EQ(got[j], want[j]) << child_kernel_name(kernel) << " without relabelling, move "
                                   << all_rotations_s[plain[j]];
      ASSERT_EQ(got[k], guard) << "written past the last child";
    }
}

INSTANTIATE_TEST_SUITE_P(ChildKernels, EveryKernel, ::testing::ValuesIn(kAllChildKernels),
                         [](const auto& info) {
                           return std::string(child_kernel_name(info.param));
                         });

TEST(ChildKernels, ChoiceAndNames) {
  for (ChildKernel k : kAllChildKernels) {
    ChildKernel back = ChildKernel::portable;
    ASSERT_TRUE(child_kernel_by_name(child_kernel_name(k), back));
    EXPECT_EQ(back, k);
    EXPECT_EQ(set_child_kernel(k), child_kernel_available(k));
    if (child_kernel_available(k)) {
      EXPECT_EQ(child_kernel(), k);
    }
  }
  ChildKernel unknown = ChildKernel::avx2;
  EXPECT_FALSE(child_kernel_by_name("sse9", unknown));
  EXPECT_EQ(unknown, ChildKernel::avx2);
  EXPECT_TRUE(child_kernel_available(ChildKernel::portable));
  reset_child_kernel();
  // The default is an available kernel (the fastest, unless TESSEL_KERNEL
  // names another).
  EXPECT_TRUE(child_kernel_available(child_kernel()));
}

}  // namespace
}  // namespace tessel
