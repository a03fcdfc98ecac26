// Moves applied straight into the packed form: the child's packed cube is
// gathered from the parent's sticker bytes with one fixed table per move,
// instead of applying the move to a scratch cube and packing it.
//
// For a move that relabels no colour (the face turns) only the fields the
// move changes are gathered; the others are kept from the parent's packed
// value with a mask. A move that relabels colours rewrites all 40 fields.
// Every move has its own unrolled routine with constant shifts.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "cube/moves.h"
#include "search/packed_cube.h"

namespace tessel {

struct PackedMove {
  std::uint64_t lo_keep = 0;  // parent bits kept (never the move byte)
  std::uint64_t hi_keep = 0;
  std::uint8_t lo_count = 0;  // gathered fields wholly in the low word
  std::uint8_t hi_count = 0;  // gathered fields wholly in the high word
  bool straddle = false;      // edge sticker 2 (bits 62..64) is gathered
  bool relabels = false;
  std::uint8_t straddle_src = 0;
  std::array<std::uint8_t, kPackedFields> lo_src{}, lo_shift{};
  std::array<std::uint8_t, kPackedFields> hi_src{}, hi_shift{};
  std::array<std::uint8_t, 8> relabel{};
  // The gathered high-word fields that reach bit 48 or above (fields
  // 34..39): all a bucket key of the top 16 bits needs.
  std::uint64_t top_keep = 0;
  std::uint8_t top_count = 0;
  std::array<std::uint8_t, 6> top_src{}, top_shift{};
};

namespace detail {

inline constexpr int kStraddleField = 18;  // edge sticker 2: bits 62..64
inline constexpr int kTopFieldShift = 46;  // field 34 (edge sticker 18) in the high word

constexpr PackedMove make_packed_move(const MoveTable& t) {
  PackedMove p;
  for (std::size_t c = 0; c < 8; ++c) {
    p.relabel[c] = t.relabel[c];
    if (t.relabel[c] != c) p.relabels = true;
  }
  for (int k = 0; k < kPackedFields; ++k) {
    const std::uint8_t dst = kPackedFieldBytes[static_cast<std::size_t>(k)];
    const std::uint8_t src = t.from[dst];
    const int bit = 8 + 3 * k;
    if (!p.relabels && src == dst) {
      // The field keeps the parent's value.
      if (k == kStraddleField) {
        p.lo_keep |= std::uint64_t{3} << 62;
        p.hi_keep |= 1;
      } else if (bit < 64) {
        p.lo_keep |= std::uint64_t{7} << bit;
      } else {
        p.hi_keep |= std::uint64_t{7} << (bit - 64);
      }
      continue;
    }
    if (k == kStraddleField) {
      p.straddle = true;
      p.straddle_src = src;
    } else if (bit < 64) {
      p.lo_src[p.lo_count] = src;
      p.lo_shift[p.lo_count++] = static_cast<std::uint8_t>(bit);
    } else {
      p.hi_src[p.hi_count] = src;
      p.hi_shift[p.hi_count++] = static_cast<std::uint8_t>(bit - 64);
      if (bit - 64 >= kTopFieldShift) {
        p.top_src[p.top_count] = src;
        p.top_shift[p.top_count++] = static_cast<std::uint8_t>(bit - 64);
      }
    }
  }
  p.top_keep = p.hi_keep & ~((std::uint64_t{1} << kTopFieldShift) - 1);
  return p;
}

constexpr std::array<PackedMove, kMoveCount> make_packed_moves() {
  std::array<PackedMove, kMoveCount> all{};
  for (std::size_t m = 0; m < kMoveCount; ++m) all[m] = make_packed_move(move_tables[m]);
  return all;
}

}  // namespace detail

// Gather tables of all 54 moves, fixed at compile time.
inline constexpr std::array<PackedMove, kMoveCount> packed_moves = detail::make_packed_moves();

namespace detail {

template <int M>
constexpr std::uint64_t field(const Cube& bytes, std::uint8_t src) {
  constexpr const PackedMove& t = packed_moves[M];
  if constexpr (packed_moves[M].relabels)
    return t.relabel[bytes.s[src] & 7u];
  else
    return bytes.s[src] & 7u;
}

template <int M, std::size_t... K>
constexpr std::uint64_t gather_lo(const Cube& bytes, std::index_sequence<K...>) {
  constexpr const PackedMove& t = packed_moves[M];
  return (std::uint64_t{0} | ... | (field<M>(bytes, t.lo_src[K]) << t.lo_shift[K]));
}

template <int M, std::size_t... K>
constexpr std::uint64_t gather_hi(const Cube& bytes, std::index_sequence<K...>) {
  constexpr const PackedMove& t = packed_moves[M];
  return (std::uint64_t{0} | ... | (field<M>(bytes, t.hi_src[K]) << t.hi_shift[K]));
}

template <int M, std::size_t... K>
constexpr std::uint64_t gather_top(const Cube& bytes, std::index_sequence<K...>) {
  constexpr const PackedMove& t = packed_moves[M];
  return (std::uint64_t{0} | ... | (field<M>(bytes, t.top_src[K]) << t.top_shift[K]));
}

}  // namespace detail

// The packed child under move M of a parent given both unpacked (`bytes`)
// and packed, with M as its last move.
template <int M>
PackedCube packed_child(const Cube& bytes, const PackedCube& packed) {
  constexpr const PackedMove& t = packed_moves[M];
  std::uint64_t lo =
      (packed.lo & t.lo_keep) | std::uint64_t{M} |
      detail::gather_lo<M>(bytes, std::make_index_sequence<packed_moves[M].lo_count>{});
  std::uint64_t hi =
      (packed.hi & t.hi_keep) |
      detail::gather_hi<M>(bytes, std::make_index_sequence<packed_moves[M].hi_count>{});
  if constexpr (packed_moves[M].straddle) {
    const std::uint64_t v = detail::field<M>(bytes, t.straddle_src);
    lo |= v << 62;
    hi |= v >> 2;
  }
  return {lo, hi};
}

// The child's high word, exact in bits 46..63 only (the rest is zero or
// partial): enough for a key of its top 16 bits.
template <int M>
std::uint64_t packed_child_top(const Cube& bytes, const PackedCube& packed) {
  constexpr const PackedMove& t = packed_moves[M];
  return (packed.hi & t.top_keep) |
         detail::gather_top<M>(bytes, std::make_index_sequence<packed_moves[M].top_count>{});
}

using PackedChildFn = PackedCube (*)(const Cube&, const PackedCube&);
using PackedChildTopFn = std::uint64_t (*)(const Cube&, const PackedCube&);

namespace detail {
template <std::size_t... M>
constexpr std::array<PackedChildFn, kMoveCount> child_functions(std::index_sequence<M...>) {
  return {&packed_child<static_cast<int>(M)>...};
}
template <std::size_t... M>
constexpr std::array<PackedChildTopFn, kMoveCount> child_top_functions(std::index_sequence<M...>) {
  return {&packed_child_top<static_cast<int>(M)>...};
}
}  // namespace detail

// packed_child of every move, by move index.
inline constexpr std::array<PackedChildFn, kMoveCount> packed_child_functions =
    detail::child_functions(std::make_index_sequence<kMoveCount>{});
// packed_child_top of every move, by move index.
inline constexpr std::array<PackedChildTopFn, kMoveCount> packed_child_top_functions =
    detail::child_top_functions(std::make_index_sequence<kMoveCount>{});

}  // namespace tessel
