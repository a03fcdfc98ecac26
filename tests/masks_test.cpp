// Piece names and partial targets, and the mask commands that build them
// in the starting position.
#include "cube/masks.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "core/failure.h"
#include "cube/moves.h"
#include "cube/pieces.h"
#include "test_util.h"

namespace tessel {
namespace {

// ---------------------------------------------------------------------------
// Names.

// Every word of n face letters.
std::vector<std::string> words(std::size_t n) {
  std::vector<std::string> all = {""};
  for (std::size_t k = 0; k < n; ++k) {
    std::vector<std::string> longer;
    for (const auto& w : all)
      for (char c : std::string("UFDRBL")) longer.push_back(w + c);
    all = longer;
  }
  return all;
}

int axis(char face) { return face == 'U' || face == 'D' ? 0 : face == 'F' || face == 'B' ? 1 : 2; }

// A piece name: distinct letters, no two of opposite faces.
bool names_a_piece(const std::string& w) {
  for (std::size_t i = 0; i < w.size(); ++i)
    for (std::size_t j = i + 1; j < w.size(); ++j)
      if (axis(w[i]) == axis(w[j])) return false;
  return true;
}

// The letters in axis order: U or D, then F or B, then R or L.
std::string in_axis_order(std::string w) {
  std::sort(w.begin(), w.end(), [](char a, char b) { return axis(a) < axis(b); });
  return w;
}

char face_letter(int byte) { return std::string("UFDRBL")[static_cast<std::size_t>(byte % 24 / 4)]; }

// Checks every word of the piece's length: the pieces' names in every letter
// order, and nothing else, name stickers on the faces of their letters, in
// axis order (so the first is the reference sticker), the same stickers for
// every letter order, each sticker named by exactly one piece.
template <std::size_t N, typename LookUp>
void check_every_word(LookUp look_up, int base, std::size_t pieces) {
  std::map<std::string, std::array<int, N>> by_letters;
  std::array<int, 24> named{};
  std::array<int, N> none;
  none.fill(-1);
  for (const auto& w : words(N)) {
    const std::array<int, N> st = look_up(w);
    if (!names_a_piece(w)) {
      EXPECT_EQ(st, none) << w;
      continue;
    }
    const std::string ordered = in_axis_order(w);
    for (std::size_t k = 0; k < N; ++k) {
      ASSERT_GE(st[k], 0) << w;
      ASSERT_LT(st[k], 24) << w;
      EXPECT_EQ(face_letter(base + st[k]), ordered[k]) << w << " sticker " << k;
    }
    std::string letters = w;
    std::sort(letters.begin(), letters.end());
    const auto [it, first] = by_letters.emplace(letters, st);
    if (first)
      for (int s : st) ++named[static_cast<std::size_t>(s)];
    else
      EXPECT_EQ(st, it->second) << w;
  }
  EXPECT_EQ(by_letters.size(), pieces);
  for (std::size_t s = 0; s < named.size(); ++s) EXPECT_EQ(named[s], 1) << "sticker " << s;
}

TEST(PieceNames, EveryWordOfTwoLetters) {
  check_every_word<2>([](const std::string& w) { return get_edge_stickers_by_name(w); }, 0, 12);
}

TEST(PieceNames, EveryWordOfThreeLetters) {
  check_every_word<3>([](const std::string& w) { return get_corner_stickers_by_name(w); },
                      kCornerBase, 8);
}

// The letter orders of a name: all of them, the name's own first.
std::vector<std::string> letter_orders(const std::string& name) {
  std::vector<std::string> orders = {name};
  std::string w = name;
  std::sort(w.begin(), w.end());
  do
    if (w != name) orders.push_back(w);
  while (std::next_permutation(w.begin(), w.end()));
  return orders;
}

TEST(PieceNames, EdgesInBothLetterOrders) {
  for (const auto& e : edge_pieces) {
    const auto orders = letter_orders(std::string(e.name));
    ASSERT_EQ(orders.size(), 2u);
    for (const auto& name : orders) EXPECT_EQ(get_edge_stickers_by_name(name), e.bytes) << name;
  }
  EXPECT_EQ(get_edge_stickers_by_name("FD"), (std::array<int, 2>{8, 6}));
  EXPECT_EQ(get_edge_stickers_by_name("RB"), (std::array<int, 2>{19, 13}));
}

TEST(PieceNames, CornersInAllSixLetterOrders) {
  for (const auto& c : corner_pieces) {
    const std::array<int, 3> stickers = {c.bytes[0] - 24, c.bytes[1] - 24, c.bytes[2] - 24};
    const auto orders = letter_orders(std::string(c.name));
    ASSERT_EQ(orders.size(), 6u);
    for (const auto& name : orders) EXPECT_EQ(get_corner_stickers_by_name(name), stickers) << name;
  }
  EXPECT_EQ(get_corner_stickers_by_name("RFD"), (std::array<int, 3>{9, 7, 14}));
  EXPECT_EQ(get_corner_stickers_by_name("LBU"), (std::array<int, 3>{0, 17, 20}));
}

TEST(PieceNames, UnknownNamesMatchNothing) {
  for (const char* name : {"fd", "Fd", "UFR", "U", "F", "", "FF", "UD", "DFX", "XY", "DF "})
    EXPECT_EQ(get_edge_stickers_by_name(name), (std::array<int, 2>{-1, -1})) << name;
  for (const char* name : {"dfr", "DF", "UFRB", "UUU", "UDF", "R", "", "DFR "})
    EXPECT_EQ(get_corner_stickers_by_name(name), (std::array<int, 3>{-1, -1, -1})) << name;
}

// ---------------------------------------------------------------------------
// Single pieces.

TEST(AddPiece, EdgeTakesItsHomeColoursWhicheverName) {
  const Cube e = empty_cube();
  for (const auto& piece : edge_pieces) {
    Cube expected = e;
    for (int s : piece) expected[s] = static_cast<std::uint8_t>(s / 4);
    for (const auto& name : letter_orders(std::string(piece.name)))
      EXPECT_EQ(add_edge(e, name), expected) << name;
  }
  for (const char* name : {"fd", "UFR", "XY", ""}) {
    EXPECT_EQ(add_edge(e, name), e) << name;
    const Cube moved = test::apply_sequence(full_cube(), test::parse_moves("R U"));
    EXPECT_EQ(add_edge(moved, name), moved) << name;
  }
}

TEST(AddPiece, CornerTakesItsHomeColoursInEveryLetterOrder) {
  const Cube e = empty_cube();
  for (const auto& piece : corner_pieces) {
    Cube expected = e;
    for (int s : piece) expected[s] = static_cast<std::uint8_t>((s - 24) / 4);
    for (const auto& name : letter_orders(std::string(piece.name)))
      EXPECT_EQ(add_corner(e, name), expected) << name;
  }
  EXPECT_EQ(add_corner(e, "UF"), e);
  EXPECT_EQ(add_corner(e, "ufr"), e);
}

TEST(AddPiece, DominoEdgeMarksOnlyTheFirstSticker) {
  const Cube e = empty_cube();
  Cube expected = e;
  expected[5] = kMarker;  // F sticker of FR; the R sticker 15 keeps its colour
  EXPECT_EQ(add_domino_edge(e, "RF"), expected);
  EXPECT_EQ(add_domino_edge(e, "FR"), expected);
  Cube full = full_cube();
  full[19] = kMarker;
  EXPECT_EQ(add_domino_edge(full_cube(), "RB"), full);
  EXPECT_EQ(add_domino_edge(e, "XY"), e);
}

// ---------------------------------------------------------------------------
// Whole-cube operations.

// The cube with the named pieces numbered 0, 1, 2, ... on all their stickers.
template <std::size_t N, std::size_t P>
Cube numbered(Cube c, const std::array<Piece<N>, P>& pieces, std::initializer_list<std::string_view> names) {
  std::uint8_t k = 0;
  for (auto name : names) {
    for (int b : piece_named(pieces, name)) c[b] = k;
    ++k;
  }
  return c;
}

TEST(WholeCube, SolvedCubeIsLeftAlone) {
  const Cube s = full_cube();
  EXPECT_EQ(add_missing_corners(s), s);
  EXPECT_EQ(add_missing_corner_orientation(s), s);
  EXPECT_EQ(add_missing_corner_permutation(s), s);
  EXPECT_EQ(add_missing_edges(s), s);
  EXPECT_EQ(add_missing_edges_orientation(s), s);
  EXPECT_EQ(add_missing_edges_permutation(s), s);
}

TEST(WholeCube, EmptyCubeFilledWithEdgesAndCornersIsSolved) {
  EXPECT_EQ(add_missing_corners(add_missing_edges(empty_cube())), full_cube());
  EXPECT_EQ(add_missing_edges(add_missing_corners(empty_cube())), full_cube());
}

TEST(WholeCube, OrientationMarkers) {
  const Cube co = add_missing_corner_orientation(empty_cube());
  const Cube eo = add_missing_edges_orientation(empty_cube());
  // The reference sticker: U or D, else F or B.
  for (const auto& c : corner_pieces)
    for (int b : c) EXPECT_EQ(co[b], (b - 24) / 4 == 0 || (b - 24) / 4 == 2 ? kEmpty : kMarker) << b;
  for (int i = 0; i < 24; ++i) EXPECT_EQ(co[i], kEmpty);
  for (const auto& e : edge_pieces) {
    EXPECT_EQ(eo[e.reference()], 0) << e.name;
    EXPECT_EQ(eo[e.bytes[1]], kMarker) << e.name;
  }
  EXPECT_EQ(eo[5], 0);   // FR: the F sticker
  EXPECT_EQ(eo[15], kMarker);
  EXPECT_EQ(eo[17], 0);  // BL: the B sticker
  for (int i = 24; i < 48; ++i) EXPECT_EQ(eo[i], kEmpty);
}

TEST(WholeCube, PieceCountsAsPresentByItsReferenceStickerAlone) {
  // UR: reference sticker 1 coloured, the other (12) still empty.
  Cube c = empty_cube();
  c[1] = 3;
  const Cube edges = add_missing_edges(c);
  EXPECT_EQ(edges[1], 3);
  EXPECT_EQ(edges[12], kEmpty);
  EXPECT_EQ(add_missing_edges_orientation(c)[12], kEmpty);
  // UB: reference empty, the other coloured: the piece is missing.
  Cube d = empty_cube();
  d[16] = 2;
  EXPECT_EQ(add_missing_edges(d)[16], 4);
  EXPECT_EQ(add_missing_edges(d)[0], 0);
  // A reference sticker holding the marker colour counts as present.
  Cube m = empty_cube();
  m[24 + 3] = kMarker;  // UFR
  const Cube corners = add_missing_corners(m);
  EXPECT_EQ(corners[24 + 3], kMarker);
  EXPECT_EQ(corners[24 + 12], kEmpty);
  EXPECT_EQ(corners[24 + 1], 0);  // UBR was missing
}

TEST(WholeCube, PermutationMarkersAfterTheFirstTwoLayers) {
  const Cube f2l = add_f2l(empty_cube());
  const Cube corners = add_missing_corner_permutation(f2l);
  // UFR 0, UBR 1, UBL 2, UFL 3 on all their stickers; nothing else changes.
  EXPECT_EQ(corners, numbered(f2l, corner_pieces, {"UFR", "UBR", "UBL", "UFL"}));
  const Cube edges = add_missing_edges_permutation(f2l);
  EXPECT_EQ(edges, numbered(f2l, edge_pieces, {"UR", "UB", "UL", "UF"}));
}

TEST(WholeCube, EightEdgesNumberedAfterTheCross) {
  const Cube cross = add_cross(empty_cube());
  const Cube edges = add_missing_edges_permutation(cross);
  EXPECT_EQ(edges, numbered(cross, edge_pieces, {"UR", "UB", "UL", "UF", "FR", "BR", "BL", "FL"}));
}

TEST(WholeCube, TheOtherMarkerNumbers) {
  // The bottom and middle edges after the top ones; the bottom corners after
  // the top ones, DBL first.
  Cube top = empty_cube();
  for (auto name : {"UR", "UB", "UL", "UF"}) top = add_edge(top, name);
  EXPECT_EQ(add_missing_edges_permutation(top),
            numbered(top, edge_pieces, {"FR", "BR", "BL", "FL", "DF", "DR", "DL", "DB"}));
  const Cube two = add_corner(add_corner(empty_cube(), "DFR"), "UBL");
  EXPECT_EQ(add_missing_corner_permutation(two),
            numbered(two, corner_pieces, {"UFR", "UBR", "UFL", "DBL", "DBR", "DFL"}));
  const Cube four = add_corner(add_corner(add_corner(add_corner(empty_cube(), "UFR"), "UBR"), "UBL"), "UFL");
  EXPECT_EQ(add_missing_corner_permutation(four),
            numbered(four, corner_pieces, {"DBL", "DBR", "DFR", "DFL"}));
}

void expect_limit(const std::function<void()>& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message, message);
    EXPECT_EQ(failure.status, 1);
  }
}

