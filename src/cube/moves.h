// The 54 moves: face turns, whole-cube rotations, slice turns and wide turns,
// each as quarter turn, half turn and inverse quarter turn.
//
// Move index m = 3 * family + variant; families in the order
//   R U F L D B x y z M E S r l u d f b
// and variants quarter ("X"), half ("X2"), inverse ("X'"). So the inverse
// and the family of a move are plain arithmetic.
//
// Each move is a permutation p of the 48 sticker bytes plus an 8-entry
// colour relabelling table T: dst[i] = T[src[p[i]]]. T is the identity for
// face turns; for a move that turns a middle layer it maps colour c to the
// face that the move carries the centre of face c to, so that centres stay
// put. All 54 tables are computed at compile time from the 18 quarter-turn
// cycle lists below.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "cube/cube_state.h"

namespace tessel {

inline constexpr int kMoveCount = 54;
inline constexpr int kFamilyCount = 18;
inline constexpr int kFaceMoveCount = 18;  // R U F L D B, all variants

// Move names in index order.
inline constexpr std::array<std::string_view, kMoveCount> all_rotations_s = {
    "R", "R2", "R'", "U", "U2", "U'", "F", "F2", "F'", "L", "L2", "L'", "D", "D2",
    "D'", "B", "B2", "B'", "x", "x2", "x'", "y", "y2", "y'", "z", "z2", "z'", "M",
    "M2", "M'", "E", "E2", "E'", "S", "S2", "S'", "r", "r2", "r'", "l", "l2", "l'",
    "u", "u2", "u'", "d", "d2", "d'", "f", "f2", "f'", "b", "b2", "b'"};

// Axis letter of every move; moves pruned against each other share a letter.
inline constexpr char rotation_families[] =
    "RRRUUUFFFRRRUUUFFFxxxyyyzzzRRRUUUFFFRRRRRRUUUUUUFFFFFF";

struct MoveTable {
  std::array<std::uint8_t, kStickers> from{};  // dst[i] = relabel[src[from[i]]]
  std::array<std::uint8_t, 8> relabel{};
};

namespace detail {

// Quarter-turn sticker cycles: (a b c d) moves the sticker at a to b, b to
// c, c to d and d to a. A family has at most 12 cycles; unused rows are -1.
struct QuarterTurn {
  std::array<std::array<int, 4>, 12> cycles;
  std::array<std::uint8_t, 6> relabel;  // colours 0..5; 6 and 7 fixed
};

inline constexpr std::array<std::uint8_t, 6> kIdentity6 = {0, 1, 2, 3, 4, 5};
inline constexpr std::array<std::uint8_t, 6> kLikeR = {4, 0, 1, 3, 2, 5};  // x, r
inline constexpr std::array<std::uint8_t, 6> kLikeL = {1, 2, 4, 3, 0, 5};  // M, l
inline constexpr std::array<std::uint8_t, 6> kLikeU = {0, 5, 2, 1, 3, 4};  // y, u
inline constexpr std::array<std::uint8_t, 6> kLikeD = {0, 3, 2, 4, 5, 1};  // E, d
inline constexpr std::array<std::uint8_t, 6> kLikeF = {3, 1, 5, 2, 4, 0};  // z, f, S
inline constexpr std::array<std::uint8_t, 6> kLikeB = {5, 1, 3, 0, 4, 2};  // b

#define TESSEL_NO_CYCLE {-1, -1, -1, -1}
// clang-format off
inline constexpr std::array<QuarterTurn, kFamilyCount> kQuarterTurns = {{
  // R
  {{{{1, 19, 9, 5}, {12, 13, 14, 15}, {25, 42, 33, 29}, {27, 40, 35, 31}, {36, 37, 39, 38},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kIdentity6},
  // U
  {{{{0, 1, 2, 3}, {4, 20, 16, 12}, {24, 25, 27, 26}, {28, 44, 40, 36}, {29, 45, 41, 37},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kIdentity6},
  // F
  {{{{2, 15, 8, 21}, {4, 5, 6, 7}, {26, 36, 33, 47}, {27, 38, 32, 45}, {28, 29, 31, 30},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kIdentity6},
  // L
  {{{{3, 7, 11, 17}, {20, 21, 22, 23}, {24, 28, 32, 43}, {26, 30, 34, 41}, {44, 45, 47, 46},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kIdentity6},
  // D
  {{{{6, 14, 18, 22}, {8, 9, 10, 11}, {30, 38, 42, 46}, {31, 39, 43, 47}, {32, 33, 35, 34},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kIdentity6},
  // B
  {{{{0, 23, 10, 13}, {16, 17, 18, 19}, {24, 46, 35, 37}, {25, 44, 34, 39}, {40, 41, 43, 42},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kIdentity6},
  // x
  {{{{0, 18, 8, 4}, {1, 19, 9, 5}, {2, 16, 10, 6}, {3, 17, 11, 7}, {12, 13, 14, 15},
     {20, 23, 22, 21}, {24, 43, 32, 28}, {25, 42, 33, 29}, {26, 41, 34, 30}, {27, 40, 35, 31},
     {36, 37, 39, 38}, {44, 46, 47, 45}}}, kLikeR},
  // y
  {{{{0, 1, 2, 3}, {4, 20, 16, 12}, {5, 21, 17, 13}, {6, 22, 18, 14}, {7, 23, 19, 15},
     {8, 11, 10, 9}, {24, 25, 27, 26}, {28, 44, 40, 36}, {29, 45, 41, 37}, {30, 46, 42, 38},
     {31, 47, 43, 39}, {32, 34, 35, 33}}}, kLikeU},
  // z
  {{{{0, 13, 10, 23}, {1, 14, 11, 20}, {2, 15, 8, 21}, {3, 12, 9, 22}, {4, 5, 6, 7},
     {16, 19, 18, 17}, {24, 37, 35, 46}, {25, 39, 34, 44}, {26, 36, 33, 47}, {27, 38, 32, 45},
     {28, 29, 31, 30}, {40, 42, 43, 41}}}, kLikeF},
  // M
  {{{{0, 4, 8, 18}, {2, 6, 10, 16},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeL},
  // E
  {{{{5, 13, 17, 21}, {7, 15, 19, 23},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeD},
  // S
  {{{{1, 14, 11, 20}, {3, 12, 9, 22},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE,
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeF},
  // r
  {{{{0, 18, 8, 4}, {1, 19, 9, 5}, {2, 16, 10, 6}, {12, 13, 14, 15}, {25, 42, 33, 29},
     {27, 40, 35, 31}, {36, 37, 39, 38},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeR},
  // l
  {{{{0, 4, 8, 18}, {2, 6, 10, 16}, {3, 7, 11, 17}, {20, 21, 22, 23}, {24, 28, 32, 43},
     {26, 30, 34, 41}, {44, 45, 47, 46},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeL},
  // u
  {{{{0, 1, 2, 3}, {4, 20, 16, 12}, {5, 21, 17, 13}, {7, 23, 19, 15}, {24, 25, 27, 26},
     {28, 44, 40, 36}, {29, 45, 41, 37},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeU},
  // d
  {{{{5, 13, 17, 21}, {6, 14, 18, 22}, {7, 15, 19, 23}, {8, 9, 10, 11}, {30, 38, 42, 46},
     {31, 39, 43, 47}, {32, 33, 35, 34},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeD},
  // f
  {{{{1, 14, 11, 20}, {2, 15, 8, 21}, {3, 12, 9, 22}, {4, 5, 6, 7}, {26, 36, 33, 47},
     {27, 38, 32, 45}, {28, 29, 31, 30},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeF},
  // b
  {{{{0, 23, 10, 13}, {1, 20, 11, 14}, {3, 22, 9, 12}, {16, 17, 18, 19}, {24, 46, 35, 37},
     {25, 44, 34, 39}, {40, 41, 43, 42},
     TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE, TESSEL_NO_CYCLE}}, kLikeB},
}};
// clang-format on
#undef TESSEL_NO_CYCLE

constexpr MoveTable quarter_turn_table(const QuarterTurn& q) {
  MoveTable t;
  for (int i = 0; i < kStickers; ++i) t.from[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  for (const auto& c : q.cycles) {
    if (c[0] < 0) continue;
    // After the move byte c[k+1] holds what byte c[k] held.
    for (std::size_t k = 0; k < 4; ++k)
      t.from[static_cast<std::size_t>(c[(k + 1) % 4])] = static_cast<std::uint8_t>(c[k]);
  }
  for (std::size_t c = 0; c < 6; ++c) t.relabel[c] = q.relabel[c];
  t.relabel[6] = 6;
  t.relabel[7] = 7;
  return t;
}

// first, then second: dst = second(first(src)).
constexpr MoveTable compose(const MoveTable& first, const MoveTable& second) {
  MoveTable t;
  for (std::size_t i = 0; i < kStickers; ++i) t.from[i] = first.from[second.from[i]];
  for (std::size_t c = 0; c < 8; ++c) t.relabel[c] = second.relabel[first.relabel[c]];
  return t;
}

constexpr std::array<MoveTable, kMoveCount> build_move_tables() {
  std::array<MoveTable, kMoveCount> all{};
  for (std::size_t f = 0; f < kFamilyCount; ++f) {
    const MoveTable q = quarter_turn_table(kQuarterTurns[f]);
    const MoveTable h = compose(q, q);
    all[3 * f] = q;
    all[3 * f + 1] = h;
    all[3 * f + 2] = compose(h, q);
  }
  return all;
}

}  // namespace detail

// Moves as values: the identity, and `first` followed by `second`.
constexpr MoveTable identity_move_table() {
  MoveTable t;
  for (std::size_t i = 0; i < kStickers; ++i) t.from[i] = static_cast<std::uint8_t>(i);
  for (std::size_t c = 0; c < 8; ++c) t.relabel[c] = static_cast<std::uint8_t>(c);
  return t;
}
constexpr MoveTable compose_moves(const MoveTable& first, const MoveTable& second) {
  return detail::compose(first, second);
}

// dst := the table applied to src.
inline void apply_table(const MoveTable& t, Cube& dst, const Cube& src) {
  for (std::size_t i = 0; i < kStickers; ++i) dst.s[i] = t.relabel[src.s[t.from[i]] & 7u];
}

// The permutation and relabelling of every move, fixed at compile time.
inline constexpr std::array<MoveTable, kMoveCount> move_tables = detail::build_move_tables();

constexpr int move_family(int m) { return m / 3; }
constexpr int move_variant(int m) { return m % 3; }

// dst := move m applied to src. Straight-line over constant tables.
inline void apply_move(int m, Cube& dst, const Cube& src) {
  apply_table(move_tables[static_cast<std::size_t>(m)], dst, src);
}

inline Cube apply_move(int m, const Cube& src) {
  Cube dst;
  apply_move(m, dst, src);
  return dst;
}

// Index of the move with this exact name, or -1.
int move_index(std::string_view name);

}  // namespace tessel
