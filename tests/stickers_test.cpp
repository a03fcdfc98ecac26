// Cubes written as 54 sticker letters (set_stickers). A facelet model of
// its own, built from the geometry of the cube alone, turns faces and
// writes the letters; the cube read from them must be the one the move
// tables make, shown alike by print. Every class of invalid text gets its
// message.
#include "cube/stickers.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "core/failure.h"
#include "cube/masks.h"
#include "cube/moves.h"
#include "cube/pieces.h"
#include "test_util.h"

namespace tessel {
namespace {

using Vec = std::array<int, 3>;

Vec operator+(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec scaled(const Vec& a, int k) { return {a[0] * k, a[1] * k, a[2] * k}; }
int dot3(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

const Vec kUp{0, 1, 0}, kDown{0, -1, 0}, kRight{1, 0, 0}, kLeft{-1, 0, 0}, kFront{0, 0, 1},
    kBack{0, 0, -1};

// The 54 facelets in text order: U R F D L B, each face row by row as seen
// from outside, with the given top and right directions.
struct Facelet {
  Vec at;      // the piece's place, coordinates -1..1
  Vec normal;  // the face it lies on
};

struct FaceFrame {
  char letter;
  Vec normal, top, right;
};
const std::array<FaceFrame, 6> kFrames = {{
    {'U', kUp, kBack, kRight},
    {'R', kRight, kUp, kBack},
    {'F', kFront, kUp, kRight},
    {'D', kDown, kFront, kRight},
    {'L', kLeft, kUp, kFront},
    {'B', kBack, kUp, kLeft},
}};

std::vector<Facelet> facelets() {
  std::vector<Facelet> f;
  for (const FaceFrame& frame : kFrames)
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col)
        f.push_back({frame.normal + scaled(frame.top, 1 - row) + scaled(frame.right, col - 1),
                     frame.normal});
  return f;
}

// A cube as 54 letters, turned face by face in space.
class FaceletCube {
 public:
  FaceletCube() : places_(facelets()) {
    for (std::size_t i = 0; i < places_.size(); ++i) letters_ += kFrames[i / 9].letter;
  }
  // Stickers of the pieces the predicate picks become X (centres stay).
  template <typename Pick>
  void empty_pieces(Pick&& pick) {
    for (std::size_t i = 0; i < places_.size(); ++i)
      if (i % 9 != 4 && pick(places_[i].at)) letters_[i] = 'X';
  }
  // A quarter turn of the layer facing `axis`, clockwise as seen from
  // outside: every facelet of the layer turns by -90 degrees about it.
  void quarter(const Vec& axis) {
    std::string next = letters_;
    for (std::size_t i = 0; i < places_.size(); ++i) {
      if (dot3(places_[i].at, axis) != 1) continue;
      const auto turn = [&axis](const Vec& v) {
        return scaled(cross(axis, v), -1) + scaled(axis, dot3(axis, v));
      };
      const Facelet to{turn(places_[i].at), turn(places_[i].normal)};
      next[index_of(to)] = letters_[i];
    }
    letters_ = next;
  }
  // A face turn by name: R U F L D B with nothing, 2 or '.
  void move(const std::string& name) {
    const std::string faces = "RUFLDB";
    const std::array<Vec, 6> axes = {kRight, kUp, kFront, kLeft, kDown, kBack};
    const Vec& axis = axes[faces.find(name[0])];
    const int turns = name.size() == 1 ? 1 : name[1] == '2' ? 2 : 3;
    for (int k = 0; k < turns; ++k) quarter(axis);
  }
  const std::string& letters() const { return letters_; }

 private:
  std::size_t index_of(const Facelet& f) const {
    for (std::size_t i = 0; i < places_.size(); ++i)
      if (places_[i].at == f.at && places_[i].normal == f.normal) return i;
    ADD_FAILURE() << "no such facelet";
    return 0;
  }
  std::vector<Facelet> places_;
  std::string letters_;
};

std::string names(const std::vector<int>& moves) {
  std::string s;
  for (int m : moves) s.append(all_rotations_s[static_cast<std::size_t>(m)]).append(" ");
  return s;
}

std::string letters_after(const std::string& moves) {
  FaceletCube c;
  for (int m : test::parse_moves(moves)) c.move(std::string(all_rotations_s[m]));
  return c.letters();
}

const std::string kSolved = "UUUUUUUUURRRRRRRRRFFFFFFFFFDDDDDDDDDLLLLLLLLLBBBBBBBBB";

// The model against the letters any cube program shows after one turn.
TEST(FaceletModel, KnownTurns) {
  EXPECT_EQ(letters_after(""), kSolved);
  EXPECT_EQ(letters_after("R"), "UUFUUFUUFRRRRRRRRRFFDFFDFFDDDBDDBDDBLLLLLLLLLUBBUBBUBB");
  EXPECT_EQ(letters_after("U"), "UUUUUUUUUBBBRRRRRRRRRFFFFFFDDDDDDDDDFFFLLLLLLLLLBBBBBB");
  EXPECT_EQ(letters_after("F"), "UUUUUULLLURRURRURRFFFFFFFFFRRRDDDDDDLLDLLDLLDBBBBBBBBB");
  EXPECT_EQ(letters_after("R U R' U' R U R' U' R U R' U' R U R' U' R U R' U' R U R' U'"), kSolved);
  EXPECT_EQ(letters_after("L D B B' D' L'"), kSolved);
}

TEST(Stickers, SolvedText) { EXPECT_EQ(cube_from_stickers(kSolved), full_cube()); }

TEST(Stickers, TextOfOneTurnIsThatTurn) {
  for (int m = 0; m < kFaceMoveCount; ++m) {
    const std::string name(all_rotations_s[m]);
    EXPECT_EQ(cube_from_stickers(letters_after(name)), apply_move(m, full_cube())) << name;
  }
}

TEST(Stickers, TextOfRandomTurnsIsThatCube) {
  std::mt19937 rng(5417);
  for (int k = 0; k < 200; ++k) {
    const std::vector<int> moves = test::random_moves(rng, 1 + k % 25);
    const std::string text = letters_after(names(moves));
    EXPECT_EQ(cube_from_stickers(text), test::apply_sequence(full_cube(), moves)) << text;
  }
}

// What the program shows of a cube: the letter of each sticker's colour,
// X for an empty one.
std::string text_of(const Cube& cube) {
  std::string text;
  for (std::size_t i = 0; i < sticker_text_bytes.size(); ++i) {
    const int b = sticker_text_bytes[i];
    text += b < 0 ? sticker_text_faces[i / 9] : cube[b] == kEmpty ? 'X' : face_letters[cube[b]];
  }
  return text;
}

// Every cube any of the 54 moves make (slices and rotations relabel the
// colours) is read back as it is: no real cube is refused.
TEST(Stickers, EveryMadeCubeIsAccepted) {
  std::mt19937 rng(99);
  for (int k = 0; k < 300; ++k) {
    const Cube cube = test::apply_sequence(full_cube(), test::random_moves(rng, k % 30, true));
    EXPECT_EQ(cube_from_stickers(text_of(cube)), cube) << text_of(cube);
  }
  const Cube f2l = add_f2l(empty_cube());
  for (int k = 0; k < 100; ++k) {
    const Cube cube = test::apply_sequence(f2l, test::random_moves(rng, k % 20, true));
    EXPECT_EQ(cube_from_stickers(text_of(cube)), cube) << text_of(cube);
  }
}

// Through the interpreter: the letters of a cube made by moves give the
// same pictures as the moves, on the full cube and on a partial target.
TEST(SetStickers, PrintShowsTheCubeOfTheMoves) {
  std::mt19937 rng(2024);
  for (int k = 0; k < 40; ++k) {
    const std::string moves = names(test::random_moves(rng, 5 + k));
    const auto made = test::run(moves + "print", {"--silent"});
    const auto read = test::run("set_stickers " + letters_after(moves) + " print", {"--silent"});
    ASSERT_EQ(made.status, 0);
    EXPECT_EQ(read.status, 0) << read.out;
    EXPECT_EQ(read.out, "\n");
    EXPECT_EQ(read.err, made.err) << moves;
  }
  // The first two layers only: the U-layer pieces empty.
  for (const std::string moves : {"R U R'", "F' U' F U2 R U' R'", "L' U2 L B U B'"}) {
    FaceletCube c;
    c.empty_pieces([](const Vec& at) { return at[1] == 1; });
    for (int m : test::parse_moves(moves)) c.move(std::string(all_rotations_s[m]));
    const auto made = test::run("init_empty_cube add_f2l " + moves + " print", {"--silent"});
    const auto read =
        test::run("init_empty_cube add_f2l set_stickers " + c.letters() + " print", {"--silent"});
    EXPECT_EQ(read.status, 0) << read.out;
    EXPECT_EQ(read.err, made.err) << moves;
  }
}

// The current cube changes, the target stays, the history starts afresh.
TEST(SetStickers, SetsTheCurrentCubeAndEmptiesTheHistory) {
  std::istringstream in("init_empty_cube add_cross R U set_stickers " + letters_after("F R") +
                        " D");
  std::ostringstream out, err;
  Interpreter interpreter(in, out, err);
  ASSERT_EQ(interpreter.run(std::vector<std::string>{"--silent"}), 0) << out.str();
  EXPECT_EQ(interpreter.current_state(),
            test::apply_sequence(full_cube(), test::parse_moves("F R D")));
  EXPECT_EQ(interpreter.starting_position(), add_cross(empty_cube()));
  EXPECT_EQ(interpreter.move_history(), test::parse_moves("D"));
}

// Solved letters changed at the given letters (numbered from 1).
std::string changed(std::initializer_list<std::pair<int, char>> changes,
                    std::string text = kSolved) {
  for (const auto& [at, letter] : changes) text[static_cast<std::size_t>(at - 1)] = letter;
  return text;
}

struct Invalid {
  std::string text;
  std::string reason;
};

// Letters: U 1-9 (U9 at UFR, U8 at UF), R 10-18 (R1 at UFR, R2 at UR), F
// 19-27 (F2 at UF, F3 at UFR), D 28-36, L 37-45, B 46-54 (B2 at UB).
TEST(SetStickers, EveryInvalidTextHasItsMessage) {
  const std::vector<Invalid> cases = {
      {"R", "1 letter instead of 54"},
      {kSolved.substr(1), "53 letters instead of 54"},
      {kSolved + "U", "55 letters instead of 54"},
      {changed({{12, 'Q'}}), "letter 12 is not U, R, F, D, L, B, X or ."},
      {changed({{3, 'u'}}), "letter 3 is not U, R, F, D, L, B, X or ."},
      {changed({{54, 'x'}}), "letter 54 is not U, R, F, D, L, B, X or ."},
      {changed({{5, 'F'}}), "letter 5, the centre of U, is not U"},
      {changed({{23, 'X'}}), "letter 23, the centre of F, is not F"},
      {changed({{50, '.'}}), "letter 50, the centre of B, is not B"},
      {changed({{8, 'X'}}), "the edge at UF is partly empty"},
      {changed({{9, '.'}, {10, 'X'}}), "the corner at UFR is partly empty"},
      {changed({{8, 'D'}, {20, 'U'}}), "the edge at UF shows D U, which no edge has"},
      {changed({{8, 'F'}}), "the edge at UF shows F F, which no edge has"},
      // The UFR corner's colours in mirror order.
      {changed({{21, 'R'}, {10, 'F'}}), "the corner at UFR shows U R F, which no corner has"},
      {changed({{2, 'U'}, {47, 'F'}}), "the UF edge is at UF and at UB"},
      {changed({{9, 'F'}, {10, 'U'}, {21, 'R'}}), "a corner is twisted: no moves make this cube"},
      {changed({{8, 'F'}, {20, 'U'}}), "an edge is flipped: no moves make this cube"},
      // UF and UR swapped.
      {changed({{8, 'R'}, {20, 'U'}, {6, 'F'}, {11, 'U'}}),
       "two pieces are swapped: no moves make this cube"},
  };
  for (const Invalid& c : cases) {
    SCOPED_TRACE(c.text);
    const auto r = test::run("set_stickers " + c.text + " R", {"--silent"});
    EXPECT_THROW(cube_from_stickers(c.text), Failure);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "ERROR: invalid stickers: " + c.reason + "\n");
  }
}

// Where pieces are empty, what they would have to be is unknown: their
// twists, flips and places no longer show whether moves can make the cube.
TEST(SetStickers, EmptyPiecesLeaveTheRestFree) {
  const auto empty_ufr = [](std::string text) {
    return changed({{9, 'X'}, {10, 'X'}, {21, 'X'}}, text);
  };
  const auto empty_uf = [](std::string text) { return changed({{8, 'X'}, {20, 'X'}}, text); };
  const auto empty_ur = [](std::string text) { return changed({{6, 'X'}, {11, 'X'}}, text); };
  const std::string twisted = changed({{7, 'L'}, {19, 'U'}, {39, 'F'}});            // UFL twisted
  const std::string flipped = changed({{2, 'B'}, {47, 'U'}});                       // UB flipped
  const std::string swapped = changed({{4, 'B'}, {38, 'U'}, {2, 'L'}, {47, 'U'}});  // UL, UB
  for (const std::string& bad : {twisted, flipped, swapped})
    EXPECT_EQ(test::run("set_stickers " + bad, {"--silent"}).status, 1) << bad;
  // One empty corner frees the twist, one empty edge the flip; the places
  // need two empty pieces of a kind.
  EXPECT_EQ(test::run("set_stickers " + empty_ufr(twisted), {"--silent"}).out, "");
  EXPECT_EQ(test::run("set_stickers " + empty_uf(flipped), {"--silent"}).out, "");
  EXPECT_EQ(test::run("set_stickers " + empty_uf(swapped), {"--silent"}).out,
            "ERROR: invalid stickers: two pieces are swapped: no moves make this cube\n");
  EXPECT_EQ(test::run("set_stickers " + empty_ur(empty_uf(swapped)), {"--silent"}).out, "");
}

}  // namespace
}  // namespace tessel
