#include "cube/display.h"

#include <array>

namespace tessel {

namespace {

// Sticker bytes of one picture, face by face, row by row; -1 marks a centre.
using FaceText = std::array<int, 9>;
struct Picture {
  std::array<FaceText, 3> faces;
  std::array<char, 3> centres;
};

constexpr Picture kFirst = {{{
                                {24, 0, 25, 3, -1, 1, 26, 2, 27},       // U
                                {28, 4, 29, 7, -1, 5, 30, 6, 31},       // F
                                {36, 12, 37, 15, -1, 13, 38, 14, 39},  // R
                            }},
                            {'w', 'g', 'r'}};
constexpr Picture kSecond = {{{
                                 {33, 9, 35, 8, -1, 10, 32, 11, 34},     // D
                                 {47, 22, 46, 21, -1, 23, 45, 20, 44},  // L
                                 {43, 18, 42, 17, -1, 19, 41, 16, 40},  // B
                             }},
                             {'y', 'o', 'b'}};

void append_faces(std::string& out, const Cube& cube, const Picture& p) {
  for (std::size_t f = 0; f < 3; ++f)
    for (int idx : p.faces[f])
      out += idx < 0 ? p.centres[f] : colour_letters[cube[idx] & 7u];
}

}  // namespace

std::string pp1(const Cube& cube) {
  std::string out(picture_endpoint);
  out += "?size=100&stickers=";
  append_faces(out, cube, kFirst);
  return out;
}

std::string pp2(const Cube& cube) {
  std::string out(picture_endpoint);
  out += "?size=100&m=xy&fl=";
  append_faces(out, cube, kSecond);
  return out;
}

std::string link_text(const Cube& cube, std::string_view caption) {
  std::string out = "<br><img src=\"";
  out += pp1(cube);
  out += "\" />\n<img src=\"";
  out += pp2(cube);
  out += "\" /> ";
  out += caption;
  out += " <br> \n";
  return out;
}

void link(std::ostream& err, const Cube& cube, std::string_view caption) {
  err << link_text(cube, caption);
}

}  // namespace tessel
