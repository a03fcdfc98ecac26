#include "cube/masks.h"

#include "core/failure.h"

namespace tessel {

namespace {

// Two names per edge (both letter orders) and the edge's sticker indices,
// the sticker on the face of the first letter of the first name first.
struct EdgeName {
  std::array<std::string_view, 2> names;
  std::array<int, 2> stickers;
};
constexpr std::array<EdgeName, 12> edges_by_names = {{
    {{"DF", "FD"}, {8, 6}},   {{"DB", "BD"}, {10, 18}}, {{"DR", "RD"}, {9, 14}},
    {{"DL", "LD"}, {11, 22}}, {{"UF", "FU"}, {2, 4}},   {{"UB", "BU"}, {0, 16}},
    {{"UR", "RU"}, {1, 12}},  {{"UL", "LU"}, {3, 20}},  {{"FR", "RF"}, {5, 15}},
    {{"FL", "LF"}, {7, 21}},  {{"BR", "RB"}, {19, 13}}, {{"BL", "LB"}, {17, 23}},
}};

// Six names per corner (every letter order) and its corner sticker indices
// in the letter order of the first name.
struct CornerName {
  std::array<std::string_view, 6> names;
  std::array<int, 3> stickers;
};
constexpr std::array<CornerName, 8> corners_by_names = {{
    {{"DFR", "DRF", "FDR", "FRD", "RDF", "RFD"}, {9, 7, 14}},
    {{"DFL", "DLF", "FDL", "FLD", "LDF", "LFD"}, {8, 6, 23}},
    {{"DBR", "DRB", "BDR", "BRD", "RDB", "RBD"}, {11, 18, 15}},
    {{"DBL", "DLB", "BDL", "BLD", "LDB", "LBD"}, {10, 19, 22}},
    {{"UFR", "URF", "FUR", "FRU", "RUF", "RFU"}, {3, 5, 12}},
    {{"UFL", "ULF", "FUL", "FLU", "LUF", "LFU"}, {2, 4, 21}},
    {{"UBR", "URB", "BUR", "BRU", "RUB", "RBU"}, {1, 16, 13}},
    {{"UBL", "ULB", "BUL", "BLU", "LUB", "LBU"}, {0, 17, 20}},
}};

// The 12 edges as (reference sticker, other sticker), in marker order.
constexpr std::array<std::array<int, 2>, 12> edges = {{
    {1, 12}, {0, 16}, {3, 20}, {2, 4}, {5, 15}, {19, 13},
    {17, 23}, {7, 21}, {8, 6}, {9, 14}, {11, 22}, {10, 18},
}};

// The 8 corners as (reference sticker, second, third) corner stickers.
constexpr std::array<std::array<int, 3>, 8> corners = {{
    {3, 12, 5}, {1, 16, 13}, {0, 20, 17}, {2, 4, 21},
    {10, 19, 22}, {11, 15, 18}, {9, 7, 14}, {8, 23, 6},
}};

// Colours of the corner orientation marker, in triple order.
constexpr std::array<std::uint8_t, 3> oll_corners_colors = {kEmpty, kMarker, kMarker};

constexpr std::uint8_t home(int sticker) { return static_cast<std::uint8_t>(sticker / 4); }

}  // namespace

std::array<int, 2> get_edge_stickers_by_name(std::string_view name) {
  for (const auto& e : edges_by_names)
    for (auto n : e.names)
      if (n == name) return e.stickers;
  return {-1, -1};
}

std::array<int, 3> get_corner_stickers_by_name(std::string_view name) {
  for (const auto& c : corners_by_names)
    for (auto n : c.names)
      if (n == name) return c.stickers;
  return {-1, -1, -1};
}

Cube add_edge(Cube cube, std::string_view name) {
  const auto st = get_edge_stickers_by_name(name);
  if (st[0] < 0) return cube;
  for (int e : st) cube[e] = home(e);
  return cube;
}

Cube add_corner(Cube cube, std::string_view name) {
  const auto st = get_corner_stickers_by_name(name);
  if (st[0] < 0) return cube;
  for (int c : st) cube[kCornerBase + c] = home(c);
  return cube;
}

Cube add_domino_edge(Cube cube, std::string_view name) {
  const auto st = get_edge_stickers_by_name(name);
  if (st[0] < 0) return cube;
  cube[st[0]] = kMarker;
  return cube;
}

Cube add_missing_corners(Cube cube) {
  const Cube in = cube;
  for (const auto& c : corners)
    if (in[kCornerBase + c[0]] == kEmpty)
      for (int s : c) cube[kCornerBase + s] = home(s);
  return cube;
}

Cube add_missing_corner_orientation(Cube cube) {
  const Cube in = cube;
  for (const auto& c : corners)
    if (in[kCornerBase + c[0]] == kEmpty)
      for (std::size_t k = 0; k < 3; ++k) cube[kCornerBase + c[k]] = oll_corners_colors[k];
  return cube;
}

Cube add_missing_corner_permutation(Cube cube) {
  const Cube in = cube;
  std::uint8_t next = 0;
  for (const auto& c : corners) {
    if (in[kCornerBase + c[0]] != kEmpty) continue;
    if (next == 6)
      fail("ERROR: can't add more than 6 corners permutation due to implementation detail");
    for (int s : c) cube[kCornerBase + s] = next;
    ++next;
  }
  return cube;
}

Cube add_missing_edges(Cube cube) {
  const Cube in = cube;
  for (const auto& e : edges)
    if (in[e[0]] == kEmpty)
      for (int s : e) cube[s] = home(s);
  return cube;
}

Cube add_missing_edges_orientation(Cube cube) {
  const Cube in = cube;
  for (const auto& e : edges)
    if (in[e[0]] == kEmpty) {
      cube[e[0]] = 0;
      cube[e[1]] = kMarker;
    }
  return cube;
}

Cube add_missing_edges_permutation(Cube cube) {
  const Cube in = cube;
  std::uint8_t next = 0;
  for (const auto& e : edges) {
    if (in[e[0]] != kEmpty) continue;
    if (next == 8)
      fail("ERROR: can't add more than 8 edges permutation due to implementation detail");
    for (int s : e) cube[s] = next;
    ++next;
  }
  return cube;
}

Cube add_domino_elements(Cube cube) {
  for (auto name : {"RF", "LF", "RB", "LB"}) cube = add_domino_edge(cube, name);
  cube = add_missing_edges_orientation(cube);
  return add_missing_corner_orientation(cube);
}

Cube add_f2l(Cube cube) {
  for (auto name : {"DFR", "DFL", "DBR", "DBL"}) cube = add_corner(cube, name);
  for (auto name : {"DF", "DL", "DR", "DB", "FR", "FL", "BR", "BL"}) cube = add_edge(cube, name);
  return cube;
}

Cube add_cross(Cube cube) {
  for (auto name : {"DF", "DL", "DR", "DB"}) cube = add_edge(cube, name);
  return cube;
}

}  // namespace tessel
