#include "picture_svg.h"

#include <cstdio>

namespace tessel::pictures {

namespace {

// The picture is one cube seen from a corner, drawn as three rhombi around
// that corner, which sits at the middle of the picture (C below):
//
//                 T
//              /     \          face 0 (top):         T R C L
//           L     0     R       face 1 (front-left):  L C, down
//           |  \     /  |       face 2 (front-right): C R, down
//           | 1   C   2 |
//           |     |     |
//             \   |   /
//                 B
//
// Each face's nine letters are written row by row, and the same rule turns
// them into places for both query forms:
//   face 0: row 0 runs from T to R; rows move from T towards L,
//   face 1: row 0 runs from L to C; rows move down,
//   face 2: row 0 runs from C to R; rows move down.
// For "stickers" (U, F, R) this is the cube seen from the UFR corner: U on
// top with UBL at T, UBR at R and UFL at L; F front-left with FUL at L; R
// front-right with RUF at C. For "m=xy&fl=" (D, L, B) it is the cube turned
// over and seen from the DBL corner: D on top with DFR at T, DBR at R and DFL
// at L; L front-left with LDF at L; B front-right with BDL at C. Both views
// are true views of a cube, so the stickers of one piece always meet at a
// drawn corner or edge.
constexpr double kCos30 = 0.86602540378443865;
constexpr double kEdge = 46.0;  // length of a cube edge on the picture
constexpr Point kCentre{kViewBox / 2, kViewBox / 2};
constexpr Point kTop{kCentre.x, kCentre.y - kEdge};
constexpr Point kLeft{kCentre.x - kEdge * kCos30, kCentre.y - kEdge / 2};
constexpr Point kRight{kCentre.x + kEdge * kCos30, kCentre.y - kEdge / 2};

struct FaceFrame {
  Point origin;  // outer corner of sticker (0, 0)
  Point column;  // one sticker along a row
  Point row;     // one row further
};

constexpr Point third(Point from, Point to) {
  return {(to.x - from.x) / 3, (to.y - from.y) / 3};
}

constexpr std::array<FaceFrame, 3> kFaces = {{
    {kTop, third(kTop, kRight), third(kTop, kLeft)},
    {kLeft, third(kLeft, kCentre), {0, kEdge / 3}},
    {kCentre, third(kCentre, kRight), {0, kEdge / 3}},
}};

constexpr std::string_view kLetters = "wgyrbozx";
constexpr std::array<std::string_view, 8> kFills = {
    "#ffffff",  // w white
    "#009b48",  // g green
    "#ffd500",  // y yellow
    "#b71234",  // r red
    "#0046ad",  // b blue
    "#ff5800",  // o orange
    "#808080",  // z grey: no colour
    "#ff00ff",  // x magenta: marker
};

ParseResult fail(std::string reason) {
  ParseResult r;
  r.error = std::move(reason);
  return r;
}

// One query parameter, seen at most once.
struct Slot {
  std::string_view name;
  std::optional<std::string_view> value;
};

}  // namespace

std::string_view sticker_fill(char letter) {
  const std::size_t i = kLetters.find(letter);
  return i == std::string_view::npos ? std::string_view{} : kFills[i];
}

std::array<Point, 4> sticker_corners(int face, int row, int column) {
  const FaceFrame& f = kFaces.at(static_cast<std::size_t>(face));
  auto at = [&f](double r, double c) {
    return Point{f.origin.x + c * f.column.x + r * f.row.x,
                 f.origin.y + c * f.column.y + r * f.row.y};
  };
  return {at(row, column), at(row, column + 1), at(row + 1, column + 1),
          at(row + 1, column)};
}

ParseResult parse_query(std::string_view query) {
  if (query.size() > kMaxQueryLength) return fail("query too long");

  std::array<Slot, 4> slots = {{{"size", {}}, {"stickers", {}}, {"m", {}}, {"fl", {}}}};
  auto& [size_slot, stickers_slot, m_slot, fl_slot] = slots;

  std::size_t pos = 0;
  while (pos <= query.size()) {
    std::size_t end = query.find('&', pos);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view part = query.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) {
      if (query.empty()) break;
      return fail("empty parameter in query");
    }
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) return fail("parameter without '='");
    const std::string_view name = part.substr(0, eq);
    Slot* slot = nullptr;
    for (Slot& s : slots)
      if (s.name == name) slot = &s;
    if (slot == nullptr) return fail("unknown parameter");
    if (slot->value) return fail("parameter " + std::string(name) + " given twice");
    slot->value = part.substr(eq + 1);
  }

  PictureRequest req;
  std::string_view letters;
  if (stickers_slot.value) {
    if (m_slot.value || fl_slot.value) return fail("stickers cannot be combined with m or fl");
    req.view = View::up_front_right;
    letters = *stickers_slot.value;
  } else if (fl_slot.value) {
    if (!m_slot.value) return fail("fl needs m=xy");
    if (*m_slot.value != "xy") return fail("m must be xy");
    req.view = View::down_left_back;
    letters = *fl_slot.value;
  } else {
    if (m_slot.value) return fail("m=xy needs fl");
    return fail("missing stickers or fl");
  }

  if (letters.size() != req.letters.size())
    return fail("expected 27 sticker letters, got " + std::to_string(letters.size()));
  for (std::size_t i = 0; i < letters.size(); ++i) {
    if (sticker_fill(letters[i]).empty())
      return fail("bad sticker letter at position " + std::to_string(i + 1) +
                  " (letters are wgyrbozx)");
    req.letters[i] = letters[i];
  }

  if (size_slot.value) {
    const std::string_view digits = *size_slot.value;
    if (digits.empty()) return fail("size must be a number");
    long long value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return fail("size must be a number");
      if (value <= kMaxSize) value = value * 10 + (c - '0');  // stays small
    }
    req.size = static_cast<int>(value < kMinSize ? kMinSize : value > kMaxSize ? kMaxSize : value);
  }

  ParseResult r;
  r.request = req;
  return r;
}

std::string render_svg(const PictureRequest& request) {
  std::string out;
  out.reserve(4096);
  const std::string size = std::to_string(request.size);
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size + "\" height=\"" + size +
         "\" viewBox=\"0 0 100 100\">\n";
  out += request.view == View::up_front_right ? "<title>U F R</title>\n"
                                              : "<title>D L B</title>\n";
  out += "<g stroke=\"#000000\" stroke-width=\"1.2\" stroke-linejoin=\"round\">\n";
  char buf[96];
  for (int face = 0; face < 3; ++face) {
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) {
        const char letter = request.letters[static_cast<std::size_t>(face * 9 + row * 3 + column)];
        out += "<polygon points=\"";
        const auto corners = sticker_corners(face, row, column);
        for (std::size_t k = 0; k < corners.size(); ++k) {
          std::snprintf(buf, sizeof buf, "%s%.2f,%.2f", k == 0 ? "" : " ", corners[k].x,
                        corners[k].y);
          out += buf;
        }
        out += "\" fill=\"";
        out += sticker_fill(letter);
        out += "\"/>\n";
      }
    }
  }
  out += "</g>\n</svg>\n";
  return out;
}

Reply answer_query(std::string_view query) {
  ParseResult parsed = parse_query(query);
  if (!parsed.request) return {400, "text/plain; charset=utf-8", parsed.error + "\n"};
  return {200, "image/svg+xml", render_svg(*parsed.request)};
}

}  // namespace tessel::pictures
