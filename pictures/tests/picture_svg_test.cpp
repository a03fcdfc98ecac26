#include "picture_svg.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "cube/cube_state.h"
#include "cube/display.h"

namespace tessel::pictures {
namespace {

const std::string kSolvedUFR = "wwwwwwwww" "ggggggggg" "rrrrrrrrr";
const std::string kSolvedDLB = "yyyyyyyyy" "ooooooooo" "bbbbbbbbb";
const std::string kAllLetters = "wgyrbozxwgyrbozxwgyrbozxwgy";

std::string letters_of(const PictureRequest& r) { return {r.letters.begin(), r.letters.end()}; }

// ---- accepted queries ------------------------------------------------------

struct GoodRow {
  std::string query;
  View view;
  int size;
  std::string letters;
};

// Test names: the start of the query and its length, in letters, digits
// and underscores.
std::string label(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 60)) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out + "_len" + std::to_string(text.size());
}

void PrintTo(const GoodRow& row, std::ostream* os) { *os << label(row.query); }

class GoodQuery : public ::testing::TestWithParam<GoodRow> {};

TEST_P(GoodQuery, ParsesViewSizeAndLetters) {
  const GoodRow& row = GetParam();
  const ParseResult r = parse_query(row.query);
  ASSERT_TRUE(r.request.has_value()) << row.query << ": " << r.error;
  EXPECT_EQ(r.request->view, row.view);
  EXPECT_EQ(r.request->size, row.size);
  EXPECT_EQ(letters_of(*r.request), row.letters);
  EXPECT_TRUE(r.error.empty());
}

const std::string kPaddedSize = "size=" + std::string(256 - 5 - 1 - 9 - 27 - 3, '0') + "100";

INSTANTIATE_TEST_SUITE_P(
    Forms, GoodQuery,
    ::testing::Values(
        GoodRow{"size=100&stickers=" + kSolvedUFR, View::up_front_right, 100, kSolvedUFR},
        GoodRow{"size=100&m=xy&fl=" + kSolvedDLB, View::down_left_back, 100, kSolvedDLB},
        GoodRow{"stickers=" + kAllLetters + "&size=60", View::up_front_right, 60, kAllLetters},
        GoodRow{"fl=" + kAllLetters + "&m=xy&size=200", View::down_left_back, 200, kAllLetters},
        GoodRow{"m=xy&fl=" + kSolvedDLB, View::down_left_back, kDefaultSize, kSolvedDLB},
        GoodRow{"stickers=" + kSolvedUFR, View::up_front_right, kDefaultSize, kSolvedUFR},
        // the longest query looked at
        GoodRow{kPaddedSize + "&stickers=" + kSolvedUFR, View::up_front_right, 100, kSolvedUFR}));

struct SizeRow {
  std::string size;
  int expected;
};

void PrintTo(const SizeRow& row, std::ostream* os) { *os << "size_" << label(row.size); }

class SizeClamp : public ::testing::TestWithParam<SizeRow> {};

