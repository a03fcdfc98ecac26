// Cube pictures: the exact bytes of the two image tags and the caption.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cube/cube_state.h"
#include "cube/display.h"
#include "cube/moves.h"
#include "test_util.h"

namespace tessel {
namespace {

const std::string kEndpoint(picture_endpoint);

// The whole output of link for a cube whose first picture shows the 27
// letters `first` (U, F, R) and whose second shows `second` (D, L, B).
std::string expected_link(const std::string& first, const std::string& second,
                          const std::string& caption) {
  return "<br><img src=\"" + kEndpoint + "?size=100&stickers=" + first + "\" />\n" +
         "<img src=\"" + kEndpoint + "?size=100&m=xy&fl=" + second + "\" /> " + caption +
         " <br> \n";
}

std::string link_output(const Cube& cube, const std::string& caption) {
  std::ostringstream err;
  link(err, cube, caption);
  return err.str();
}

Cube after(const std::string& moves) { return test::apply_sequence(full_cube(), test::parse_moves(moves)); }

// The 54 letters of both pictures: U F R, then D L B, nine letters each.
std::string letters(const Cube& c) {
  const std::string first = pp1(c), second = pp2(c);
  return first.substr(first.size() - 27) + second.substr(second.size() - 27);
}

// The face each group of nine letters shows.
const std::string kTextFaces = "UFRDLB";

// Where the picture shows byte b: its letter when b alone holds the marker.
int shown_at(int b) {
  Cube c = empty_cube();
  c[b] = kMarker;
  return static_cast<int>(letters(c).find('x'));
}

struct PictureCase {
  const char* name;
  Cube cube;
  const char* first;   // U F R, nine letters each
  const char* second;  // D L B
};

TEST(Display, ExactPictures) {
  Cube one_marker = empty_cube();
  one_marker[27] = 7;  // UFR, the last letter of the U face text
  Cube all_marked;
  all_marked.s.fill(7);
  // Codes 0..7 on the U face in output order: UBL UB UBR UL (centre) UR UFL UF UFR.
  Cube codes = empty_cube();
  for (int b = 0; b < kStickers; ++b) {
    const int at = shown_at(b);
    if (at < 9) codes[b] = static_cast<std::uint8_t>(at < 4 ? at : at - 1);
  }
  EXPECT_EQ(codes[24], 0);  // UBL
  EXPECT_EQ(codes[27], 7);  // UFR

  const std::vector<PictureCase> cases = {
      {"solved", full_cube(), "wwwwwwwww" "ggggggggg" "rrrrrrrrr", "yyyyyyyyy" "ooooooooo" "bbbbbbbbb"},
      {"after R", after("R"), "wwgwwgwwg" "ggyggyggy" "rrrrrrrrr", "bbbyyyyyy" "ooooooooo" "bbwbbwbbw"},
      {"after U", after("U"), "wwwwwwwww" "rrrgggggg" "bbbrrrrrr", "yyyyyyyyy" "ooooooggg" "bbbbbbooo"},
      {"after x", after("x"), "wwwwwwwww" "ggggggggg" "rrrrrrrrr", "yyyyyyyyy" "ooooooooo" "bbbbbbbbb"},
      {"after y' z2", after("y' z2"), "wwwwwwwww" "ggggggggg" "rrrrrrrrr", "yyyyyyyyy" "ooooooooo" "bbbbbbbbb"},
      {"empty", empty_cube(), "zzzzwzzzz" "zzzzgzzzz" "zzzzrzzzz", "zzzzyzzzz" "zzzzozzzz" "zzzzbzzzz"},
      {"one marker", one_marker, "zzzzwzzzx" "zzzzgzzzz" "zzzzrzzzz", "zzzzyzzzz" "zzzzozzzz" "zzzzbzzzz"},
      {"all marked", all_marked, "xxxxwxxxx" "xxxxgxxxx" "xxxxrxxxx", "xxxxyxxxx" "xxxxoxxxx" "xxxxbxxxx"},
      {"every code", codes, "wgyrwbozx" "zzzzgzzzz" "zzzzrzzzz", "zzzzyzzzz" "zzzzozzzz" "zzzzbzzzz"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pp1(c.cube), kEndpoint + "?size=100&stickers=" + c.first) << c.name;
    EXPECT_EQ(pp2(c.cube), kEndpoint + "?size=100&m=xy&fl=" + c.second) << c.name;
    const std::string whole = expected_link(c.first, c.second, "print");
    EXPECT_EQ(link_output(c.cube, "print"), whole) << c.name;
    EXPECT_EQ(link_text(c.cube, "print"), whole) << c.name;
  }
}

TEST(Display, SolvedPictureLiteral) {
  // Spelled out once in full, as it appears on standard error.
  EXPECT_EQ(link_output(full_cube(), "print"),
            "<br><img src=\"" + kEndpoint +
                "?size=100&stickers=wwwwwwwwwgggggggggrrrrrrrrr\" />\n<img src=\"" + kEndpoint +
                "?size=100&m=xy&fl=yyyyyyyyyooooooooobbbbbbbbb\" /> print <br> \n");
}

TEST(Display, Captions) {
  const std::string first = "wwwwwwwwwgggggggggrrrrrrrrr";
  const std::string second = "yyyyyyyyyooooooooobbbbbbbbb";
  for (const char* caption : {"print", "position", "starting position", "", "a % 100%s"})
    EXPECT_EQ(link_output(full_cube(), caption), expected_link(first, second, caption))
        << '"' << caption << '"';
}

TEST(Display, TwoLinesFirstEndsAtTheTagSecondWithABlank) {
  const std::string text = link_output(after("R U F' M"), "print");
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  const std::size_t first_end = text.find('\n');
  EXPECT_EQ(text.substr(first_end - 4, 5), "\" />\n");
  EXPECT_EQ(text.substr(text.size() - 7), " <br> \n");
  EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(Display, EveryStickerIsShownOnceOnItsOwnFace) {
  std::set<int> places;
  for (int b = 0; b < kStickers; ++b) {
    Cube c = empty_cube();
    c[b] = kMarker;
    const std::string text = letters(c);
    ASSERT_EQ(std::count(text.begin(), text.end(), 'x'), 1) << "byte " << b;
    const int at = shown_at(b);
    // The face of the byte: faces U F D R B L own bytes 4f..4f+3 and 24+4f..24+4f+3.
    EXPECT_EQ(kTextFaces[static_cast<std::size_t>(at / 9)], std::string("UFDRBL")[static_cast<std::size_t>(b % 24 / 4)])
        << "byte " << b;
    // Corners at the corners of the face text, edges between them.
    const int cell = at % 9;
    if (b >= 24) {
      EXPECT_TRUE(cell == 0 || cell == 2 || cell == 6 || cell == 8) << "byte " << b;
    } else {
      EXPECT_TRUE(cell == 1 || cell == 3 || cell == 5 || cell == 7) << "byte " << b;
    }
    places.insert(at);
  }
  EXPECT_EQ(places.size(), 48u);
}

TEST(Display, AQuarterTurnMovesTheFaceClockwiseInItsPicture) {
  // Every face text is the face seen from outside, so a quarter turn of the
  // face moves each of its stickers one place on clockwise.
  const std::array<int, 9> clockwise = {2, 5, 8, 1, 4, 7, 0, 3, 6};  // cell -> cell
  for (std::size_t t = 0; t < kTextFaces.size(); ++t) {
    const int move = move_index(std::string(1, kTextFaces[t]));
    for (int b = 0; b < kStickers; ++b) {
      const int at = shown_at(b);
      if (at / 9 != static_cast<int>(t)) continue;
      Cube c = empty_cube();
      c[b] = kMarker;
      const std::string moved = letters(apply_move(move, c));
      const int expected = at / 9 * 9 + clockwise[static_cast<std::size_t>(at % 9)];
      EXPECT_EQ(moved.find('x'), static_cast<std::size_t>(expected))
          << kTextFaces[t] << " turn, byte " << b;
    }
  }
}

TEST(Display, PicturesAfterTurnsOfEveryFace) {
  const std::vector<PictureCase> cases = {
      {"after F", after("F"), "wwwwwwooo" "ggggggggg" "wrrwrrwrr", "ryyryyryy" "yooyooyoo" "bbbbbbbbb"},
      {"after L", after("L"), "bwwbwwbww" "wggwggwgg" "rrrrrrrrr", "yyyyyyggg" "ooooooooo" "ybbybbybb"},
      {"after D", after("D"), "wwwwwwwww" "ggggggooo" "rrrrrrggg", "yyyyyyyyy" "bbboooooo" "rrrbbbbbb"},
      {"after B", after("B"), "rrrwwwwww" "ggggggggg" "rryrryrry", "yyoyyoyyo" "oowoowoow" "bbbbbbbbb"},
      {"after R U", after("R U"), "wwwwwwggg" "rrrggyggy" "wbbrrrrrr", "bbbyyyyyy" "ooooooygg" "bbwbbwooo"},
      {"after F2 B'", after("F2 B'"), "ooowwwyyy" "ggggggggg" "orworworw", "wyrwyrwyr" "royroyroy" "bbbbbbbbb"},
  };
  for (const auto& c : cases) EXPECT_EQ(letters(c.cube), std::string(c.first) + c.second) << c.name;
}

}  // namespace
}  // namespace tessel
