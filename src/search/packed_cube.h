// The 128-bit packed cube: a cube state and the move that reached it.
//
//   bit   0        8     20                  56  62 64                 125 127
//         | move   | c4..c7 | c12..c23        | e0 e1 |e2| e3 ... e23      |
//         +--------+--------+-----------------+-------+--+----------------+
//          8 bits    4 x 3    12 x 3 bits        24 x 3 bits (edge sticker 2
//                                                 straddles the two words)
//
// lo holds bits 0..63, hi bits 64..127 (in memory: lo first, so the 16 bytes
// are the value in little-endian order). Bits 0..7: last move, 0..53 (the
// root of a search stores 0). Bits 8..127: forty 3-bit colour codes 0..7,
// lowest bit first: corner stickers 4..7, then 12..23 (cube bytes 28..31,
// 36..47), then edge stickers 0..23 (cube bytes 0..23). The U/D sticker of
// every corner (corner stickers 0..3, 8..11) is not stored; unpacking derives
// it from the other two through corner_third_colour.
//
// Two orders: cube-state order compares bits 8..127 as one unsigned number;
// full order compares all 128 bits (cube-state order, ties broken by move).
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "cube/cube_state.h"
#include "cube/pieces.h"

namespace tessel {

struct alignas(16) PackedCube {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;

