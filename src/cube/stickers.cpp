#include "cube/stickers.h"

#include <string>
#include <vector>

#include "core/failure.h"
#include "cube/pieces.h"

namespace tessel {

namespace {

// The faces of the text as seen from outside: the face, the face next to
// its top row, the face next to its right column.
constexpr std::array<FaceView, 6> kTextViews = {{
    {kU, kB, kR},
    {kR, kU, kB},
    {kF, kU, kR},
    {kD, kF, kR},
    {kL, kU, kF},
    {kB, kU, kL},
}};

constexpr std::array<int, kStickerLetters> text_bytes() {
  std::array<int, kStickerLetters> bytes{};
  for (std::size_t f = 0; f < kTextViews.size(); ++f) {
    const auto face = face_stickers(kTextViews[f]);
    for (std::size_t k = 0; k < face.size(); ++k) bytes[f * 9 + k] = face[k];
  }
  return bytes;
}

[[noreturn]] void invalid(const std::string& reason) {
  fail("ERROR: invalid stickers: " + reason + "\n");
}

char letter_of(std::uint8_t colour) { return face_letters[colour]; }

// Parity of a permutation given as piece per place: true when odd.
bool odd(const std::vector<int>& piece_at) {
  std::vector<bool> seen(piece_at.size(), false);
  bool parity = false;
  for (std::size_t start = 0; start < piece_at.size(); ++start) {
    std::size_t length = 0;
    for (std::size_t k = start; !seen[k]; k = static_cast<std::size_t>(piece_at[k])) {
      seen[k] = true;
      ++length;
    }
    if (length > 0 && length % 2 == 0) parity = !parity;
  }
  return parity;
}

// What the places of one kind of piece hold: the piece at each place (-1
// while empty), and the sum of the twists or flips of the pieces there.
struct Placed {
  std::vector<int> piece_at;
  int empty = 0;
  int turn = 0;

  // Gives the one missing piece to the one empty place, if there is one.
  void complete() {
    if (empty != 1) return;
    std::vector<bool> there(piece_at.size(), false);
    for (int p : piece_at)
      if (p >= 0) there[static_cast<std::size_t>(p)] = true;
    int missing = 0;
    while (there[static_cast<std::size_t>(missing)]) ++missing;
    for (int& p : piece_at)
      if (p < 0) p = missing;
  }
};

// Which piece each place holds, how it is turned, and that no piece is
// there twice. `stickers(place)` lists a place's sticker bytes from its
// reference sticker on (clockwise for corners); a piece is turned by t when
// its reference colour shows on the place's sticker t.
template <std::size_t N, std::size_t P, typename Stickers>
Placed place_pieces(const Cube& cube, const std::array<Piece<N>, P>& pieces, const char* kind,
                    Stickers&& stickers) {
  Placed placed;
  placed.piece_at.assign(P, -1);
  for (std::size_t k = 0; k < P; ++k) {
    const auto at = stickers(pieces[k]);
    std::size_t empty = 0;
    for (int b : at) empty += cube[b] == kEmpty ? 1 : 0;
    const std::string where = std::string(kind) + " at " + std::string(pieces[k].name);
    if (empty == N) {
      ++placed.empty;
      continue;
    }
    if (empty != 0) invalid("the " + where + " is partly empty");
    for (std::size_t q = 0; q < P && placed.piece_at[k] < 0; ++q) {
      const auto home = stickers(pieces[q]);
      for (std::size_t t = 0; t < N; ++t) {
        bool same = true;
        for (std::size_t i = 0; i < N; ++i)
          same = same && cube[at[(t + i) % N]] == face_of(home[i]);
        if (!same) continue;
        placed.piece_at[k] = static_cast<int>(q);
        placed.turn += static_cast<int>(t);
        break;
      }
    }
    if (placed.piece_at[k] < 0) {
      // The colours in the letter order of the place's name.
      std::string shown;
      for (int b : pieces[k].bytes) {
        if (!shown.empty()) shown += ' ';
        shown += letter_of(cube[b]);
      }
      invalid("the " + where + " shows " + shown + ", which no " + kind + " has");
    }
    for (std::size_t j = 0; j < k; ++j)
      if (placed.piece_at[j] == placed.piece_at[k])
        invalid("the " + std::string(pieces[placed.piece_at[k]].name) + " " + kind + " is at " +
                std::string(pieces[j].name) + " and at " + std::string(pieces[k].name));
  }
  return placed;
}

}  // namespace

const std::array<int, kStickerLetters> sticker_text_bytes = text_bytes();

Cube cube_from_stickers(std::string_view text) {
  if (text.size() != kStickerLetters)
    invalid(std::to_string(text.size()) + (text.size() == 1 ? " letter" : " letters") +
            " instead of " + std::to_string(kStickerLetters));
  Cube cube = empty_cube();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const std::string number = std::to_string(i + 1);
    std::uint8_t colour = kEmpty;
    if (c != 'X' && c != '.') {
      const std::size_t face = face_letters.find(c);
      if (face == std::string_view::npos)
        invalid("letter " + number + " is not U, R, F, D, L, B, X or .");
      colour = static_cast<std::uint8_t>(face);
    }
    const int b = sticker_text_bytes[i];
    if (b < 0) {
      const char centre = sticker_text_faces[i / 9];
      if (c != centre)
        invalid("letter " + number + ", the centre of " + std::string(1, centre) + ", is not " +
                std::string(1, centre));
      continue;
    }
    cube[b] = colour;
  }

  Placed edges =
      place_pieces(cube, edge_pieces, "edge", [](const EdgePiece& p) { return p.bytes; });
  Placed corners = place_pieces(cube, corner_pieces, "corner",
                                [](const CornerPiece& p) { return clockwise(p); });
  const char* const unreachable = ": no moves make this cube";
  if (corners.empty == 0 && corners.turn % 3 != 0)
    invalid(std::string("a corner is twisted") + unreachable);
  if (edges.empty == 0 && edges.turn % 2 != 0)
    invalid(std::string("an edge is flipped") + unreachable);
  if (corners.empty <= 1 && edges.empty <= 1) {
    corners.complete();
    edges.complete();
    if (odd(corners.piece_at) != odd(edges.piece_at))
      invalid(std::string("two pieces are swapped") + unreachable);
  }
  return cube;
}

}  // namespace tessel
