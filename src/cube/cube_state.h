// The sticker cube: 48 one-byte colour codes, one per movable sticker.
//
//   bytes  0..23  edge stickers   (face f owns 4f..4f+3)
//   bytes 24..47  corner stickers (face f owns 24+4f..24+4f+3)
//
// Colour codes 0..5 are the colours of the centres of U F D R B L, 6 is an
// empty sticker and 7 the marker colour of masked targets. Centres are not
// stored: the centre of face f always has colour f.
#pragma once

#include <array>
#include <cstdint>

namespace tessel {

inline constexpr int kStickers = 48;
inline constexpr int kEdgeStickers = 24;
inline constexpr int kCornerBase = 24;  // byte of corner sticker 0

inline constexpr std::uint8_t kU = 0, kF = 1, kD = 2, kR = 3, kB = 4, kL = 5;
inline constexpr std::uint8_t kEmpty = 6;   // no colour
inline constexpr std::uint8_t kMarker = 7;  // marker colour of masks

struct Cube {
  std::array<std::uint8_t, kStickers> s{};

  constexpr std::uint8_t& operator[](int i) { return s[static_cast<std::size_t>(i)]; }
  constexpr std::uint8_t operator[](int i) const { return s[static_cast<std::size_t>(i)]; }
  friend constexpr bool operator==(const Cube&, const Cube&) = default;
};

// The pieces (which bytes move together) are in cube/pieces.h.

// Every sticker at its home colour: byte i holds (i mod 24) / 4.
constexpr Cube full_cube() {
  Cube c;
  for (int i = 0; i < kEdgeStickers; ++i) {
    c[i] = static_cast<std::uint8_t>(i / 4);
    c[kCornerBase + i] = static_cast<std::uint8_t>(i / 4);
  }
  return c;
}

// Every sticker empty (6).
constexpr Cube empty_cube() {
  Cube c;
  c.s.fill(kEmpty);
  return c;
}

// Byte-wise comparison in index order: the difference of the first bytes
// that differ, 0 when the cubes are equal.
constexpr int cube_compare(const Cube& a, const Cube& b) {
  for (int i = 0; i < kStickers; ++i)
    if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  return 0;
}

}  // namespace tessel