const std::string kCornerLimit =
    "ERROR: can't add more than 6 corners permutation due to implementation detail";
const std::string kEdgeLimit =
    "ERROR: can't add more than 8 edges permutation due to implementation detail";

TEST(WholeCube, PermutationLimits) {
  expect_limit([] { add_missing_corner_permutation(empty_cube()); }, kCornerLimit);
  expect_limit([] { add_missing_edges_permutation(empty_cube()); }, kEdgeLimit);
  // Seven missing corners fail too; six do not.
  expect_limit([] { add_missing_corner_permutation(add_corner(empty_cube(), "DFR")); },
               kCornerLimit);
  const Cube six =
      add_missing_corner_permutation(add_corner(add_corner(empty_cube(), "DFR"), "UBL"));
  EXPECT_EQ(six[24 + 3], 0);  // UFR first
  EXPECT_EQ(six[24 + 8], 5);  // DFL last
  // Nine missing edges fail.
  expect_limit(
      [] {
        add_missing_edges_permutation(add_edge(add_edge(add_edge(empty_cube(), "DF"), "DB"), "DL"));
      },
      kEdgeLimit);
}

TEST(WholeCube, DominoTarget) {
  const Cube d = add_domino_elements(empty_cube());
  Cube expected = empty_cube();
  // U and D layer edges: 0 on the U/D sticker, 7 on the other. Middle-layer
  // edges: 7 on the F/B sticker, the R/L sticker empty.
  for (const auto& e : edge_pieces) {
    const bool middle = e.name.find_first_of("UD") == std::string_view::npos;
    for (int s : e) {
      const int face = s / 4;
      if (face == kU || face == kD)
        expected[s] = 0;
      else if (face == kF || face == kB)
        expected[s] = kMarker;
      else
        expected[s] = middle ? kEmpty : kMarker;
    }
  }
  EXPECT_EQ(expected[1], 0);  // UR
  EXPECT_EQ(expected[12], kMarker);
  EXPECT_EQ(expected[5], kMarker);  // FR
  EXPECT_EQ(expected[15], kEmpty);
  // Corners: U/D sticker empty, the two others 7.
  for (int c = 0; c < 24; ++c) expected[24 + c] = (c / 4 == 0 || c / 4 == 2) ? kEmpty : kMarker;
  EXPECT_EQ(d, expected);
  EXPECT_EQ(add_domino_elements(d), d);
}

