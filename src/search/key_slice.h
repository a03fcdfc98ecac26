// Position keys cut finer than a bucket. A position's key is its place in
// the cube-state order: the high word, then the low word above its
// last-move byte, 120 bits read from the top. A slice is the positions
// whose key agrees with a prefix in its top `depth` bits and whose next
// `sub_bits` bits lie in [first_sub, last_sub): a run of positions in
// cube-state order, never part of one position's entries.
#pragma once

#include <compare>
#include <cstdint>

#include "search/packed_cube.h"

namespace tessel {

inline constexpr int kKeyBits = 120;

// The top bits of a key, the bits below them zero.
struct KeyPrefix {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;  // key bits 64..119 at the top of the word, the move byte zero

  friend constexpr auto operator<=>(const KeyPrefix&, const KeyPrefix&) = default;
};

// The top `depth` bits of the key of c (0 <= depth <= kKeyBits).
constexpr KeyPrefix key_prefix(const PackedCube& c, int depth) {
  const auto top = [](std::uint64_t word, int bits) {
    return bits <= 0 ? 0 : bits >= 64 ? word : word & ~(~std::uint64_t{0} >> bits);
  };
  return {top(c.hi, depth), top(c.lo & ~std::uint64_t{0xFF}, depth - 64)};
}

// Key bits [depth, depth + bits) of c as a number (1 <= bits <= 32,
// depth + bits <= kKeyBits).
constexpr std::uint64_t key_bits(const PackedCube& c, int depth, int bits) {
  const std::uint64_t lo = c.lo & ~std::uint64_t{0xFF};
  const std::uint64_t window = depth == 0   ? c.hi
                               : depth < 64 ? (c.hi << depth) | (lo >> (64 - depth))
                                            : lo << (depth - 64);
  return window >> (64 - bits);
}

// `prefix` (of `depth` bits) followed by the `bits` bits of `value`: a
// prefix of depth + bits.
constexpr KeyPrefix with_key_bits(KeyPrefix prefix, int depth, int bits, std::uint64_t value) {
  const int end = depth + bits;
  if (end <= 64) {
    prefix.hi |= value << (64 - end);
  } else {
    if (depth < 64) prefix.hi |= value >> (end - 64);
    prefix.lo |= value << (128 - end);
  }
  return prefix;
}

struct KeySlice {
  KeyPrefix prefix;
  int depth = 0;
  int sub_bits = 1;
  std::uint64_t first_sub = 0, last_sub = 0;
};

// Whether c lies before the positions of `prefix` whose next bits are
// `sub` or more (sub may be 2^sub_bits: then every position of the prefix
// lies before).
constexpr bool before_sub(const PackedCube& c, const KeyPrefix& prefix, int depth, int sub_bits,
                          std::uint64_t sub) {
  const KeyPrefix own = key_prefix(c, depth);
  return own < prefix || (own == prefix && key_bits(c, depth, sub_bits) < sub);
}

constexpr bool in_slice(const PackedCube& c, const KeySlice& s) {
  if (key_prefix(c, s.depth) != s.prefix) return false;
  const std::uint64_t sub = key_bits(c, s.depth, s.sub_bits);
  return sub >= s.first_sub && sub < s.last_sub;
}

// The positions that one of several processes joins: those whose high key
// word lies in [lo, hi), or in [lo, ...) when `to_end`. A run of one
// position is never cut, and the shares of all processes, in order, cover
// the key space once in increasing order.
struct KeyShare {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  bool to_end = true;

  constexpr bool whole() const { return lo == 0 && to_end; }
  constexpr bool holds(const PackedCube& c) const { return c.hi >= lo && (to_end || c.hi < hi); }
};

}  // namespace tessel
