#include "cube/moves.h"

namespace tessel {

int move_index(std::string_view name) {
  for (int m = 0; m < kMoveCount; ++m)
    if (all_rotations_s[static_cast<std::size_t>(m)] == name) return m;
  return -1;
}

}  // namespace tessel
