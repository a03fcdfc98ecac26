// The sticker cube: the solved and empty cubes and the byte-wise comparison.
#include <gtest/gtest.h>

#include <random>

#include "cube/cube_state.h"
#include "test_util.h"

namespace tessel {
namespace {

TEST(CubeState, FullCubeHasEveryStickerAtItsHomeColour) {
  const Cube c = full_cube();
  // Four stickers per face in each half, faces in the order U F D R B L.
  const std::uint8_t expected_half[24] = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                          3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(c[i], expected_half[i]) << "edge byte " << i;
    EXPECT_EQ(c[24 + i], expected_half[i]) << "corner byte " << 24 + i;
  }
}

TEST(CubeState, EmptyCubeHasEveryStickerEmpty) {
  const Cube c = empty_cube();
  for (int i = 0; i < kStickers; ++i) EXPECT_EQ(c[i], 6) << "byte " << i;
}

struct CompareCase {
  const char* name;
  // Changes applied to a solved cube to get a and b: (byte, value) pairs.
  std::vector<std::pair<int, int>> a_changes;
  std::vector<std::pair<int, int>> b_changes;
  int expected;
};

Cube solved_with(const std::vector<std::pair<int, int>>& changes) {
  Cube c = full_cube();
  for (auto [i, v] : changes) c[i] = static_cast<std::uint8_t>(v);
  return c;
}

TEST(CubeState, CompareIsTheDifferenceAtTheFirstDifferingByte) {
  const std::vector<CompareCase> cases = {
      {"equal", {}, {}, 0},
      {"only byte 47 differs, smaller", {{47, 2}}, {{47, 7}}, -5},
      {"only byte 47 differs, larger", {{47, 7}}, {{47, 2}}, 5},
      {"byte 23 decides before byte 24", {{23, 6}, {24, 0}}, {{23, 5}, {24, 7}}, 1},
      {"byte 23 decides the other way", {{23, 4}, {24, 7}}, {{23, 5}, {24, 0}}, -1},
      {"first edge byte decides", {{0, 3}, {47, 0}}, {{0, 1}, {47, 7}}, 2},
      {"marker sorts after empty", {{30, 7}}, {{30, 6}}, 1},
      {"empty sorts before marker", {{30, 6}}, {{30, 7}}, -1},
      {"bytes are read unsigned", {{10, 255}}, {{10, 0}}, 255},
      {"bytes are read unsigned, reversed", {{10, 0}}, {{10, 255}}, -255},
      {"differences in both halves, edge half first", {{5, 0}, {40, 7}}, {{5, 6}, {40, 0}}, -6},
  };
  for (const auto& c : cases) {
    const Cube a = solved_with(c.a_changes);
    const Cube b = solved_with(c.b_changes);
    EXPECT_EQ(cube_compare(a, b), c.expected) << c.name;
  }
}

TEST(CubeState, CompareSolvedAgainstEmptyIsDecidedByByteZero) {
  EXPECT_EQ(cube_compare(full_cube(), empty_cube()), -6);
  EXPECT_EQ(cube_compare(empty_cube(), full_cube()), 6);
}

TEST(CubeState, CompareIsZeroExactlyForEqualStatesAndAntisymmetric) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const Cube a = test::random_stickers(rng);
    Cube b = a;
    EXPECT_EQ(cube_compare(a, b), 0);
    std::uniform_int_distribution<int> byte(0, kStickers - 1);
    const int i = byte(rng);
    b[i] = static_cast<std::uint8_t>((b[i] + 1 + round % 7) % 8);
    EXPECT_NE(cube_compare(a, b), 0);
    EXPECT_EQ(cube_compare(a, b), -cube_compare(b, a));
    EXPECT_EQ(cube_compare(a, b), static_cast<int>(a[i]) - static_cast<int>(b[i]));
  }
}

}  // namespace
}  // namespace tessel
