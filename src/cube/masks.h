// Piece names and partial targets (masks).
//
// A mask colours chosen pieces of a cube and leaves the rest empty (6), or
// writes marker colours that keep only a piece's orientation (7) or only
// its identity (permutation numbers 0..5 for corners, 0..7 for edges).
#pragma once

#include <array>
#include <string_view>

#include "cube/cube_state.h"

namespace tessel {

// Sticker indices of a named piece: edge stickers 0..23, corner stickers
// 0..23 (add kCornerBase for the cube byte). -1 entries when no piece has
// this name. Names are exact and case-sensitive; every letter order of a
// piece gives the same stickers in the same order.
std::array<int, 2> get_edge_stickers_by_name(std::string_view name);
std::array<int, 3> get_corner_stickers_by_name(std::string_view name);

// Named pieces take their home colours; an unknown name changes nothing.
Cube add_edge(Cube cube, std::string_view name);
Cube add_corner(Cube cube, std::string_view name);
// The first sticker of the named edge takes the marker colour.
Cube add_domino_edge(Cube cube, std::string_view name);

// The whole-cube operations act on every piece whose reference sticker (the
// U or D sticker; the F or B sticker of a middle-layer edge) is empty.
Cube add_missing_corners(Cube cube);
Cube add_missing_corner_orientation(Cube cube);
Cube add_missing_edges(Cube cube);
Cube add_missing_edges_orientation(Cube cube);
// Numbered markers; more than 6 empty corners / 8 empty edges is a user
// error (throws Failure with status 1).
Cube add_missing_corner_permutation(Cube cube);
Cube add_missing_edges_permutation(Cube cube);

// The domino target built on the given cube (callers pass the empty cube):
// marker on the F/B sticker of the middle-layer edges, then edge and corner
// orientation markers on every empty piece.
Cube add_domino_elements(Cube cube);

// The bottom and middle layers, and the bottom cross.
Cube add_f2l(Cube cube);
Cube add_cross(Cube cube);

}  // namespace tessel
