// A cube written as its 54 stickers, in the order most cube software uses:
// the faces U, R, F, D, L, B, nine letters each, every face row by row from
// the top left as seen from outside it: U with B at the top, D with F at
// the top, R, F, L and B with U at the top.
//
//                U1 U2 U3
//                U4 U5 U6
//                U7 U8 U9
//      L1 L2 L3  F1 F2 F3  R1 R2 R3  B1 B2 B3
//      L4 L5 L6  F4 F5 F6  R4 R5 R6  B4 B5 B6
//      L7 L8 L9  F7 F8 F9  R7 R8 R9  B7 B8 B9
//                D1 D2 D3
//                D4 D5 D6
//                D7 D8 D9
//
// The text is U1..U9 R1..R9 F1..F9 D1..D9 L1..L9 B1..B9. Each letter names
// the face whose centre colour the sticker has; X or . is a sticker left
// empty (a piece the target does not colour).
#pragma once

#include <array>
#include <string_view>

#include "cube/cube_state.h"

namespace tessel {

inline constexpr int kStickerLetters = 54;
// The faces of the text, nine letters each, in this order.
inline constexpr std::string_view sticker_text_faces = "URFDLB";

// The cube byte that letter i of the text stands for; -1 for a centre.
extern const std::array<int, kStickerLetters> sticker_text_bytes;

// The cube the text shows. Every piece is either wholly empty or a real
// piece; the centres must be in place. Text no cube can show (a wrong
// length, a wrong letter, a centre out of place, a piece partly empty or
// with colours no piece has, a piece there twice, or a whole set of corners
// or edges, or of both, that no moves can make) throws
// Failure("ERROR: invalid stickers: REASON\n").
Cube cube_from_stickers(std::string_view text);

}  // namespace tessel