TEST_P(SizeClamp, ClampsToRange) {
  const SizeRow& row = GetParam();
  const ParseResult r = parse_query("size=" + row.size + "&stickers=" + kSolvedUFR);
  ASSERT_TRUE(r.request.has_value()) << row.size << ": " << r.error;
  EXPECT_EQ(r.request->size, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SizeClamp,
    ::testing::Values(SizeRow{"0", kMinSize}, SizeRow{"1", kMinSize}, SizeRow{"007", kMinSize},
                      SizeRow{"31", kMinSize}, SizeRow{"32", 32}, SizeRow{"33", 33},
                      SizeRow{"100", 100}, SizeRow{"1023", 1023}, SizeRow{"1024", 1024},
                      SizeRow{"1025", kMaxSize}, SizeRow{"99999", kMaxSize},
                      SizeRow{"99999999999999999999999999999999", kMaxSize},
                      SizeRow{"000000000000000000000000000000500", 500}));

// ---- refused queries -------------------------------------------------------

struct BadRow {
  std::string query;
  std::string reason;
};

void PrintTo(const BadRow& row, std::ostream* os) { *os << label(row.query); }

class BadQuery : public ::testing::TestWithParam<BadRow> {};

TEST_P(BadQuery, RefusedWithOneLineReason) {
  const BadRow& row = GetParam();
  const ParseResult r = parse_query(row.query);
  EXPECT_FALSE(r.request.has_value()) << row.query;
  EXPECT_EQ(r.error, row.reason) << row.query;

  const Reply reply = answer_query(row.query);
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(reply.content_type, "text/plain; charset=utf-8");
  EXPECT_EQ(reply.body, row.reason + "\n");
}

const std::string k26 = kSolvedUFR.substr(1);
const std::string k28 = kSolvedUFR + "w";

INSTANTIATE_TEST_SUITE_P(
    Malformed, BadQuery,
    ::testing::Values(
        BadRow{"", "missing stickers or fl"},
        BadRow{"size=100", "missing stickers or fl"},
        BadRow{"size=100&stickers=" + k26, "expected 27 sticker letters, got 26"},
        BadRow{"size=100&stickers=" + k28, "expected 27 sticker letters, got 28"},
        BadRow{"size=100&stickers=", "expected 27 sticker letters, got 0"},
        BadRow{"size=100&m=xy&fl=" + k26, "expected 27 sticker letters, got 26"},
        BadRow{"stickers=q" + k26, "bad sticker letter at position 1 (letters are wgyrbozx)"},
        BadRow{"stickers=" + k26 + "W", "bad sticker letter at position 27 (letters are wgyrbozx)"},
        BadRow{"m=xy&fl=yyyy1yyyyooooooooobbbbbbbbb",
               "bad sticker letter at position 5 (letters are wgyrbozx)"},
        // an encoded letter is not a letter: tessel writes letters plainly
        BadRow{"stickers=%77" + kSolvedUFR.substr(3),
               "bad sticker letter at position 1 (letters are wgyrbozx)"},
        BadRow{"size=abc&stickers=" + kSolvedUFR, "size must be a number"},
        BadRow{"size=&stickers=" + kSolvedUFR, "size must be a number"},
        BadRow{"size=-5&stickers=" + kSolvedUFR, "size must be a number"},
        BadRow{"size=+7&stickers=" + kSolvedUFR, "size must be a number"},
        BadRow{"size=1e3&stickers=" + kSolvedUFR, "size must be a number"},
        BadRow{"size=100&stickers=" + kSolvedUFR + "&fl=" + kSolvedDLB,
               "stickers cannot be combined with m or fl"},
        BadRow{"m=xy&stickers=" + kSolvedUFR, "stickers cannot be combined with m or fl"},
        BadRow{"fl=" + kSolvedDLB, "fl needs m=xy"},
        BadRow{"m=yx&fl=" + kSolvedDLB, "m must be xy"},
        BadRow{"m=&fl=" + kSolvedDLB, "m must be xy"},
        BadRow{"size=100&m=xy", "m=xy needs fl"},
        BadRow{"stickers=" + kSolvedUFR + "&stickers=" + kSolvedUFR,
               "parameter stickers given twice"},
        BadRow{"size=1&size=2&stickers=" + kSolvedUFR, "parameter size given twice"},
        BadRow{"foo=1&stickers=" + kSolvedUFR, "unknown parameter"},
        BadRow{"Size=100&stickers=" + kSolvedUFR, "unknown parameter"},
        BadRow{"stickers", "parameter without '='"},
        BadRow{"stickers=" + kSolvedUFR + "&", "empty parameter in query"},
        BadRow{"&stickers=" + kSolvedUFR, "empty parameter in query"},
        BadRow{"x" + kPaddedSize + "&stickers=" + kSolvedUFR, "query too long"},
        BadRow{std::string(100000, 'w'), "query too long"}));

// Every byte value in every position: only the eight letters are accepted.
TEST(Letters, OnlyTheEightLettersAreAccepted) {
  for (int pos : {0, 4, 13, 26}) {
    for (int c = 0; c < 256; ++c) {
      std::string letters = kSolvedUFR;
      letters[static_cast<std::size_t>(pos)] = static_cast<char>(c);
      const ParseResult r = parse_query("stickers=" + letters);
      const bool letter = std::string_view("wgyrbozx").find(static_cast<char>(c)) !=
                              std::string_view::npos && c != 0;
      EXPECT_EQ(r.request.has_value(), letter) << "byte " << c << " at " << pos;
    }
  }
}

// ---- colours -----------------------------------------------------------------

TEST(Colours, ExactFillOfEachLetter) {
  const std::vector<std::pair<char, std::string>> table = {
      {'w', "#ffffff"}, {'g', "#009b48"}, {'y', "#ffd500"}, {'r', "#b71234"},
      {'b', "#0046ad"}, {'o', "#ff5800"}, {'z', "#808080"}, {'x', "#ff00ff"},
  };
  for (const auto& [letter, fill] : table) EXPECT_EQ(sticker_fill(letter), fill) << letter;
  for (char bad : {'W', 'a', 'q', '0', ' ', '\0'}) EXPECT_TRUE(sticker_fill(bad).empty()) << bad;
}

// The polygons of a rendered picture: fills in document order and corners.
struct Polygon {
  std::vector<Point> points;
  std::string fill;
};

std::vector<Polygon> polygons_of(const std::string& svg) {
  std::vector<Polygon> out;
  static const std::regex poly(R"re(<polygon points="([^"]*)" fill="([^"]*)"/>)re");
  static const std::regex point(R"re((-?[0-9.]+),(-?[0-9.]+))re");
  for (std::sregex_iterator it(svg.begin(), svg.end(), poly), end; it != end; ++it) {
    Polygon p;
    p.fill = (*it)[2];
    const std::string pts = (*it)[1];
    for (std::sregex_iterator pit(pts.begin(), pts.end(), point); pit != end; ++pit)
      p.points.push_back({std::stod((*pit)[1]), std::stod((*pit)[2])});
    out.push_back(p);
  }
  return out;
}

TEST(Render, StickersInLetterOrderWithTheirColours) {
  for (View view : {View::up_front_right, View::down_left_back}) {
    PictureRequest req;
    req.view = view;
    req.size = 240;
    for (std::size_t i = 0; i < 27; ++i) req.letters[i] = kAllLetters[i];
    const std::string svg = render_svg(req);
    EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"240\" height=\"240\" "
                        "viewBox=\"0 0 100 100\">", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    const std::vector<Polygon> polys = polygons_of(svg);
    ASSERT_EQ(polys.size(), 27u);
    for (std::size_t i = 0; i < 27; ++i) {
      EXPECT_EQ(polys[i].fill, sticker_fill(kAllLetters[i])) << i;
      const auto corners = sticker_corners(static_cast<int>(i / 9), static_cast<int>(i % 9 / 3),
                                           static_cast<int>(i % 3));
      ASSERT_EQ(polys[i].points.size(), 4u);
      for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(polys[i].points[k].x, corners[k].x, 0.006);
        EXPECT_NEAR(polys[i].points[k].y, corners[k].y, 0.006);
      }
    }
  }
}

