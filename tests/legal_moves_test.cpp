// The legal move list chosen by generator words, the pruning rule and the
// inverse of a move.
#include "search/legal_moves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cube/moves.h"
#include "test_util.h"

namespace tessel {
namespace {

std::vector<int> list_of(const LegalMoves& legal) {
  return {legal.moves().begin(), legal.moves().end()};
}

std::vector<int> range(int from, int to) {
  std::vector<int> v;
  for (int m = from; m <= to; ++m) v.push_back(m);
  return v;
}

TEST(LegalMoves, StartsWithTheEighteenFaceTurns) {
  const LegalMoves legal;
  EXPECT_EQ(list_of(legal), range(0, 17));
  EXPECT_EQ(legal.size(), 18);
}

struct GeneratorCase {
  std::string word;
  std::vector<int> moves;
};

void PrintTo(const GeneratorCase& c, std::ostream* os) { *os << '"' << c.word << '"'; }

class GeneratorWord : public ::testing::TestWithParam<GeneratorCase> {};

TEST_P(GeneratorWord, SelectsTheListedMoves) {
  LegalMoves legal;
  legal.set_3gen(GetParam().word);
  EXPECT_EQ(list_of(legal), GetParam().moves);
  EXPECT_EQ(legal.size(), static_cast<int>(GetParam().moves.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Words, GeneratorWord,
    ::testing::Values(GeneratorCase{"R2L2F2B2DU", {1, 3, 4, 5, 7, 10, 12, 13, 14, 16}},
                      GeneratorCase{"UR", range(0, 5)}, GeneratorCase{"RU", range(0, 5)},
                      GeneratorCase{"x2", {19}}, GeneratorCase{"xyz", range(18, 26)},
                      GeneratorCase{"R'", {0, 1, 2}}, GeneratorCase{"R", {0, 1, 2}},
                      GeneratorCase{"R2D", {1, 12, 13, 14}},
                      GeneratorCase{"RR", {0, 0, 1, 1, 2, 2}},
                      GeneratorCase{"RLFBDU", range(0, 17)}, GeneratorCase{"r", {36, 37, 38}},
                      GeneratorCase{"M2E2S2", {28, 31, 34}}, GeneratorCase{"R2'", {1}},
                      GeneratorCase{"x22", {19}}, GeneratorCase{"R2R", {0, 1, 1, 2}},
                      GeneratorCase{"", {}}, GeneratorCase{"2'3", {}}, GeneratorCase{"QZ", {}},
                      GeneratorCase{"rR", {0, 1, 2, 36, 37, 38}},
                      GeneratorCase{"u2d", {43, 45, 46, 47}}));

TEST(LegalMoves, SetReplacesTheWholeList) {
  LegalMoves legal;
  legal.set_3gen("xyz");
  legal.set_3gen("R2");
  EXPECT_EQ(list_of(legal), std::vector<int>{1});
  legal.set_all_rotations();
  EXPECT_EQ(list_of(legal), range(0, 17));
}

TEST(LegalMoves, LongGeneratorWordListsEverySelection) {
  // Every family letter, over and over: 10000 characters.
  const std::string families = "RUFLDBxyzMESrludfb";
  std::string word;
  while (word.size() < 10000) word += families;
  word.resize(10000);
  LegalMoves legal;
  legal.set_3gen(word);
  const auto list = list_of(legal);
  EXPECT_EQ(list.size(), 3u * 10000u);
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
  for (int m = 0; m < kMoveCount; ++m) {
    const char letter = all_rotations_s[static_cast<std::size_t>(m)][0];
    const auto expected = std::count(word.begin(), word.end(), letter);
    EXPECT_EQ(std::count(list.begin(), list.end(), m), expected) << m;
  }

  // A long word of half turns selects only the half turn, once per "R2".
  std::string halves;
  while (halves.size() < 10000) halves += "R2";
  legal.set_3gen(halves);
  EXPECT_EQ(list_of(legal), std::vector<int>(5000, 1));
}

struct PairCase {
  int later, earlier, direction;
  bool forbidden;
};

void PrintTo(const PairCase& c, std::ostream* os) {
  *os << c.later << " after " << c.earlier << ", direction " << c.direction;
}

class ForbiddenPair : public ::testing::TestWithParam<PairCase> {};

TEST_P(ForbiddenPair, Rule) {
  const auto& c = GetParam();
  EXPECT_EQ(is_forbidden_pair(c.later, c.earlier, c.direction), c.forbidden);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ForbiddenPair,
    ::testing::Values(
        // Same family, any direction.
        PairCase{0, 0, 1, true}, PairCase{0, 0, -1, true}, PairCase{0, 0, 0, true},
        PairCase{1, 0, 1, true}, PairCase{1, 0, -1, true}, PairCase{2, 1, 7, true},
        PairCase{53, 51, 1, true},
        // L then R allowed, R then L forbidden, forward; swapped backward.
        PairCase{0, 9, 1, false}, PairCase{9, 0, 1, true}, PairCase{0, 9, -1, true},
        PairCase{9, 0, -1, false},
        // Any direction other than 1 counts as backward.
        PairCase{9, 0, 0, false}, PairCase{0, 9, 2, true},
        // M after R forbidden, R after M allowed; r then l forbidden.
        PairCase{27, 0, 1, true}, PairCase{0, 27, 1, false}, PairCase{39, 36, 1, true},
        PairCase{36, 39, 1, false}, PairCase{39, 36, -1, false},
        // Different axis letters never clash, rotations included.
        PairCase{18, 0, 1, false}, PairCase{0, 18, 1, false}, PairCase{18, 0, -1, false},
        PairCase{3, 0, 1, false}, PairCase{21, 3, 1, false}, PairCase{24, 6, -1, false},
        PairCase{19, 21, 1, false}));

TEST(ForbiddenPairAll, MatchesTheAxisRule) {
  // Families R U F L D B x y z M E S r l u d f b and their axis letters.
  const std::string axes = "RUFRUFxyzRUFRRUUFF";
  for (int later = 0; later < kMoveCount; ++later)
    for (int earlier = 0; earlier < kMoveCount; ++earlier)
      for (int direction : {1, -1}) {
        bool expected;
        if (later / 3 == earlier / 3)
          expected = true;
        else if (axes[static_cast<std::size_t>(later / 3)] !=
                 axes[static_cast<std::size_t>(earlier / 3)])
          expected = false;
        else
          expected = direction == 1 ? later > earlier : later < earlier;
        ASSERT_EQ(is_forbidden_pair(later, earlier, direction), expected)
            << later << " after " << earlier << " dir " << direction;
      }
}

TEST(ReverseRotation, Inverses) {
  EXPECT_EQ(reverse_rotation(0), 2);
  EXPECT_EQ(reverse_rotation(1), 1);
  EXPECT_EQ(reverse_rotation(2), 0);
  EXPECT_EQ(reverse_rotation(27), 29);
  EXPECT_EQ(reverse_rotation(53), 51);
  // Undoes every move on any cube, markers and empty stickers included.
  std::mt19937 rng(3);
  for (int round = 0; round < 20; ++round) {
    const Cube c = test::random_stickers(rng);
    for (int m = 0; m < kMoveCount; ++m) {
      ASSERT_EQ(apply_move(reverse_rotation(m), apply_move(m, c)), c) << m;
      ASSERT_EQ(reverse_rotation(reverse_rotation(m)), m);
      ASSERT_TRUE(is_sister_rotation(m, reverse_rotation(m)));
    }
  }
}

struct SequenceCase {
  std::vector<int> moves;
  int direction;
  bool forbidden;
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
  for (int m : c.moves) *os << m << ' ';
  *os << "direction " << c.direction;
}

class ForbiddenSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(ForbiddenSequence, Rule) {
  const auto& c = GetParam();
  EXPECT_EQ(is_forbidden_sequence(c.moves, c.direction), c.forbidden);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ForbiddenSequence,
    ::testing::Values(SequenceCase{{}, 1, false}, SequenceCase{{0}, 1, false},
                      SequenceCase{{0}, -1, false}, SequenceCase{{9, 0, 27}, 1, true},
                      SequenceCase{{27, 9, 0}, 1, false}, SequenceCase{{0, 9, 27}, -1, false},
                      SequenceCase{{0, 3, 0}, 1, false}, SequenceCase{{0, 3, 3}, 1, true},
                      SequenceCase{{3, 0, 1}, 1, true}, SequenceCase{{0, 18, 2}, 1, false}));

TEST(ForbiddenSequence, BackwardOrderBecomesForwardOrderWhenReversedAndInverted) {
  // What the join relies on: a backward path, reversed and inverted, obeys
  // the forward rule exactly when it obeyed the backward rule.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> pick(0, kMoveCount - 1);
  for (int round = 0; round < 5000; ++round) {
    std::vector<int> path(static_cast<std::size_t>(1 + round % 6));
    for (int& m : path) m = pick(rng);
    std::vector<int> turned;
    for (auto it = path.rbegin(); it != path.rend(); ++it) turned.push_back(reverse_rotation(*it));
    ASSERT_EQ(is_forbidden_sequence(path, kBackward), is_forbidden_sequence(turned, kForward));
  }
}

}  // namespace
}  // namespace tessel