  friend constexpr bool operator==(const PackedCube&, const PackedCube&) = default;
};
static_assert(sizeof(PackedCube) == 16);

inline constexpr int kPackedFields = 40;

// Whether cube byte b is the reference sticker (the U or D sticker) of a
// corner: these eight are not stored.
constexpr bool derived_corner_sticker(int b) {
  for (const auto& c : corner_pieces)
    if (c.reference() == b) return true;
  return false;
}

// Cube byte of every packed field, lowest field first: the stored corner
// stickers in byte order (corner stickers 4..7, 12..23), then every edge
// sticker.
inline constexpr std::array<std::uint8_t, kPackedFields> kPackedFieldBytes = [] {
  std::array<std::uint8_t, kPackedFields> a{};
  std::size_t k = 0;
  for (int b = kCornerBase; b < kStickers; ++b)
    if (!derived_corner_sticker(b)) a[k++] = static_cast<std::uint8_t>(b);
  for (int e = 0; e < kEdgeStickers; ++e) a[k++] = static_cast<std::uint8_t>(e);
  if (k != kPackedFields) throw "the packed fields do not fill 120 bits";
  return a;
}();

// Derived corner stickers and the two stored stickers of the same corner
// they come from (cube bytes), in byte order of the derived sticker. Target,
// first and second follow each other anticlockwise round the corner.
struct DerivedCorner {
  std::uint8_t target, first, second;
};
inline constexpr std::array<DerivedCorner, 8> kDerivedCorners = [] {
  std::array<DerivedCorner, 8> d{};
  std::size_t k = 0;
  for (int b = kCornerBase; b < kStickers; ++b)
    for (const auto& c : corner_pieces)
      if (c.reference() == b) {
        const auto cw = clockwise(c);
        d[k++] = {static_cast<std::uint8_t>(cw[0]), static_cast<std::uint8_t>(cw[2]),
                  static_cast<std::uint8_t>(cw[1])};
      }
  return d;
}();

// Colour of a corner's third sticker given the other two in anticlockwise
// order, indexed first * 8 + second; -1 where no representable corner shows
// the pair. A uniform corner (codes 0..6) gives its code back, and the
// orientation-only corner of the masks (one 6, two 7) comes back whichever of
// its stickers holds the 6.
inline constexpr std::array<std::int32_t, 64> corner_third_colour = [] {
  std::array<std::int32_t, 64> t{};
  t.fill(-1);
  for (const auto& d : kDerivedCorners) {
    const int s0 = face_of(d.target), s1 = face_of(d.first), s2 = face_of(d.second);
    t[static_cast<std::size_t>(s1 * 8 + s2)] = s0;
    t[static_cast<std::size_t>(s2 * 8 + s0)] = s1;
    t[static_cast<std::size_t>(s0 * 8 + s1)] = s2;
  }
  for (int i = 0; i <= 6; ++i) t[static_cast<std::size_t>(i * 8 + i)] = i;
  t[7 * 8 + 7] = 6;
  t[7 * 8 + 6] = 7;
  t[6 * 8 + 7] = 7;
  return t;
}();

// Packs a cube (every byte 0..7) with its last move.
PackedCube pack_ce(const Cube& cube, int last_move);
namespace detail {
template <std::size_t... K>
inline void unpack_low_fields(Cube& c, std::uint64_t lo, std::index_sequence<K...>) {
  ((c.s[kPackedFieldBytes[K]] = static_cast<std::uint8_t>((lo >> (8 + 3 * K)) & 7)), ...);
}
template <std::size_t... K>
inline void unpack_high_fields(Cube& c, std::uint64_t hi, std::index_sequence<K...>) {
  ((c.s[kPackedFieldBytes[19 + K]] = static_cast<std::uint8_t>((hi >> (3 * K + 1)) & 7)), ...);
}
template <std::size_t... D>
inline void derive_corners(Cube& c, std::index_sequence<D...>) {
  ((c.s[kDerivedCorners[D].target] =
        static_cast<std::uint8_t>(corner_third_colour[static_cast<std::size_t>(
            c.s[kDerivedCorners[D].first] * 8 + c.s[kDerivedCorners[D].second])])),
   ...);
}
}  // namespace detail

// Unpacks into a cube and the last move. Fields 0..17 lie in the low word,
// field 18 (edge sticker 2) straddles bits 62..64, fields 19..39 lie in the
// high word from bit 65 (high bit 1) on.
inline void unpack_ce(Cube& cube, int& last_move, const PackedCube& p) {
  last_move = static_cast<int>(p.lo & 0xFF);
  detail::unpack_low_fields(cube, p.lo, std::make_index_sequence<18>{});
  cube.s[2] = static_cast<std::uint8_t>(((p.lo >> 62) | (p.hi << 2)) & 7);
  detail::unpack_high_fields(cube, p.hi, std::make_index_sequence<21>{});
  detail::derive_corners(cube, std::make_index_sequence<8>{});
}
Cube unpack_cube(const PackedCube& packed);

constexpr int unpack_last_move(const PackedCube& p) { return static_cast<int>(p.lo & 0xFF); }

// The packed cube with its last move replaced.
constexpr PackedCube with_last_move(PackedCube p, int m) {
  p.lo = (p.lo & ~std::uint64_t{0xFF}) | static_cast<std::uint8_t>(m);
  return p;
}

// Orders as three-way comparisons (-1, 0, 1).
constexpr int compare_packed_cubes_only_cube_state(const PackedCube& a, const PackedCube& b) {
  if (a.hi != b.hi) return a.hi < b.hi ? -1 : 1;
  const std::uint64_t la = a.lo >> 8, lb = b.lo >> 8;
  if (la != lb) return la < lb ? -1 : 1;
  return 0;
}
constexpr int compare_packed_cubes_full(const PackedCube& a, const PackedCube& b) {
  if (a.hi != b.hi) return a.hi < b.hi ? -1 : 1;
  if (a.lo != b.lo) return a.lo < b.lo ? -1 : 1;
  return 0;
}
constexpr bool same_cube_state(const PackedCube& a, const PackedCube& b) {
  return a.hi == b.hi && (a.lo >> 8) == (b.lo >> 8);
}
constexpr bool cube_state_less(const PackedCube& a, const PackedCube& b) {
  return a.hi < b.hi || (a.hi == b.hi && (a.lo >> 8) < (b.lo >> 8));
}

// Whether packing then unpacking gives back the cube and the move. The
// print command runs it; false means the cube cannot be represented.
enum class PackingCheck { ok, wrong_cube, wrong_move };
PackingCheck check_packing(const Cube& cube, int last_move, Cube* unpacked = nullptr);

}  // namespace tessel
