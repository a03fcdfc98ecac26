// Search sides kept between the searches of a session, so that a search
// with the same roots, direction and legal moves as a side of an earlier
// one takes that side's stored levels instead of growing them again (as in
// a batch of cases solved against one target).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "search/legal_moves.h"
#include "search/packed_cube.h"
#include "search/search_side.h"

namespace tessel {

// What makes the levels of a side: the same key grows the same levels.
struct SideKey {
  std::vector<PackedCube> roots;
  int direction = kForward;
  std::vector<int> moves;  // the legal move list, in list order

  SideKey(std::span<const PackedCube> roots, int direction, const LegalMoves& legal);
  bool operator==(const SideKey& other) const;
};

// The sides, oldest first.
class KeptSides {
 public:
  // Sides kept at the most, whatever their size.
  static constexpr std::size_t kMostSides = 16;

  // The kept side of `key`, rewound to level 0, or null.
  std::unique_ptr<search_side> take(const SideKey& key);
  // Gives up the oldest sides until at most `most_sides` are kept in at
  // most `most_bytes`, and returns them, oldest first.
  std::vector<std::unique_ptr<search_side>> trim(std::size_t most_bytes, std::size_t most_sides);
  // Keeps `side` under `key` as the newest (replacing a side kept under it).
  void keep(SideKey key, std::unique_ptr<search_side> side);
  // Frees every kept side.
  void clear() { kept_.clear(); }
  std::size_t size() const { return kept_.size(); }
  // Bytes the kept sides hold.
  std::size_t bytes() const;

 private:
  struct Kept {
    SideKey key;
    std::unique_ptr<search_side> side;
  };
  std::vector<Kept> kept_;
};

}  // namespace tessel
