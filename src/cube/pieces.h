// The 20 movable pieces: which cube bytes move together, and what the
// pieces are called. The name look-ups and target masks (masks.cpp), the
// derived corner stickers of the packing (packed_cube.h) and the picture
// order (display.cpp) are all built from the two tables below.
#pragma once

#include <array>
#include <string_view>

#include "cube/cube_state.h"

namespace tessel {

// Face letters by face number (the colour code of the face's centre).
inline constexpr std::string_view face_letters = "UFDRBL";

// Face that holds cube byte b (0..47); in the solved cube also its colour.
constexpr int face_of(int b) { return (b % kEdgeStickers) / 4; }

// A piece: its name and the cube bytes of its stickers in the letter order
// of the name (DF: the D sticker 8, then the F sticker 6). The first letter
// is the piece's reference face: U or D, or F or B for an edge of the middle
// layer; so bytes[0] is the reference sticker that the whole-cube masks look
// at. Iterating a piece gives its sticker bytes.
template <std::size_t N>
struct Piece {
  std::string_view name;
  std::array<int, N> bytes;

  constexpr int reference() const { return bytes[0]; }
  constexpr auto begin() const { return bytes.begin(); }
  constexpr auto end() const { return bytes.end(); }
};
using EdgePiece = Piece<2>;
using CornerPiece = Piece<3>;

// In the order of the name tables of the masks.
inline constexpr std::array<EdgePiece, 12> edge_pieces = {{
    {"DF", {8, 6}},   {"DB", {10, 18}}, {"DR", {9, 14}},  {"DL", {11, 22}},
    {"UF", {2, 4}},   {"UB", {0, 16}},  {"UR", {1, 12}},  {"UL", {3, 20}},
    {"FR", {5, 15}},  {"FL", {7, 21}},  {"BR", {19, 13}}, {"BL", {17, 23}},
}};
inline constexpr std::array<CornerPiece, 8> corner_pieces = {{
    {"DFR", {33, 31, 38}}, {"DFL", {32, 30, 47}}, {"DBR", {35, 42, 39}}, {"DBL", {34, 43, 46}},
    {"UFR", {27, 29, 36}}, {"UFL", {26, 28, 45}}, {"UBR", {25, 40, 37}}, {"UBL", {24, 41, 44}},
}};

// The piece with this name as written in the tables above (one letter order
// only); a name that is not there stops compilation where it is used.
template <std::size_t N, std::size_t P>
constexpr const Piece<N>& piece_named(const std::array<Piece<N>, P>& pieces, std::string_view name) {
  for (const auto& p : pieces)
    if (p.name == name) return p;
  throw "no piece of this name";
}

// Geometry, for the orders that depend on where stickers lie: the outward
// direction of every face, x towards R, y towards U, z towards F.
using Direction = std::array<int, 3>;
inline constexpr std::array<Direction, 6> face_direction = {{
    {0, 1, 0}, {0, 0, 1}, {0, -1, 0}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0},
}};

constexpr int dot(const Direction& a, const Direction& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Where a piece sits: the sum of the directions of its faces.
template <std::size_t N>
constexpr Direction piece_position(const Piece<N>& p) {
  Direction d{};
  for (int b : p)
    for (std::size_t k = 0; k < 3; ++k) d[k] += face_direction[static_cast<std::size_t>(face_of(b))][k];
  return d;
}

// A face as seen from outside, turned so that the side next to face `top`
// is the top row and the side next to face `right` the right column.
struct FaceView {
  int face, top, right;
};

// The cube bytes of a face's stickers as a view shows them, row by row from
// the top left; -1 for the centre, which no byte holds.
constexpr std::array<int, 9> face_stickers(const FaceView& v) {
  std::array<int, 9> text{};
  text.fill(-1);
  const auto& top = face_direction[static_cast<std::size_t>(v.top)];
  const auto& right = face_direction[static_cast<std::size_t>(v.right)];
  const auto place = [&](const auto& pieces) {
    for (const auto& p : pieces)
      for (int b : p)
        if (face_of(b) == v.face) {
          const Direction at = piece_position(p);
          text[static_cast<std::size_t>((1 - dot(at, top)) * 3 + 1 + dot(at, right))] = b;
        }
  };
  place(edge_pieces);
  place(corner_pieces);
  return text;
}

// The stickers of a corner from its reference sticker on, clockwise as seen
// from outside the corner (UFR: U, R, F). Three faces a, b, c follow each
// other clockwise when the determinant of their directions is negative.
constexpr std::array<int, 3> clockwise(const CornerPiece& c) {
  const auto& a = face_direction[static_cast<std::size_t>(face_of(c.bytes[0]))];
  const auto& b = face_direction[static_cast<std::size_t>(face_of(c.bytes[1]))];
  const auto& d = face_direction[static_cast<std::size_t>(face_of(c.bytes[2]))];
  const int det = a[0] * (b[1] * d[2] - b[2] * d[1]) - a[1] * (b[0] * d[2] - b[2] * d[0]) +
                  a[2] * (b[0] * d[1] - b[1] * d[0]);
  if (det < 0) return c.bytes;
  return {c.bytes[0], c.bytes[2], c.bytes[1]};
}

}  // namespace tessel
