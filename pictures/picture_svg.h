// Cube pictures for the picture service: parsing the query text that tessel
// writes into its image tags, and drawing the three faces it names as SVG.
//
// Two query forms are understood (the only ones tessel writes):
//   size=N&stickers=<27 letters>       the U, F and R faces
//   size=N&m=xy&fl=<27 letters>        the D, L and B faces
// "size" may be left out (100 is taken); the parameters may come in any
// order. Letters: w g y r b o for the six colours, z for a sticker without
// colour, x for the marker colour.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tessel::pictures {

inline constexpr int kMinSize = 32;
inline constexpr int kMaxSize = 1024;
inline constexpr int kDefaultSize = 100;
// Longest query text looked at; anything longer is refused unread.
inline constexpr std::size_t kMaxQueryLength = 256;

enum class View {
  up_front_right,    // "stickers": faces U, F, R
  down_left_back,    // "m=xy&fl=": faces D, L, B
};

struct PictureRequest {
  int size = kDefaultSize;  // width and height in pixels, already clamped
  View view = View::up_front_right;
  std::array<char, 27> letters{};  // three faces of nine, as in the query
};

struct ParseResult {
  std::optional<PictureRequest> request;
  std::string error;  // one line, set when request is empty
};

// Parses the query text (the part after '?', without it).
ParseResult parse_query(std::string_view query);

// "#rrggbb" fill of a sticker letter, or an empty view for a letter that is
// not one of "wgyrbozx".
std::string_view sticker_fill(char letter);

// The picture as a complete SVG document.
std::string render_svg(const PictureRequest& request);

// Corner points of one sticker in the picture's own coordinates (a square of
// kViewBox by kViewBox units, scaled to the requested size): face 0..2 in
// query order, row and column 0..2 as the letters are written.
inline constexpr double kViewBox = 100.0;
struct Point {
  double x;
  double y;
};
std::array<Point, 4> sticker_corners(int face, int row, int column);

// The whole answer to a request for the picture page.
struct Reply {
  int status = 200;
  std::string content_type;
  std::string body;
};
Reply answer_query(std::string_view query);

}  // namespace tessel::pictures
