// The piece table: every sticker in one piece, names that match the faces,
// reference stickers, pieces that the moves keep together, and the
// clockwise order of corner stickers.
#include "cube/pieces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "cube/moves.h"

namespace tessel {
namespace {

// Every piece as (name, bytes), edges first.
struct AnyPiece {
  std::string name;
  std::vector<int> bytes;
};
std::vector<AnyPiece> all_pieces() {
  std::vector<AnyPiece> all;
  for (const auto& p : edge_pieces) all.push_back({std::string(p.name), {p.begin(), p.end()}});
  for (const auto& p : corner_pieces) all.push_back({std::string(p.name), {p.begin(), p.end()}});
  return all;
}

bool opposite(char a, char b) {
  const std::string pair{a, b};
  return pair == "UD" || pair == "DU" || pair == "FB" || pair == "BF" || pair == "RL" || pair == "LR";
}

TEST(Pieces, EveryStickerBelongsToExactlyOnePiece) {
  std::array<int, kStickers> owners{};
  for (const auto& p : edge_pieces)
    for (int b : p) {
      ASSERT_GE(b, 0) << p.name;
      ASSERT_LT(b, kEdgeStickers) << p.name;  // edge stickers are bytes 0..23
      ++owners[static_cast<std::size_t>(b)];
    }
  for (const auto& p : corner_pieces)
    for (int b : p) {
      ASSERT_GE(b, kCornerBase) << p.name;  // corner stickers are bytes 24..47
      ASSERT_LT(b, kStickers) << p.name;
      ++owners[static_cast<std::size_t>(b)];
    }
  for (int b = 0; b < kStickers; ++b) EXPECT_EQ(owners[static_cast<std::size_t>(b)], 1) << "byte " << b;
}

TEST(Pieces, EachStickerLiesOnTheFaceOfItsLetter) {
  // Face f holds bytes 4f..4f+3 and 24+4f..24+4f+3, faces in the order U F D R B L.
  for (const auto& p : all_pieces()) {
    ASSERT_EQ(p.name.size(), p.bytes.size()) << p.name;
    for (std::size_t k = 0; k < p.bytes.size(); ++k)
      EXPECT_EQ(std::string("UFDRBL")[static_cast<std::size_t>(p.bytes[k] % 24 / 4)], p.name[k])
          << p.name << " sticker " << k;
    for (std::size_t i = 0; i < p.name.size(); ++i)
      for (std::size_t j = i + 1; j < p.name.size(); ++j) {
        EXPECT_NE(p.name[i], p.name[j]) << p.name;
        EXPECT_FALSE(opposite(p.name[i], p.name[j])) << p.name;
      }
  }
}

TEST(Pieces, NamesAreDistinctAsLetterSets) {
  std::set<std::string> seen;
  for (auto p : all_pieces()) {
    std::sort(p.name.begin(), p.name.end());
    EXPECT_TRUE(seen.insert(p.name).second) << p.name;
  }
  EXPECT_EQ(seen.size(), 20u);
}

TEST(Pieces, ReferenceStickerIsTheUOrDStickerElseTheFOrBSticker) {
  for (const auto& p : all_pieces()) {
    const bool has_u_or_d = p.name.find_first_of("UD") != std::string::npos;
    const char reference_face = p.name[0];
    const std::string allowed = has_u_or_d ? "UD" : "FB";
    EXPECT_NE(allowed.find(reference_face), std::string::npos) << p.name;
  }
  for (const auto& p : edge_pieces) EXPECT_EQ(p.reference(), p.bytes[0]);
  for (const auto& p : corner_pieces) EXPECT_EQ(p.reference(), p.bytes[0]);
}

// Where move m carries the sticker at byte b.
int destination(int m, int b) {
  const auto& from = move_tables[static_cast<std::size_t>(m)].from;
  return static_cast<int>(std::find(from.begin(), from.end(), b) - from.begin());
}

TEST(Pieces, EveryMoveKeepsThePiecesTogether) {
  std::set<std::set<int>> pieces;
  for (const auto& p : all_pieces()) pieces.insert({p.bytes.begin(), p.bytes.end()});
  for (int m = 0; m < kMoveCount; ++m)
    for (const auto& p : all_pieces()) {
      std::set<int> image;
      for (int b : p.bytes) image.insert(destination(m, b));
      EXPECT_EQ(pieces.count(image), 1u) << all_rotations_s[static_cast<std::size_t>(m)] << " " << p.name;
    }
}

TEST(Pieces, PositionsAreDistinct) {
  std::set<Direction> at;
  for (const auto& p : edge_pieces) at.insert(piece_position(p));
  for (const auto& p : corner_pieces) at.insert(piece_position(p));
  EXPECT_EQ(at.size(), 20u);
  EXPECT_EQ(piece_position(piece_named(corner_pieces, "UFR")), (Direction{1, 1, 1}));
  EXPECT_EQ(piece_position(piece_named(edge_pieces, "BL")), (Direction{-1, 0, -1}));
}

// The corner's clockwise triple as a rotation starting at its smallest byte,
// so that two triples of one corner compare equal when they are rotations.
std::array<int, 3> canonical_rotation(std::array<int, 3> t) {
  while (t[0] != std::min({t[0], t[1], t[2]})) t = {t[1], t[2], t[0]};
  return t;
}

TEST(Pieces, CornerStickersClockwiseFromTheReference) {
  // Looking at the UFR corner from outside: U, then R, then F clockwise.
  EXPECT_EQ(clockwise(piece_named(corner_pieces, "UFR")), (std::array<int, 3>{27, 36, 29}));
  // Looking at DFR from outside (from below): D, F, R.
  EXPECT_EQ(clockwise(piece_named(corner_pieces, "DFR")), (std::array<int, 3>{33, 31, 38}));
  std::set<std::array<int, 3>> triples;
  for (const auto& c : corner_pieces) {
    const auto cw = clockwise(c);
    EXPECT_EQ(cw[0], c.reference()) << c.name;
    std::array<int, 3> sorted_cw = cw, sorted_bytes = c.bytes;
    std::sort(sorted_cw.begin(), sorted_cw.end());
    std::sort(sorted_bytes.begin(), sorted_bytes.end());
    EXPECT_EQ(sorted_cw, sorted_bytes) << c.name;
    triples.insert(canonical_rotation(cw));
  }
  // Turns and rotations keep the sense of turning: every clockwise triple
  // lands on a clockwise triple.
  for (int m = 0; m < kMoveCount; ++m)
    for (const auto& c : corner_pieces) {
      const auto cw = clockwise(c);
      const std::array<int, 3> image = {destination(m, cw[0]), destination(m, cw[1]),
                                        destination(m, cw[2])};
      EXPECT_EQ(triples.count(canonical_rotation(image)), 1u)
          << all_rotations_s[static_cast<std::size_t>(m)] << " " << c.name;
    }
}

TEST(Pieces, LookUpByTableName) {
  EXPECT_EQ(piece_named(edge_pieces, "FR").bytes, (std::array<int, 2>{5, 15}));
  EXPECT_EQ(piece_named(corner_pieces, "UBL").bytes, (std::array<int, 3>{24, 41, 44}));
  for (const auto& p : edge_pieces) EXPECT_EQ(&piece_named(edge_pieces, p.name), &p);
  for (const auto& p : corner_pieces) EXPECT_EQ(&piece_named(corner_pieces, p.name), &p);
}

}  // namespace
}  // namespace tessel