TEST(Layers, FirstTwoLayersAndCross) {
  const Cube solved = full_cube();
  Cube f2l = empty_cube();
  for (auto name : {"DFR", "DFL", "DBR", "DBL"})
    for (int s : get_corner_stickers_by_name(name)) f2l[24 + s] = solved[24 + s];
  Cube cross = empty_cube();
  for (auto name : {"DF", "DB", "DR", "DL"})
    for (int s : get_edge_stickers_by_name(name)) cross[s] = f2l[s] = solved[s];
  for (auto name : {"FR", "FL", "BR", "BL"})
    for (int s : get_edge_stickers_by_name(name)) f2l[s] = solved[s];
  // The D face whole, nothing on U, 28 stickers in all.
  int coloured = 0;
  for (int s = 0; s < kStickers; ++s) {
    if (s % 24 / 4 == 0) {
      EXPECT_EQ(f2l[s], kEmpty) << s;
    }
    if (s % 24 / 4 == 2) {
      EXPECT_EQ(f2l[s], 2) << s;
    }
    coloured += f2l[s] != kEmpty;
  }
  EXPECT_EQ(coloured, 28);
  EXPECT_EQ(add_f2l(empty_cube()), f2l);
  EXPECT_EQ(add_cross(empty_cube()), cross);
  // Pieces already there are coloured again, nothing else changes.
  EXPECT_EQ(add_f2l(add_cross(empty_cube())), f2l);
  EXPECT_EQ(add_f2l(full_cube()), full_cube());
}