TEST(Render, AnswerIsSvgForAGoodQuery) {
  const Reply reply = answer_query("size=100&stickers=" + kSolvedUFR);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.content_type, "image/svg+xml");
  EXPECT_EQ(reply.body.rfind("<svg ", 0), 0u);
  EXPECT_NE(reply.body.find("<title>U F R</title>"), std::string::npos);
  EXPECT_NE(answer_query("m=xy&fl=" + kSolvedDLB).body.find("<title>D L B</title>"),
            std::string::npos);
}

// ---- geometry ------------------------------------------------------------------

bool same(Point a, Point b) { return std::abs(a.x - b.x) < 1e-9 && std::abs(a.y - b.y) < 1e-9; }

// Stickers of one piece meet: the sticker edges that lie on a cube edge are
// the same segment in both faces that share it. Corners of a sticker are
// listed as [0] outer corner of (row, column), [1] next column, [2] next
// row and column, [3] next row.
TEST(Geometry, NeighbouringFacesShareTheirEdges) {
  for (int i = 0; i < 3; ++i) {
    // face 0 bottom row on face 1 top row (U/F, or D/L)
    EXPECT_TRUE(same(sticker_corners(0, 2, i)[3], sticker_corners(1, 0, i)[0])) << i;
    EXPECT_TRUE(same(sticker_corners(0, 2, i)[2], sticker_corners(1, 0, i)[1])) << i;
    // face 0 last column on face 2 top row, reversed (U/R, or D/B)
    EXPECT_TRUE(same(sticker_corners(0, i, 2)[1], sticker_corners(2, 0, 2 - i)[1])) << i;
    EXPECT_TRUE(same(sticker_corners(0, i, 2)[2], sticker_corners(2, 0, 2 - i)[0])) << i;
    // face 1 last column on face 2 first column (F/R, or L/B)
    EXPECT_TRUE(same(sticker_corners(1, i, 2)[1], sticker_corners(2, i, 0)[0])) << i;
    EXPECT_TRUE(same(sticker_corners(1, i, 2)[2], sticker_corners(2, i, 0)[3])) << i;
  }
  // The corner nearest to the viewer (UFR, or DBL) is the picture's centre.
  const Point centre{kViewBox / 2, kViewBox / 2};
  EXPECT_TRUE(same(sticker_corners(0, 2, 2)[2], centre));
  EXPECT_TRUE(same(sticker_corners(1, 0, 2)[1], centre));
  EXPECT_TRUE(same(sticker_corners(2, 0, 0)[0], centre));
}

