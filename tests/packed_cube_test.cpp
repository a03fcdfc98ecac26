// Packed cubes: the exact bit layout, round trips of every cube the search
// can meet, the two orders, and the pack/unpack self-check.
#include "search/packed_cube.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cube/masks.h"
#include "cube/moves.h"
#include "cube/pieces.h"
#include "search/key_slice.h"
#include "test_util.h"

namespace tessel {
namespace {

using Bytes = std::array<std::uint8_t, 16>;

// The value as 16 bytes, least significant first.
Bytes value_bytes(const PackedCube& p) {
  Bytes b{};
  for (int k = 0; k < 8; ++k) {
    b[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(p.lo >> (8 * k));
    b[static_cast<std::size_t>(k + 8)] = static_cast<std::uint8_t>(p.hi >> (8 * k));
  }
  return b;
}

// The object as it lies in memory.
Bytes memory_bytes(const PackedCube& p) {
  Bytes b{};
  std::memcpy(b.data(), &p, sizeof p);
  return b;
}

// The cube byte held by each 3-bit field, lowest field first: the corner
// stickers that are not on U or D, in byte order, then every edge sticker.
std::vector<int> field_bytes() {
  std::vector<int> f;
  for (int b = 24; b < 48; ++b)
    if (b % 24 / 4 != kU && b % 24 / 4 != kD) f.push_back(b);
  for (int e = 0; e < 24; ++e) f.push_back(e);
  return f;
}

TEST(PackedCube, FieldsAreTheStoredStickers) {
  const auto fields = field_bytes();
  ASSERT_EQ(fields.size(), static_cast<std::size_t>(kPackedFields));
  EXPECT_EQ(fields.front(), 28);  // corner sticker 4, FUL
  EXPECT_EQ(fields[16], 0);       // then the edges from byte 0
  for (std::size_t k = 0; k < fields.size(); ++k)
    EXPECT_EQ(kPackedFieldBytes[k], fields[k]) << "field " << k;
}

// Bit `bit` of the 128-bit value.
int bit_of(const PackedCube& p, int bit) {
  return bit < 64 ? static_cast<int>((p.lo >> bit) & 1)
                  : static_cast<int>((p.hi >> (bit - 64)) & 1);
}

void expect_round_trip(const Cube& cube, int move) {
  const PackedCube p = pack_ce(cube, move);
  Cube back;
  int back_move = -1;
  unpack_ce(back, back_move, p);
  ASSERT_EQ(back, cube) << "move " << move;
  ASSERT_EQ(back_move, move);
  ASSERT_EQ(unpack_last_move(p), move);
  ASSERT_EQ(check_packing(cube, move), PackingCheck::ok);
}

TEST(PackedCube, SolvedCubeImage) {
  const Bytes solved = {0x00, 0x49, 0xB2, 0x6D, 0x24, 0xD9, 0xB6, 0x00,
                        0x90, 0x24, 0x92, 0xB4, 0x6D, 0x24, 0xD9, 0xB6};
  const PackedCube p = pack_ce(full_cube(), 0);
  EXPECT_EQ(value_bytes(p), solved);
  EXPECT_EQ(memory_bytes(p), solved);

  Bytes with17 = solved;
  with17[0] = 0x11;
  EXPECT_EQ(memory_bytes(pack_ce(full_cube(), 17)), with17);
}

TEST(PackedCube, EmptyCubeImage) {
  const Bytes empty = {0x00, 0xB6, 0x6D, 0xDB, 0xB6, 0x6D, 0xDB, 0xB6,
                       0x6D, 0xDB, 0xB6, 0x6D, 0xDB, 0xB6, 0x6D, 0xDB};
  EXPECT_EQ(memory_bytes(pack_ce(empty_cube(), 0)), empty);
  EXPECT_EQ(unpack_cube(pack_ce(empty_cube(), 0)), empty_cube());
}

TEST(PackedCube, EveryFieldSitsAtItsBits) {
  const auto fields = field_bytes();
  ASSERT_EQ(fields.size(), 40u);
  for (std::size_t k = 0; k < fields.size(); ++k) {
    for (int value = 1; value < 8; ++value) {
      Cube c;  // all zero
      c[fields[k]] = static_cast<std::uint8_t>(value);
      const PackedCube p = pack_ce(c, 0);
      const int base = 8 + 3 * static_cast<int>(k);
      for (int bit = 0; bit < 128; ++bit) {
        const int expected = (bit >= base && bit < base + 3) ? (value >> (bit - base)) & 1 : 0;
        ASSERT_EQ(bit_of(p, bit), expected)
            << "field " << k << " value " << value << " bit " << bit;
      }
    }
  }
  // The move occupies bits 0..7 only.
  const PackedCube p = pack_ce(Cube{}, 53);
  EXPECT_EQ(p.lo, 53u);
  EXPECT_EQ(p.hi, 0u);
}

TEST(PackedCube, EdgeStickerTwoStraddlesTheWords) {
  const Cube base = full_cube();
  Cube zero = base;
  zero[2] = 0;
  const PackedCube p0 = pack_ce(zero, 0);
  for (int v = 0; v < 8; ++v) {
    Cube c = base;
    c[2] = static_cast<std::uint8_t>(v);
    const PackedCube p = pack_ce(c, 0);
    EXPECT_EQ(p.lo ^ p0.lo, static_cast<std::uint64_t>(v & 3) << 62) << v;
    EXPECT_EQ(p.hi ^ p0.hi, static_cast<std::uint64_t>(v >> 2)) << v;
    Cube back;
    int m = 0;
    unpack_ce(back, m, p);
    EXPECT_EQ(back[2], v);
  }
}

TEST(PackedCube, RandomReachableStatesRoundTripWithEveryMove) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 200; ++round) {
    const bool all_moves = round % 2 == 1;
    const Cube c =
        test::apply_sequence(full_cube(), test::random_moves(rng, 1 + round % 40, all_moves));
    for (int m = 0; m < kMoveCount; ++m) expect_round_trip(c, m);
  }
}

// Every kind of target the mask operations build, alone and moved around.
std::vector<Cube> mask_targets() {
  const Cube e = empty_cube();
  std::vector<Cube> t = {
      e,
      full_cube(),
      add_f2l(e),
      add_cross(e),
      add_missing_corners(e),
      add_missing_edges(e),
      add_missing_corner_orientation(e),
      add_missing_edges_orientation(e),
      add_missing_corner_orientation(add_missing_edges_orientation(e)),
      add_domino_elements(e),
      add_missing_corner_permutation(add_f2l(e)),
      add_missing_edges_permutation(add_f2l(e)),
      add_missing_edges_permutation(add_cross(e)),
      add_missing_edges_orientation(add_missing_corner_permutation(add_f2l(e))),
      add_missing_corner_permutation(add_corner(add_corner(e, "UFR"), "DBL")),
      add_missing_corner_orientation(add_missing_edges_permutation(add_cross(e))),
      add_domino_edge(e, "FR"),
  };
  for (const char* name : {"DF", "DB", "DR", "DL", "UF", "UB", "UR", "UL", "FR", "FL", "BR", "BL"})
    t.push_back(add_edge(e, name));
  for (const char* name : {"DFR", "DFL", "DBR", "DBL", "UFR", "UFL", "UBR", "UBL"})
    t.push_back(add_corner(e, name));
  return t;
}

TEST(PackedCube, MaskTargetsRoundTripWithEveryMove) {
  std::mt19937 rng(7);
  const auto targets = mask_targets();
  for (std::size_t k = 0; k < targets.size(); ++k) {
    SCOPED_TRACE("target " + std::to_string(k));
    for (int m = 0; m < kMoveCount; ++m) expect_round_trip(targets[k], m);
    for (int round = 0; round < 20; ++round) {
      const Cube moved = test::apply_sequence(targets[k], test::random_moves(rng, 1 + round, true));
      for (int m = 0; m < kMoveCount; ++m) expect_round_trip(moved, m);
    }
  }
}

// Reference orders: the fields compared from the most significant (edge
// sticker 23) down, then (full order only) the move.
int reference_state_order(const Cube& a, const Cube& b) {
  const auto fields = field_bytes();
  for (std::size_t k = fields.size(); k-- > 0;) {
    const int x = a[fields[k]], y = b[fields[k]];
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

TEST(PackedCube, OrdersAgreeWithFieldByFieldComparison) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> move(0, 53);
  std::uniform_int_distribution<int> field(0, 39);
  std::uniform_int_distribution<int> colour(0, 7);
  const auto fields = field_bytes();
  for (int round = 0; round < 20000; ++round) {
    // Any byte pattern packs; the orders depend on the stored fields only.
    const Cube a = test::random_stickers(rng);
    Cube b = a;
    // Mostly near neighbours, so every field gets to decide.
    const int changes = round % 3;
    for (int k = 0; k < changes; ++k)
      b[fields[static_cast<std::size_t>(field(rng))]] = static_cast<std::uint8_t>(colour(rng));
    if (round % 50 == 0) b = test::random_stickers(rng);
    const int ma = move(rng), mb = move(rng);
    const PackedCube pa = pack_ce(a, ma), pb = pack_ce(b, mb);
    const int state = reference_state_order(a, b);
    ASSERT_EQ(compare_packed_cubes_only_cube_state(pa, pb), state);
    ASSERT_EQ(compare_packed_cubes_only_cube_state(pb, pa), -state);
    const int full = state != 0 ? state : (ma < mb ? -1 : ma > mb ? 1 : 0);
    ASSERT_EQ(compare_packed_cubes_full(pa, pb), full);
    ASSERT_EQ(compare_packed_cubes_full(pb, pa), -full);
  }
}

TEST(PackedCube, LastMoveBreaksTiesOnlyInFullOrder) {
  const Cube c = test::apply_sequence(full_cube(), test::parse_moves("R U F'"));
  for (int m = 0; m < kMoveCount; ++m)
    for (int n = 0; n < kMoveCount; ++n) {
      const PackedCube a = pack_ce(c, m), b = pack_ce(c, n);
      ASSERT_EQ(compare_packed_cubes_only_cube_state(a, b), 0);
      ASSERT_EQ(compare_packed_cubes_full(a, b), m < n ? -1 : m > n ? 1 : 0);
    }
}

// The corner whose stickers include byte b.
const CornerPiece& corner_of(int b) {
  for (const auto& c : corner_pieces)
    if (std::find(c.begin(), c.end(), b) != c.end()) return c;
  throw std::logic_error("no corner holds byte " + std::to_string(b));
}

TEST(PackedCube, DerivedStickersAreTheUAndDStickersOfTheirCorners) {
  std::set<int> all;
  for (std::uint8_t b : kPackedFieldBytes) all.insert(b);
  for (const auto& d : kDerivedCorners) {
    SCOPED_TRACE("derived byte " + std::to_string(d.target));
    const int face = d.target % 24 / 4;
    EXPECT_TRUE(d.target >= 24 && (face == kU || face == kD));
    // First and second are the other two stickers of the same corner, the
    // three anticlockwise from the derived one.
    const auto& c = corner_of(d.target);
    EXPECT_EQ(c.reference(), d.target);
    const auto cw = clockwise(c);
    EXPECT_EQ(d.first, cw[2]);
    EXPECT_EQ(d.second, cw[1]);
    all.insert(d.target);
  }
  EXPECT_EQ(all.size(), 48u);  // every byte stored or derived, none both
  for (std::size_t k = 1; k < kDerivedCorners.size(); ++k)
    EXPECT_LT(kDerivedCorners[k - 1].target, kDerivedCorners[k].target);
  // The first, as the byte layout lists it: UBL from its B and L stickers.
  EXPECT_EQ(kDerivedCorners[0].target, 24);
  EXPECT_EQ(kDerivedCorners[0].first, 41);
  EXPECT_EQ(kDerivedCorners[0].second, 44);
}

TEST(PackedCube, EveryRealCornerInEverySlotAndTwistComesBack) {
  // Corner piece p in the slot of corner s, turned by t: the sticker at the
  // slot's k-th clockwise place shows the colour of the piece's (k + t)-th.
  for (const auto& slot : corner_pieces)
    for (const auto& piece : corner_pieces)
      for (std::size_t t = 0; t < 3; ++t) {
        const auto at = clockwise(slot), colours = clockwise(piece);
        Cube c = full_cube();
        for (std::size_t k = 0; k < 3; ++k)
          c[at[k]] = static_cast<std::uint8_t>(colours[(k + t) % 3] % 24 / 4);
        SCOPED_TRACE(std::string(piece.name) + " at " + std::string(slot.name) + " twist " +
                     std::to_string(t));
        EXPECT_EQ(check_packing(c, 0), PackingCheck::ok);
        // The mirror image of the corner is no real corner and does not come back.
        Cube mirrored = c;
        std::swap(mirrored[at[1]], mirrored[at[2]]);
        EXPECT_EQ(check_packing(mirrored, 0), PackingCheck::wrong_cube);
      }
}

TEST(PackedCube, CornerThirdColourTable) {
  // Row = first colour, column = second colour.
  // clang-format off
  constexpr int kTable[8][8] = {
      { 0,  3, -1,  4,  5,  1, -1, -1},
      { 5,  1,  3,  0, -1,  2, -1, -1},
      {-1,  5,  2,  1,  3,  4, -1, -1},
      { 1,  2,  4,  3,  0, -1, -1, -1},
      { 3, -1,  5,  2,  4,  0, -1, -1},
      { 4,  0,  1, -1,  2,  5, -1, -1},
      {-1, -1, -1, -1, -1, -1,  6,  7},
      {-1, -1, -1, -1, -1, -1,  7,  6},
  };
  // clang-format on
  for (int first = 0; first < 8; ++first)
    for (int second = 0; second < 8; ++second)
      EXPECT_EQ(corner_third_colour[static_cast<std::size_t>(first * 8 + second)],
                kTable[first][second])
          << first << "," << second;
}

TEST(PackedCube, UnrepresentablePairUnpacksTo255) {
  for (const auto& corner : corner_pieces) {
    Cube c = full_cube();
    c[corner.bytes[1]] = 0;
    c[corner.bytes[2]] = 2;  // no corner shows U and D
    Cube back;
    int m = 0;
    unpack_ce(back, m, pack_ce(c, 5));
    EXPECT_EQ(back[corner.reference()], 255) << corner.name;
    Cube unpacked;
    EXPECT_EQ(check_packing(c, 17, &unpacked), PackingCheck::wrong_cube);
    EXPECT_EQ(unpacked, back);
  }
}

TEST(PackedCube, OrientationOnlyCornerUnpacksWhereverItsSixSits) {
  // One 6 and two 7 on a corner, the 6 on any of its three stickers.
  for (const auto& corner : corner_pieces) {
    for (std::size_t which = 0; which < 3; ++which) {
      Cube c = empty_cube();
      for (std::size_t k = 0; k < 3; ++k) c[corner.bytes[k]] = k == which ? kEmpty : kMarker;
      EXPECT_EQ(check_packing(c, 0), PackingCheck::ok) << corner.name << " " << which;
    }
  }
}

TEST(PackedCube, CheckPackingComparesTheLowByteOfTheMove) {
  EXPECT_EQ(check_packing(full_cube(), 17), PackingCheck::ok);
  EXPECT_EQ(check_packing(full_cube(), 256 + 17), PackingCheck::ok);
  EXPECT_EQ(unpack_last_move(pack_ce(full_cube(), 256 + 17)), 17);
  // A stray non-cube state is caught, not silently accepted.
  Cube c = full_cube();
  c[24 + 5] = 3;  // UFR corner shows R, R
  EXPECT_EQ(check_packing(c, 0), PackingCheck::wrong_cube);
}

// Keys cut finer than a bucket: a prefix and the bits after it make the
// longer prefix, prefixes keep the cube-state order, and a slice is a run
// of that order bounded where before_sub says.
TEST(KeySlice, PrefixesAndBitsFollowTheCubeStateOrder) {
  std::mt19937_64 rng(99);
  std::vector<PackedCube> keys(400);
  for (auto& k : keys) k = {rng(), rng()};
  keys.push_back({0, 0});
  keys.push_back({~std::uint64_t{0}, ~std::uint64_t{0}});
  // Pairs that differ only below a given bit, the move byte included.
  for (int bit : {0, 8, 9, 63, 64, 100, 127})
    keys.push_back({keys[0].lo ^ (bit < 64 ? std::uint64_t{1} << bit : 0),
                    keys[0].hi ^ (bit >= 64 ? std::uint64_t{1} << (bit - 64) : 0)});
  std::sort(keys.begin(), keys.end(), cube_state_less);
  struct Cut {
    int depth, bits;
  };
  for (const Cut cut : {Cut{0, 16}, Cut{16, 16}, Cut{48, 16}, Cut{56, 13}, Cut{64, 16}, Cut{63, 1},
                        Cut{104, 16}, Cut{119, 1}, Cut{32, 32}}) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const PackedCube& c = keys[i];
      const std::uint64_t sub = key_bits(c, cut.depth, cut.bits);
      ASSERT_LT(sub, std::uint64_t{1} << cut.bits);
      EXPECT_EQ(with_key_bits(key_prefix(c, cut.depth), cut.depth, cut.bits, sub),
                key_prefix(c, cut.depth + cut.bits))
          << cut.depth << "+" << cut.bits;
      EXPECT_EQ(key_prefix(with_last_move(c, 77), cut.depth), key_prefix(c, cut.depth));
      if (i > 0) {
        EXPECT_LE(key_prefix(keys[i - 1], cut.depth), key_prefix(c, cut.depth));
      }
      // The slice of c's own sub-slice holds c; its bounds hold the run.
      const KeySlice slice{key_prefix(c, cut.depth), cut.depth, cut.bits, sub, sub + 1};
      EXPECT_TRUE(in_slice(c, slice));
      for (std::size_t j = 0; j < keys.size(); j += 7) {
        const bool before = before_sub(keys[j], slice.prefix, cut.depth, cut.bits, sub);
        const bool before_end = before_sub(keys[j], slice.prefix, cut.depth, cut.bits, sub + 1);
        EXPECT_EQ(in_slice(keys[j], slice), !before && before_end);
        if (cube_state_less(keys[j], c) && !in_slice(keys[j], slice)) {
          EXPECT_TRUE(before);
        }
      }
    }
  }
  EXPECT_EQ(key_prefix({0xFF, 1}, kKeyBits), (KeyPrefix{1, 0}));
  EXPECT_EQ(key_bits({0x1FF, 0}, kKeyBits - 1, 1), 1u);
}

}  // namespace
}  // namespace tessel