// ---------------------------------------------------------------------------
// The mask commands.

struct Session {
  int status;
  std::string out;
  Cube current, start;
  std::vector<int> history;
};

Session run(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  Interpreter interpreter(in, out, err);
  const std::vector<std::string> args = {"--silent"};
  Session s;
  s.status = interpreter.run(args);
  s.out = out.str();
  s.current = interpreter.current_state();
  s.start = interpreter.starting_position();
  s.history = interpreter.move_history();
  return s;
}

struct CommandCase {
  std::string input;
  Cube start;  // the current cube equals it after every mask command
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.input; }

class MaskCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(MaskCommand, BuildsTheStartingPosition) {
  const Session s = run(GetParam().input);
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.out, "");
  EXPECT_EQ(s.start, GetParam().start);
  EXPECT_EQ(s.current, s.start);
}

const Cube kEmptyCube = empty_cube();
const Cube kDomino = add_domino_elements(empty_cube());

Cube edges_only() {
  Cube c = full_cube();
  for (int i = 24; i < 48; ++i) c[i] = kEmpty;
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, MaskCommand,
    ::testing::Values(CommandCase{"init_empty_cube add_edge FD", add_edge(kEmptyCube, "DF")},
                      CommandCase{"init_empty_cube add_edge DF", add_edge(kEmptyCube, "DF")},
                      CommandCase{"init_empty_cube add_edge XY", kEmptyCube},
                      CommandCase{"R U init_empty_cube add_corner RUF add_corner LDB",
                                  add_corner(add_corner(kEmptyCube, "UFR"), "DBL")},
                      CommandCase{"init_empty_cube add_edges add_corners", full_cube()},
                      CommandCase{"init_empty_cube add_cross add_edges", edges_only()},
                      CommandCase{"init_empty_cube add_corners_orientation",
                                  add_missing_corner_orientation(kEmptyCube)},
                      CommandCase{"init_empty_cube add_edges_orientation",
                                  add_missing_edges_orientation(kEmptyCube)},
                      CommandCase{"init_empty_cube add_f2l add_corners_permutation",
                                  add_missing_corner_permutation(add_f2l(kEmptyCube))},
                      CommandCase{"init_empty_cube add_cross add_edges_permutation",
                                  add_missing_edges_permutation(add_cross(kEmptyCube))},
                      CommandCase{"set_domino_cube", kDomino},
                      CommandCase{"R init_empty_cube add_f2l U set_domino_cube", kDomino},
                      CommandCase{"init_empty_cube add_f2l", add_f2l(kEmptyCube)},
                      // The masks work on the starting position, not on the moved cube.
                      CommandCase{"init_empty_cube add_cross R U add_corner DFR",
                                  add_corner(add_cross(kEmptyCube), "DFR")},
                      CommandCase{"R U init_to_current_state add_edges",
                                  test::apply_sequence(full_cube(), test::parse_moves("R U"))}));