TEST(Geometry, StickersInsideThePictureAndApart) {
  std::vector<Point> centres;
  for (int f = 0; f < 3; ++f)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        Point m{0, 0};
        for (Point p : sticker_corners(f, r, c)) {
          EXPECT_GE(p.x, 1.0);
          EXPECT_LE(p.x, kViewBox - 1);
          EXPECT_GE(p.y, 1.0);
          EXPECT_LE(p.y, kViewBox - 1);
          m.x += p.x / 4;
          m.y += p.y / 4;
        }
        centres.push_back(m);
      }
  // No two sticker centres closer than a third of a sticker: none overlap.
  for (std::size_t i = 0; i < centres.size(); ++i)
    for (std::size_t j = i + 1; j < centres.size(); ++j)
      EXPECT_GT(std::hypot(centres[i].x - centres[j].x, centres[i].y - centres[j].y), 5.0)
          << i << " " << j;
}

// ---- what tessel writes --------------------------------------------------------

std::string query_part(const std::string& address) {
  return address.substr(address.find('?') + 1);
}

TEST(TesselOutput, EveryPictureTesselWritesIsAccepted) {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int> code(0, 7);
  for (int n = 0; n < 300; ++n) {
    Cube cube;
    for (auto& b : cube.s) b = static_cast<std::uint8_t>(code(rng));
    const ParseResult first = parse_query(query_part(pp1(cube)));
    const ParseResult second = parse_query(query_part(pp2(cube)));
    ASSERT_TRUE(first.request.has_value()) << first.error;
    ASSERT_TRUE(second.request.has_value()) << second.error;
    EXPECT_EQ(first.request->view, View::up_front_right);
    EXPECT_EQ(second.request->view, View::down_left_back);
    EXPECT_EQ(first.request->size, 100);
    const std::string a = pp1(cube);
    const std::string b = pp2(cube);
    EXPECT_EQ(letters_of(*first.request), a.substr(a.size() - 27));
    EXPECT_EQ(letters_of(*second.request), b.substr(b.size() - 27));
  }
}

}  // namespace
}  // namespace tessel::pictures
