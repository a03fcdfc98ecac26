// Piece names and partial targets, and the mask commands that build them
// in the starting position.
#include "cube/masks.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "core/failure.h"
#include "cube/moves.h"
#include "test_util.h"

namespace tessel {
namespace {

// ---------------------------------------------------------------------------
// Names.

struct EdgeRow {
  const char* first;
  const char* second;
  std::array<int, 2> stickers;
};
constexpr EdgeRow kEdges[] = {
    {"DF", "FD", {8, 6}},  {"DB", "BD", {10, 18}}, {"DR", "RD", {9, 14}},  {"DL", "LD", {11, 22}},
    {"UF", "FU", {2, 4}},  {"UB", "BU", {0, 16}},  {"UR", "RU", {1, 12}},  {"UL", "LU", {3, 20}},
    {"FR", "RF", {5, 15}}, {"FL", "LF", {7, 21}},  {"BR", "RB", {19, 13}}, {"BL", "LB", {17, 23}},
};

struct CornerRow {
  std::array<const char*, 6> names;
  std::array<int, 3> stickers;
};
constexpr CornerRow kCorners[] = {
    {{"DFR", "DRF", "FDR", "FRD", "RDF", "RFD"}, {9, 7, 14}},
    {{"DFL", "DLF", "FDL", "FLD", "LDF", "LFD"}, {8, 6, 23}},
    {{"DBR", "DRB", "BDR", "BRD", "RDB", "RBD"}, {11, 18, 15}},
    {{"DBL", "DLB", "BDL", "BLD", "LDB", "LBD"}, {10, 19, 22}},
    {{"UFR", "URF", "FUR", "FRU", "RUF", "RFU"}, {3, 5, 12}},
    {{"UFL", "ULF", "FUL", "FLU", "LUF", "LFU"}, {2, 4, 21}},
    {{"UBR", "URB", "BUR", "BRU", "RUB", "RBU"}, {1, 16, 13}},
    {{"UBL", "ULB", "BUL", "BLU", "LUB", "LBU"}, {0, 17, 20}},
};

TEST(PieceNames, EdgesInBothLetterOrders) {
  for (const auto& e : kEdges) {
    EXPECT_EQ(get_edge_stickers_by_name(e.first), e.stickers) << e.first;
    EXPECT_EQ(get_edge_stickers_by_name(e.second), e.stickers) << e.second;
    // The named stickers are the edge's: they sit on the faces of the name.
    const std::string name = e.first;
    EXPECT_EQ(std::string("UFDRBL")[static_cast<std::size_t>(e.stickers[0] / 4)], name[0]);
    EXPECT_EQ(std::string("UFDRBL")[static_cast<std::size_t>(e.stickers[1] / 4)], name[1]);
  }
}

TEST(PieceNames, CornersInAllSixLetterOrders) {
  for (const auto& c : kCorners)
    for (const char* name : c.names)
      EXPECT_EQ(get_corner_stickers_by_name(name), c.stickers) << name;
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
  for (const auto& row : kEdges) {
    Cube expected = e;
    for (int s : row.stickers) expected[s] = static_cast<std::uint8_t>(s / 4);
    EXPECT_EQ(add_edge(e, row.first), expected) << row.first;
    EXPECT_EQ(add_edge(e, row.second), expected) << row.second;
  }
  for (const char* name : {"fd", "UFR", "XY", ""}) {
    EXPECT_EQ(add_edge(e, name), e) << name;
    const Cube moved = test::apply_sequence(full_cube(), test::parse_moves("R U"));
    EXPECT_EQ(add_edge(moved, name), moved) << name;
  }
}

TEST(AddPiece, CornerTakesItsHomeColoursInEveryLetterOrder) {
  const Cube e = empty_cube();
  for (const auto& row : kCorners) {
    Cube expected = e;
    for (int s : row.stickers) expected[24 + s] = static_cast<std::uint8_t>(s / 4);
    for (const char* name : row.names) EXPECT_EQ(add_corner(e, name), expected) << name;
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

// Corner triples (reference sticker first) and edge pairs, in marker order.
constexpr std::array<std::array<int, 3>, 8> kCornerTriples = {{
    {3, 12, 5},
    {1, 16, 13},
    {0, 20, 17},
    {2, 4, 21},
    {10, 19, 22},
    {11, 15, 18},
    {9, 7, 14},
    {8, 23, 6},
}};
constexpr std::array<std::array<int, 2>, 12> kEdgePairs = {{
    {1, 12},
    {0, 16},
    {3, 20},
    {2, 4},
    {5, 15},
    {19, 13},
    {17, 23},
    {7, 21},
    {8, 6},
    {9, 14},
    {11, 22},
    {10, 18},
}};

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
  for (const auto& t : kCornerTriples) {
    EXPECT_EQ(co[24 + t[0]], kEmpty);
    EXPECT_EQ(co[24 + t[1]], kMarker);
    EXPECT_EQ(co[24 + t[2]], kMarker);
  }
  for (int i = 0; i < 24; ++i) EXPECT_EQ(co[i], kEmpty);
  for (const auto& p : kEdgePairs) {
    EXPECT_EQ(eo[p[0]], 0);
    EXPECT_EQ(eo[p[1]], kMarker);
  }
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
  Cube expected = f2l;
  for (int k = 0; k < 4; ++k)
    for (int s : kCornerTriples[static_cast<std::size_t>(k)])
      expected[24 + s] = static_cast<std::uint8_t>(k);
  EXPECT_EQ(corners, expected);

  const Cube edges = add_missing_edges_permutation(f2l);
  expected = f2l;
  for (int k = 0; k < 4; ++k)  // UR 0, UB 1, UL 2, UF 3
    for (int s : kEdgePairs[static_cast<std::size_t>(k)])
      expected[s] = static_cast<std::uint8_t>(k);
  EXPECT_EQ(edges, expected);
}

TEST(WholeCube, EightEdgesNumberedAfterTheCross) {
  const Cube cross = add_cross(empty_cube());
  const Cube edges = add_missing_edges_permutation(cross);
  Cube expected = cross;
  // UR, UB, UL, UF, FR, BR, BL, FL numbered 0..7.
  for (int k = 0; k < 8; ++k)
    for (int s : kEdgePairs[static_cast<std::size_t>(k)])
      expected[s] = static_cast<std::uint8_t>(k);
  EXPECT_EQ(edges, expected);
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
  // U and D layer edges: 0 on the U/D sticker, 7 on the other.
  for (const auto& p :
       {std::array<int, 2>{1, 12}, {0, 16}, {3, 20}, {2, 4}, {8, 6}, {9, 14}, {11, 22}, {10, 18}}) {
    expected[p[0]] = 0;
    expected[p[1]] = kMarker;
  }
  // Middle-layer edges: 7 on the F/B sticker, the R/L sticker empty.
  for (int s : {5, 7, 19, 17}) expected[s] = kMarker;
  // Corners: U/D sticker empty, the two others 7.
  for (int c = 0; c < 24; ++c) expected[24 + c] = (c / 4 == 0 || c / 4 == 2) ? kEmpty : kMarker;
  EXPECT_EQ(d, expected);
  EXPECT_EQ(add_domino_elements(d), d);
}

TEST(Layers, FirstTwoLayersAndCross) {
  const Cube solved = full_cube();
  Cube f2l = empty_cube();
  for (std::size_t k = 0; k < 4; ++k)  // DFR DFL DBR DBL
    for (int s : kCorners[k].stickers) f2l[24 + s] = solved[24 + s];
  Cube cross = empty_cube();
  for (std::size_t k = 0; k < 4; ++k)  // DF DB DR DL
    for (int s : kEdges[k].stickers) cross[s] = f2l[s] = solved[s];
  for (std::size_t k = 8; k < 12; ++k)  // FR FL BR BL
    for (int s : kEdges[k].stickers) f2l[s] = solved[s];
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
