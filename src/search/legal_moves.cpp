#include "search/legal_moves.h"

#include "cube/moves.h"

namespace tessel {

void LegalMoves::set_all_rotations() {
  moves_.clear();
  for (int m = 0; m < kFaceMoveCount; ++m) moves_.push_back(m);
}

void LegalMoves::set_3gen(std::string_view word) {
  moves_.clear();
  for (int m = 0; m < kMoveCount; ++m) {
    const std::string_view name = all_rotations_s[static_cast<std::size_t>(m)];
    for (std::size_t j = 0; j < word.size(); ++j) {
      if (j + 1 < word.size() && word[j + 1] == '2') {
        if (name.size() == 2 && name[0] == word[j] && name[1] == '2') moves_.push_back(m);
      } else if (word[j] == name[0]) {
        moves_.push_back(m);
      }
    }
  }
}

bool is_forbidden_pair(int later, int earlier, int direction) {
  if (is_sister_rotation(later, earlier)) return true;
  if (rotation_families[later] != rotation_families[earlier]) return false;
  return direction == kForward ? later > earlier : later < earlier;
}

bool is_forbidden_sequence(std::span<const int> moves, int direction) {
  for (std::size_t i = 1; i < moves.size(); ++i)
    if (is_forbidden_pair(moves[i], moves[i - 1], direction)) return true;
  return false;
}

}  // namespace tessel
