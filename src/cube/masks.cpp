#include "cube/masks.h"

#include <algorithm>

#include "core/failure.h"
#include "cube/pieces.h"

namespace tessel {

namespace {

// Every letter order of every piece name: the pieces in table order, and
// within a piece the orders of its letters in lexicographic order of their
// positions (DFR, DRF, FDR, FRD, RDF, RFD).
template <std::size_t N, std::size_t P>
constexpr auto all_letter_orders(const std::array<Piece<N>, P>& pieces) {
  constexpr std::size_t orders = N == 2 ? 2 : 6;
  std::array<std::array<char, N>, P * orders> names{};
  std::size_t k = 0;
  for (const auto& p : pieces) {
    std::array<std::size_t, N> order{};
    for (std::size_t i = 0; i < N; ++i) order[i] = i;
    do {
      for (std::size_t i = 0; i < N; ++i) names[k][i] = p.name[order[i]];
      ++k;
    } while (std::next_permutation(order.begin(), order.end()));
  }
  return names;
}

// The sticker indices of every piece, N per piece, in the letter order of
// its name: edge sticker e is byte e, corner sticker c is byte kCornerBase + c.
template <std::size_t N, std::size_t P>
constexpr std::array<int, N * P> name_indexes(const std::array<Piece<N>, P>& pieces, int base) {
  std::array<int, N * P> indexes{};
  for (std::size_t k = 0; k < P; ++k)
    for (std::size_t i = 0; i < N; ++i) indexes[k * N + i] = pieces[k].bytes[i] - base;
  return indexes;
}

constexpr auto edges_by_names = all_letter_orders(edge_pieces);
constexpr auto edges_by_name_indexes = name_indexes(edge_pieces, 0);
constexpr auto corners_by_names = all_letter_orders(corner_pieces);
constexpr auto corners_by_name_indexes = name_indexes(corner_pieces, kCornerBase);

// The sticker indices of the piece that has the name in one of its letter
// orders; -1 entries when no piece has it.
template <std::size_t N, std::size_t Names, std::size_t Indexes>
std::array<int, N> stickers_by_name(const std::array<std::array<char, N>, Names>& names,
                                    const std::array<int, Indexes>& indexes, std::string_view name) {
  constexpr std::size_t names_per_piece = Names / (Indexes / N);
  std::array<int, N> stickers{};
  stickers.fill(-1);
  for (std::size_t k = 0; k < Names; ++k)
    if (std::string_view(names[k].data(), N) == name) {
      const std::size_t piece = k / names_per_piece;
      for (std::size_t i = 0; i < N; ++i) stickers[i] = indexes[piece * N + i];
      break;
    }
  return stickers;
}

// The whole-cube operations visit the pieces in these orders; the
// permutation markers number the missing pieces in them.
constexpr std::array<std::string_view, 12> edge_marker_order = {
    "UR", "UB", "UL", "UF", "FR", "BR", "BL", "FL", "DF", "DR", "DL", "DB"};
constexpr std::array<std::string_view, 8> corner_marker_order = {
    "UFR", "UBR", "UBL", "UFL", "DBL", "DBR", "DFR", "DFL"};

// The 12 edges as (reference sticker, other sticker) cube bytes, in marker
// order.
constexpr std::array<std::array<int, 2>, 12> edges = [] {
  std::array<std::array<int, 2>, 12> e{};
  for (std::size_t k = 0; k < e.size(); ++k) e[k] = piece_named(edge_pieces, edge_marker_order[k]).bytes;
  return e;
}();

// The 8 corners as (reference sticker, second, third) cube bytes, clockwise
// from the reference sticker, in marker order.
constexpr std::array<std::array<int, 3>, 8> corners = [] {
  std::array<std::array<int, 3>, 8> c{};
  for (std::size_t k = 0; k < c.size(); ++k)
    c[k] = clockwise(piece_named(corner_pieces, corner_marker_order[k]));
  return c;
}();

// Colours of the corner orientation marker, in triple order.
constexpr std::array<std::uint8_t, 3> oll_corners_colors = {kEmpty, kMarker, kMarker};

constexpr std::uint8_t home(int b) { return static_cast<std::uint8_t>(face_of(b)); }

}  // namespace

std::array<int, 2> get_edge_stickers_by_name(std::string_view name) {
  return stickers_by_name(edges_by_names, edges_by_name_indexes, name);
}

std::array<int, 3> get_corner_stickers_by_name(std::string_view name) {
  return stickers_by_name(corners_by_names, corners_by_name_indexes, name);
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
    if (in[c[0]] == kEmpty)
      for (int s : c) cube[s] = home(s);
  return cube;
}

Cube add_missing_corner_orientation(Cube cube) {
  const Cube in = cube;
  for (const auto& c : corners)
    if (in[c[0]] == kEmpty)
      for (std::size_t k = 0; k < 3; ++k) cube[c[k]] = oll_corners_colors[k];
  return cube;
}

Cube add_missing_corner_permutation(Cube cube) {
  const Cube in = cube;
  std::uint8_t next = 0;
  for (const auto& c : corners) {
    if (in[c[0]] != kEmpty) continue;
    if (next == 6)
      fail("ERROR: can't add more than 6 corners permutation due to implementation detail");
    for (int s : c) cube[s] = next;
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
