// The 54 moves: group laws, the relations between wide turns, slices and
// rotations, single-sticker examples, and a check of every move against a
// reference written here from the quarter-turn cycle lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cube/cube_state.h"
#include "cube/moves.h"
#include "test_util.h"

namespace tessel {
namespace {

using test::apply_sequence;
using test::parse_moves;

const char* const kFamilies[kFamilyCount] = {"R", "U", "F", "L", "D", "B", "x", "y", "z",
                                             "M", "E", "S", "r", "l", "u", "d", "f", "b"};

Cube apply_named(const Cube& c, const std::string& moves) { return apply_sequence(c, parse_moves(moves)); }

// A mix of states: arbitrary sticker codes 0..7 (so 6 and 7 occur), real
// scrambles, and scrambles with some stickers blanked or marked.
std::vector<Cube> sample_states(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Cube> states = {full_cube(), empty_cube()};
  for (int i = 0; i < 20; ++i) states.push_back(test::random_stickers(rng));
  for (int i = 0; i < 10; ++i)
    states.push_back(apply_sequence(full_cube(), test::random_moves(rng, 25, /*all_moves=*/true)));
  std::uniform_int_distribution<int> byte(0, kStickers - 1);
  for (int i = 0; i < 10; ++i) {
    Cube c = apply_sequence(full_cube(), test::random_moves(rng, 20));
    for (int k = 0; k < 8; ++k) c[byte(rng)] = static_cast<std::uint8_t>(6 + k % 2);
    states.push_back(c);
  }
  return states;
}

// --- Reference moves, written from the quarter-turn cycle lists ---------

struct ReferenceQuarterTurn {
  const char* cycles;  // "(a b c d) ...": the sticker at a goes to b, ...
  int relabel[6];      // colour c becomes relabel[c]; 6 and 7 stay
};

const ReferenceQuarterTurn kReference[kFamilyCount] = {
    {"(1 19 9 5) (12 13 14 15) (25 42 33 29) (27 40 35 31) (36 37 39 38)", {0, 1, 2, 3, 4, 5}},
    {"(0 1 2 3) (4 20 16 12) (24 25 27 26) (28 44 40 36) (29 45 41 37)", {0, 1, 2, 3, 4, 5}},
    {"(2 15 8 21) (4 5 6 7) (26 36 33 47) (27 38 32 45) (28 29 31 30)", {0, 1, 2, 3, 4, 5}},
    {"(3 7 11 17) (20 21 22 23) (24 28 32 43) (26 30 34 41) (44 45 47 46)", {0, 1, 2, 3, 4, 5}},
    {"(6 14 18 22) (8 9 10 11) (30 38 42 46) (31 39 43 47) (32 33 35 34)", {0, 1, 2, 3, 4, 5}},
    {"(0 23 10 13) (16 17 18 19) (24 46 35 37) (25 44 34 39) (40 41 43 42)", {0, 1, 2, 3, 4, 5}},
    {"(0 18 8 4) (1 19 9 5) (2 16 10 6) (3 17 11 7) (12 13 14 15) (20 23 22 21) (24 43 32 28) "
     "(25 42 33 29) (26 41 34 30) (27 40 35 31) (36 37 39 38) (44 46 47 45)",
     {4, 0, 1, 3, 2, 5}},
    {"(0 1 2 3) (4 20 16 12) (5 21 17 13) (6 22 18 14) (7 23 19 15) (8 11 10 9) (24 25 27 26) "
     "(28 44 40 36) (29 45 41 37) (30 46 42 38) (31 47 43 39) (32 34 35 33)",
     {0, 5, 2, 1, 3, 4}},
    {"(0 13 10 23) (1 14 11 20) (2 15 8 21) (3 12 9 22) (4 5 6 7) (16 19 18 17) (24 37 35 46) "
     "(25 39 34 44) (26 36 33 47) (27 38 32 45) (28 29 31 30) (40 42 43 41)",
     {3, 1, 5, 2, 4, 0}},
    {"(0 4 8 18) (2 6 10 16)", {1, 2, 4, 3, 0, 5}},
    {"(5 13 17 21) (7 15 19 23)", {0, 3, 2, 4, 5, 1}},
    {"(1 14 11 20) (3 12 9 22)", {3, 1, 5, 2, 4, 0}},
    {"(0 18 8 4) (1 19 9 5) (2 16 10 6) (12 13 14 15) (25 42 33 29) (27 40 35 31) (36 37 39 38)",
     {4, 0, 1, 3, 2, 5}},
    {"(0 4 8 18) (2 6 10 16) (3 7 11 17) (20 21 22 23) (24 28 32 43) (26 30 34 41) (44 45 47 46)",
     {1, 2, 4, 3, 0, 5}},
    {"(0 1 2 3) (4 20 16 12) (5 21 17 13) (7 23 19 15) (24 25 27 26) (28 44 40 36) (29 45 41 37)",
     {0, 5, 2, 1, 3, 4}},
    {"(5 13 17 21) (6 14 18 22) (7 15 19 23) (8 9 10 11) (30 38 42 46) (31 39 43 47) (32 33 35 34)",
     {0, 3, 2, 4, 5, 1}},
    {"(1 14 11 20) (2 15 8 21) (3 12 9 22) (4 5 6 7) (26 36 33 47) (27 38 32 45) (28 29 31 30)",
     {3, 1, 5, 2, 4, 0}},
    {"(0 23 10 13) (1 20 11 14) (3 22 9 12) (16 17 18 19) (24 46 35 37) (25 44 34 39) (40 41 43 42)",
     {5, 1, 3, 0, 4, 2}},
};

std::vector<std::vector<int>> parse_cycles(const char* text) {
  std::vector<std::vector<int>> cycles;
  std::string s(text);
  for (char& ch : s)
    if (ch == '(' || ch == ')') ch = ch == '(' ? '[' : ']';
  std::istringstream in(s);
  std::string token;
  while (in >> token) {
    if (token.front() == '[') {
      cycles.emplace_back();
      token.erase(0, 1);
    }
    const bool closes = token.back() == ']';
    if (closes) token.pop_back();
    if (!token.empty()) cycles.back().push_back(std::stoi(token));
  }
  return cycles;
}

Cube reference_quarter_turn(int family, const Cube& src) {
  const ReferenceQuarterTurn& q = kReference[family];
  auto relabel = [&](std::uint8_t c) -> std::uint8_t {
    return c < 6 ? static_cast<std::uint8_t>(q.relabel[c]) : c;
  };
  Cube dst;
  for (int i = 0; i < kStickers; ++i) dst[i] = relabel(src[i]);
  for (const auto& cycle : parse_cycles(q.cycles)) {
    const std::size_t n = cycle.size();
    for (std::size_t k = 0; k < n; ++k) dst[cycle[(k + 1) % n]] = relabel(src[cycle[k]]);
  }
  return dst;
}

Cube reference_move(int m, Cube c) {
  for (int turn = 0; turn <= m % 3; ++turn) c = reference_quarter_turn(m / 3, c);
  return c;
}

TEST(Moves, ReferenceCycleListsAreWellFormed) {
  for (int f = 0; f < kFamilyCount; ++f) {
    std::vector<int> seen(kStickers, 0);
    for (const auto& cycle : parse_cycles(kReference[f].cycles)) {
      ASSERT_EQ(cycle.size(), 4u) << kFamilies[f];
      for (int i : cycle) ++seen[i];
    }
    for (int i = 0; i < kStickers; ++i) EXPECT_LE(seen[i], 1) << kFamilies[f] << " byte " << i;
  }
}

TEST(Moves, EveryMoveMatchesTheReferenceOnEveryState) {
  for (const Cube& state : sample_states(1)) {
    for (int m = 0; m < kMoveCount; ++m) {
      ASSERT_EQ(apply_move(m, state), reference_move(m, state)) << all_rotations_s[m];
    }
  }
}

TEST(Moves, EveryMoveMatchesTheReferenceOnSingleStickers) {
  // One coloured sticker at a time: pins down where each byte goes.
  for (int m = 0; m < kMoveCount; ++m) {
    for (int i = 0; i < kStickers; ++i) {
      for (std::uint8_t colour : {std::uint8_t{0}, std::uint8_t{3}, std::uint8_t{7}}) {
        Cube c = empty_cube();
        c[i] = colour;
        ASSERT_EQ(apply_move(m, c), reference_move(m, c))
            << all_rotations_s[m] << " byte " << i << " colour " << int{colour};
      }
    }
  }
}

// --- Group laws -----------------------------------------------------------

TEST(Moves, FourQuarterTurnsAreTheIdentityForEveryFamily) {
  for (const Cube& state : sample_states(2)) {
    for (int f = 0; f < kFamilyCount; ++f) {
      const int q = 3 * f;
      EXPECT_EQ(apply_sequence(state, {q, q, q, q}), state) << kFamilies[f];
      EXPECT_EQ(apply_sequence(state, {q + 1, q + 1}), state) << kFamilies[f] << "2 twice";
    }
  }
}

TEST(Moves, HalfTurnIsTwoQuarterTurnsAndInverseIsThree) {
  for (const Cube& state : sample_states(3)) {
    for (int f = 0; f < kFamilyCount; ++f) {
      const int q = 3 * f;
      EXPECT_EQ(apply_move(q + 1, state), apply_sequence(state, {q, q})) << kFamilies[f] << "2";
      EXPECT_EQ(apply_move(q + 2, state), apply_sequence(state, {q, q, q})) << kFamilies[f] << "'";
      EXPECT_EQ(apply_sequence(state, {q, q + 2}), state) << kFamilies[f] << " " << kFamilies[f] << "'";
      EXPECT_EQ(apply_sequence(state, {q + 2, q}), state) << kFamilies[f] << "' " << kFamilies[f];
    }
  }
}

struct Relation {
  const char* move;
  const char* equals;
};

TEST(Moves, WideTurnsAndRotationsAreFacesPlusSlices) {
  const std::vector<Relation> relations = {
      // Wide turns: face plus slice, in either order.
      {"r", "R M'"}, {"r", "M' R"}, {"l", "L M"},  {"l", "M L"},  {"u", "U E'"}, {"u", "E' U"},
      {"d", "D E"},  {"d", "E D"},  {"f", "F S"},  {"f", "S F"},  {"b", "B S'"}, {"b", "S' B"},
      // Rotations: both faces plus the slice.
      {"x", "R M' L'"}, {"y", "U E' D'"}, {"z", "F S B'"},
      {"x'", "R' M L"}, {"x2", "R2 M2 L2"}, {"y2", "U2 E2 D2"}, {"z'", "F' S' B"},
      // A rotation is a wide turn plus the opposite face.
      {"x", "r L'"}, {"y", "u D'"}, {"z", "f B'"}, {"x", "l' R"}, {"y", "d' U"}, {"z", "b' F"},
      {"r2", "R2 M2"}, {"b'", "B' S"},
  };
  for (const Cube& state : sample_states(4)) {
    for (const auto& r : relations) {
      EXPECT_EQ(apply_named(state, r.move), apply_named(state, r.equals))
          << r.move << " = " << r.equals;
    }
  }
}

TEST(Moves, RotationsFixTheSolvedCube) {
  for (const char* name : {"x", "x2", "x'", "y", "y2", "y'", "z", "z2", "z'"})
    EXPECT_EQ(apply_named(full_cube(), name), full_cube()) << name;
  // And nothing else does: every other move changes the solved cube.
  for (int m = 0; m < kMoveCount; ++m) {
    const int f = m / 3;
    if (f >= 6 && f <= 8) continue;
    EXPECT_NE(apply_move(m, full_cube()), full_cube()) << all_rotations_s[m];
  }
}

TEST(Moves, SliceOnTheSolvedCubeEqualsTheTwoOuterTurns) {
  const std::vector<Relation> relations = {
      {"M", "R L'"}, {"E", "U D'"}, {"S", "F' B"}, {"M2", "R2 L2"}, {"E'", "U' D"}, {"S'", "F B'"}};
  for (const auto& r : relations)
    EXPECT_EQ(apply_named(full_cube(), r.move), apply_named(full_cube(), r.equals))
        << r.move << " = " << r.equals;
}

TEST(Moves, EmptyCubeIsFixedByEveryMove) {
  for (int m = 0; m < kMoveCount; ++m) EXPECT_EQ(apply_move(m, empty_cube()), empty_cube()) << all_rotations_s[m];
}

TEST(Moves, MarkerAndEmptyStickersOnlyMove) {
  Cube all_marked;
  all_marked.s.fill(7);
  for (int m = 0; m < kMoveCount; ++m) EXPECT_EQ(apply_move(m, all_marked), all_marked) << all_rotations_s[m];

  // On any state, a move keeps the number of 6 and 7 stickers, and a real
  // cube keeps eight stickers of every colour.
  for (const Cube& state : sample_states(5)) {
    for (int m = 0; m < kMoveCount; ++m) {
      const Cube moved = apply_move(m, state);
      for (std::uint8_t code : {std::uint8_t{6}, std::uint8_t{7}})
        EXPECT_EQ(std::count(moved.s.begin(), moved.s.end(), code),
                  std::count(state.s.begin(), state.s.end(), code))
            << all_rotations_s[m] << " code " << int{code};
    }
  }
  std::mt19937 rng(6);
  for (int round = 0; round < 20; ++round) {
    const Cube real = apply_sequence(full_cube(), test::random_moves(rng, 30, true));
    for (std::uint8_t code = 0; code < 6; ++code)
      EXPECT_EQ(std::count(real.s.begin(), real.s.end(), code), 8) << "colour " << int{code};
  }
}

TEST(Moves, FaceTurnsDoNotRelabel) {
  // A face turn only moves stickers: the multiset of codes is unchanged.
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    const Cube state = test::random_stickers(rng);
    for (int m = 0; m < kFaceMoveCount; ++m) {
      Cube a = state, b = apply_move(m, state);
      std::sort(a.s.begin(), a.s.end());
      std::sort(b.s.begin(), b.s.end());
      EXPECT_EQ(a, b) << all_rotations_s[m];
    }
  }
}

// --- Single-sticker examples ----------------------------------------------

Cube empty_with(const std::vector<std::pair<int, int>>& stickers) {
  Cube c = empty_cube();
  for (auto [i, v] : stickers) c[i] = static_cast<std::uint8_t>(v);
  return c;
}

TEST(Moves, SingleStickerExamples) {
  struct Example {
    const char* move;
    std::vector<std::pair<int, int>> before;
    std::vector<std::pair<int, int>> after;
  };
  const std::vector<Example> examples = {
      // FU moves to LU and is relabelled: the F centre went to L.
      {"y", {{4, 1}}, {{20, 5}}},
      // The UFR corner under R and under x.
      {"R", {{27, 0}, {29, 1}, {36, 3}}, {{25, 1}, {37, 3}, {40, 0}}},
      {"x", {{27, 0}, {29, 1}, {36, 3}}, {{25, 0}, {37, 3}, {40, 4}}},
      // A marker sticker keeps code 7 wherever it goes.
      {"x", {{27, 7}}, {{40, 7}}},
      {"M", {{0, 7}}, {{4, 7}}},
      {"b'", {{13, 7}}, {{10, 7}}},
      // The U sticker of UF goes to FD and is relabelled: the U centre went to F.
      {"M", {{2, 0}}, {{6, 1}}},
  };
  for (const auto& e : examples) {
    EXPECT_EQ(apply_named(empty_with(e.before), e.move), empty_with(e.after)) << e.move;
  }
}

// --- Names ----------------------------------------------------------------

TEST(Moves, NamesAndIndexes) {
  const char* const suffixes[3] = {"", "2", "'"};
  for (int f = 0; f < kFamilyCount; ++f) {
    for (int v = 0; v < 3; ++v) {
      const std::string name = std::string(kFamilies[f]) + suffixes[v];
      EXPECT_EQ(move_index(name), 3 * f + v) << name;
      EXPECT_EQ(all_rotations_s[3 * f + v], name);
    }
  }
  EXPECT_EQ(move_index("R"), 0);
  EXPECT_EQ(move_index("R2"), 1);
  EXPECT_EQ(move_index("R'"), 2);
  EXPECT_EQ(move_index("M"), 27);
  EXPECT_EQ(move_index("b'"), 53);
  for (const char* unknown : {"", "R2'", "r3", "RR", "R ", " R", "m", "X", "R3", "Rw", "2", "'"})
    EXPECT_EQ(move_index(unknown), -1) << '"' << unknown << '"';
}

TEST(Moves, AxisLetters) {
  ASSERT_EQ(std::strlen(rotation_families), static_cast<std::size_t>(kMoveCount));
  const char axis[kFamilyCount] = {'R', 'U', 'F', 'R', 'U', 'F', 'x', 'y', 'z',
                                   'R', 'U', 'F', 'R', 'R', 'U', 'U', 'F', 'F'};
  for (int m = 0; m < kMoveCount; ++m) EXPECT_EQ(rotation_families[m], axis[m / 3]) << all_rotations_s[m];
}

}  // namespace
}  // namespace tessel
