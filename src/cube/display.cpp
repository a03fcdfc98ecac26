#include "cube/display.h"

#include <array>

#include "cube/pieces.h"

namespace tessel {

namespace {

// U, F, R the usual way; D, L, B as the service's second view ("m=xy") lays
// them out: D with R along the top row, L and B with D on top.
constexpr std::array<FaceView, 3> kFirstViews = {{{kU, kB, kR}, {kF, kU, kR}, {kR, kU, kB}}};
constexpr std::array<FaceView, 3> kSecondViews = {{{kD, kR, kB}, {kL, kD, kB}, {kB, kD, kR}}};

// Sticker bytes of one picture, face by face, row by row; -1 marks a centre.
using FaceText = std::array<int, 9>;
struct Picture {
  std::array<FaceText, 3> faces;
  std::array<char, 3> centres;
};

constexpr Picture picture(const std::array<FaceView, 3>& views) {
  Picture p{};
  for (std::size_t f = 0; f < 3; ++f) {
    p.faces[f] = face_stickers(views[f]);
    p.centres[f] = colour_letters[static_cast<std::size_t>(views[f].face)];
  }
  return p;
}

constexpr Picture kFirst = picture(kFirstViews);
constexpr Picture kSecond = picture(kSecondViews);

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
