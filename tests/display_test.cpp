// Cube pictures: the exact bytes of the two image tags and the caption.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

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
  const int u_face[8] = {24, 0, 25, 3, 1, 26, 2, 27};
  for (int k = 0; k < 8; ++k) codes[u_face[k]] = static_cast<std::uint8_t>(k);

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

TEST(Display, EveryStickerIsShownAtItsPlace) {
  // Sticker bytes in letter order: U F R of the first picture, then D L B
  // of the second; -1 marks the centres.
  const int order[54] = {
      24, 0,  25, 3,  -1, 1,  26, 2,  27,  // U
      28, 4,  29, 7,  -1, 5,  30, 6,  31,  // F
      36, 12, 37, 15, -1, 13, 38, 14, 39,  // R
      33, 9,  35, 8,  -1, 10, 32, 11, 34,  // D
      47, 22, 46, 21, -1, 23, 45, 20, 44,  // L
      43, 18, 42, 17, -1, 19, 41, 16, 40,  // B
  };
  const std::string centres = "wgryob";
  for (int i = 0; i < kStickers; ++i) {
    Cube c = empty_cube();
    c[i] = 7;
    std::string expected;
    for (int k = 0; k < 54; ++k) expected += order[k] < 0 ? centres[k / 9] : order[k] == i ? 'x' : 'z';
    EXPECT_EQ(pp1(c), kEndpoint + "?size=100&stickers=" + expected.substr(0, 27)) << "byte " << i;
    EXPECT_EQ(pp2(c), kEndpoint + "?size=100&m=xy&fl=" + expected.substr(27)) << "byte " << i;
  }
}

}  // namespace
}  // namespace tessel
