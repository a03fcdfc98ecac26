#include "search/packed_cube.h"

namespace tessel {

PackedCube pack_ce(const Cube& cube, int last_move) {
  // Fields 0..17 lie wholly in lo (bits 8..61); field 18 (edge sticker 2)
  // straddles bits 62..64; fields 19..39 lie wholly in hi.
  std::uint64_t lo = static_cast<std::uint8_t>(last_move);
  std::uint64_t hi = 0;
  for (int k = 0; k < 18; ++k)
    lo |= static_cast<std::uint64_t>(cube[kPackedFieldBytes[static_cast<std::size_t>(k)]])
          << (8 + 3 * k);
  const std::uint64_t e2 = cube[2];
  lo |= e2 << 62;
  hi |= e2 >> 2;
  for (int k = 19; k < kPackedFields; ++k)
    hi |= static_cast<std::uint64_t>(cube[kPackedFieldBytes[static_cast<std::size_t>(k)]])
          << (8 + 3 * k - 64);
  return {lo, hi};
}

Cube unpack_cube(const PackedCube& packed) {
  Cube c;
  int m = 0;
  unpack_ce(c, m, packed);
  return c;
}

PackingCheck check_packing(const Cube& cube, int last_move, Cube* unpacked) {
  Cube back;
  int move = 0;
  unpack_ce(back, move, pack_ce(cube, last_move));
  if (unpacked) *unpacked = back;
  if (cube_compare(back, cube) != 0) return PackingCheck::wrong_cube;
  if (move != static_cast<std::uint8_t>(last_move)) return PackingCheck::wrong_move;
  return PackingCheck::ok;
}

}  // namespace tessel