TEST(MaskCommands, UnknownNameStillResetsTheCurrentCube) {
  const Session s = run("R add_edge XY");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.start, full_cube());
  EXPECT_EQ(s.current, full_cube());
  EXPECT_EQ(s.history, test::parse_moves("R"));  // the history is kept
}

TEST(MaskCommands, CrossAfterAMoveAtStart) {
  const Session s = run("U add_cross");
  EXPECT_EQ(s.start, full_cube());
  EXPECT_EQ(s.current, full_cube());
  EXPECT_EQ(s.history, test::parse_moves("U"));
}

struct FailureCase {
  std::string input;
  std::string out;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.input; }

class MaskCommandFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MaskCommandFailure, MessageAndStatus) {
  const Session s = run(GetParam().input);
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, MaskCommandFailure,
    ::testing::Values(
        // The limit messages end without a line end; nothing after them is read.
        FailureCase{"init_empty_cube add_corners_permutation", kCornerLimit},
        FailureCase{"init_empty_cube add_corners_permutation R foo", kCornerLimit},
        FailureCase{"init_empty_cube add_edges_permutation", kEdgeLimit},
        FailureCase{"init_empty_cube add_corner DFR add_corners_permutation", kCornerLimit},
        FailureCase{"init_empty_cube add_f2l add_corners_permutation add_edges_permutation "
                    "init_empty_cube add_cross add_edge UF add_edges_permutation "
                    "init_empty_cube add_edges_permutation",
                    kEdgeLimit},
        FailureCase{"add_edge", "ERROR: missing argument to add_edge\n"},
        FailureCase{"init_empty_cube add_corner", "ERROR: missing argument to add_corner\n"}));

TEST(MaskCommands, LimitMessageThroughTheBinary) {
  // The message has no line end, also when written by the real program.
  const std::string command = std::string("echo init_empty_cube add_edges_permutation | \"") +
                              TESSEL_BINARY + "\" --silent 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(out, kEdgeLimit);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
}  // namespace tessel
