#include "search/kept_sides.h"

#include <algorithm>
#include <utility>

namespace tessel {

namespace {

std::size_t side_bytes(const search_side& side) {
  return side.cache.capacity() * sizeof(PackedCube);
}

}  // namespace

SideKey::SideKey(std::span<const PackedCube> r, int dir, const LegalMoves& legal)
    : roots(r.begin(), r.end()),
      direction(dir),
      moves(legal.moves().begin(), legal.moves().end()) {}

bool SideKey::operator==(const SideKey& other) const {
  return direction == other.direction && moves == other.moves && roots == other.roots;
}

std::unique_ptr<search_side> KeptSides::take(const SideKey& key) {
  const auto at =
      std::find_if(kept_.begin(), kept_.end(), [&key](const Kept& k) { return k.key == key; });
  if (at == kept_.end()) return nullptr;
  std::unique_ptr<search_side> side = std::move(at->side);
  kept_.erase(at);
  side->rewind();
  return side;
}

std::vector<std::unique_ptr<search_side>> KeptSides::trim(std::size_t most_bytes,
                                                          std::size_t most_sides) {
  std::size_t held = bytes();
  std::size_t given = 0;
  while (given < kept_.size() && (kept_.size() - given > most_sides || held > most_bytes)) {
    held -= side_bytes(*kept_[given].side);
    ++given;
  }
  std::vector<std::unique_ptr<search_side>> out;
  for (std::size_t k = 0; k < given; ++k) out.push_back(std::move(kept_[k].side));
  kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(given));
  return out;
}

void KeptSides::keep(SideKey key, std::unique_ptr<search_side> side) {
  kept_.erase(
      std::remove_if(kept_.begin(), kept_.end(), [&key](const Kept& k) { return k.key == key; }),
      kept_.end());
  kept_.push_back({std::move(key), std::move(side)});
}

std::size_t KeptSides::bytes() const {
  std::size_t sum = 0;
  for (const Kept& k : kept_) sum += side_bytes(*k.side);
  return sum;
}

}  // namespace tessel
