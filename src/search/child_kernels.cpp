#include "search/child_kernels.h"

#include <array>
#include <atomic>
#include <cstdlib>

#include "cube/moves.h"
#include "search/packed_moves.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSEL_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace tessel {

namespace {

void expand_portable(const PackedCube& parent, const std::uint8_t* moves, unsigned count,
                     PackedCube* out) {
  Cube bytes;
  int previous = 0;
  unpack_ce(bytes, previous, parent);
  for (unsigned j = 0; j < count; ++j) out[j] = packed_child_functions[moves[j]](bytes, parent);
}

#if defined(TESSEL_X86_KERNELS)

// The vector kernels hold a parent as 48 bytes, one sticker each, in
// "field order": bytes 0..39 the packed fields (field k is cube byte
// kPackedFieldBytes[k]), bytes 40..47 the derived corner stickers (the
// targets of kDerivedCorners, in that order).
//
// Field k lies at bit 8 + 3k of the packed value, so the fields of bytes
// 8j..8j+7 are the 24 bits of packed bytes 1 + 3j .. 3 + 3j.

// Where each cube byte stands in field order.
constexpr std::array<std::uint8_t, kStickers> kFieldOrderOf = [] {
  std::array<std::uint8_t, kStickers> at{};
  for (std::size_t k = 0; k < kPackedFields; ++k)
    at[kPackedFieldBytes[k]] = static_cast<std::uint8_t>(k);
  for (std::size_t d = 0; d < kDerivedCorners.size(); ++d)
    at[kDerivedCorners[d].target] = static_cast<std::uint8_t>(kPackedFields + d);
  return at;
}();

// Field-order byte that child field k takes under move m.
constexpr std::uint8_t source_of(std::size_t m, std::size_t k) {
  return kFieldOrderOf[move_tables[m].from[kPackedFieldBytes[k]]];
}

// The derived corner stickers of a packed parent, byte d for corner d:
// looked up from the two stored stickers, all of which lie in the low word
// (fields 0..15).
inline std::uint64_t derived_corners(std::uint64_t lo) {
  std::uint64_t out = 0;
  for (std::size_t d = 0; d < kDerivedCorners.size(); ++d) {
    const unsigned first = kFieldOrderOf[kDerivedCorners[d].first];
    const unsigned second = kFieldOrderOf[kDerivedCorners[d].second];
    const auto a = static_cast<std::size_t>((lo >> (8 + 3 * first)) & 7);
    const auto b = static_cast<std::size_t>((lo >> (8 + 3 * second)) & 7);
    out |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(corner_third_colour[a * 8 + b]) & 7)
           << (8 * d);
  }
  return out;
}

// ---- AVX2 ----------------------------------------------------------------
//
// The parent in three 16-byte chunks, each in both halves of a 256-bit
// register. Child bytes 0..31 are the OR of one byte shuffle per chunk
// (a shuffle picks within the chunk and zeroes the bytes other chunks
// give), bytes 32..39 likewise in 128 bits.

struct alignas(32) Avx2Move {
  std::array<std::uint8_t, 32> low[3];   // child bytes 0..31 from chunk 0, 1, 2
  std::array<std::uint8_t, 16> high[3];  // child bytes 32..39 (the rest zeroed)
  std::array<std::uint8_t, 32> relabel;  // colour c to relabel[c], in both halves
};

constexpr std::array<Avx2Move, kMoveCount> kAvx2Moves = [] {
  std::array<Avx2Move, kMoveCount> all{};
  for (std::size_t m = 0; m < kMoveCount; ++m) {
    Avx2Move& t = all[m];
    for (auto& chunk : t.low) chunk.fill(0x80);
    for (auto& chunk : t.high) chunk.fill(0x80);
    for (std::size_t k = 0; k < kPackedFields; ++k) {
      const std::uint8_t src = source_of(m, k);
      const std::size_t chunk = src / 16;
      const auto within = static_cast<std::uint8_t>(src % 16);
      if (k < 32)
        t.low[chunk][k] = within;
      else
        t.high[chunk][k - 32] = within;
    }
    for (std::size_t c = 0; c < 32; ++c) t.relabel[c] = move_tables[m].relabel[c % 8];
  }
  return all;
}();

// Packed bytes 1 + 3j .. 3 + 3j into the low three bytes of 64-bit lane j
// (lanes 0..3 in `low`, lane 4 in `high`), the rest zero.
constexpr std::array<std::uint8_t, 32> kAvx2SpreadLow = [] {
  std::array<std::uint8_t, 32> s{};
  s.fill(0x80);
  for (std::size_t j = 0; j < 4; ++j)
    for (std::size_t i = 0; i < 3; ++i) s[8 * j + i] = static_cast<std::uint8_t>(1 + 3 * j + i);
  return s;
}();
constexpr std::array<std::uint8_t, 16> kAvx2SpreadHigh = [] {
  std::array<std::uint8_t, 16> s{};
  s.fill(0x80);
  for (std::size_t i = 0; i < 3; ++i) s[i] = static_cast<std::uint8_t>(13 + i);
  return s;
}();
// The 24 packed bits in the low bytes of each 64-bit lane, per 128-bit half:
// lane 0's three bytes, then lane 1's.
constexpr std::array<std::uint8_t, 32> kAvx2Gather = [] {
  std::array<std::uint8_t, 32> s{};
  s.fill(0x80);
  for (std::size_t half = 0; half < 2; ++half)
    for (std::size_t i = 0; i < 3; ++i) {
      s[16 * half + i] = static_cast<std::uint8_t>(i);
      s[16 * half + 3 + i] = static_cast<std::uint8_t>(8 + i);
    }
  return s;
}();

// 24 bits (eight 3-bit fields) in each 64-bit lane, to one field per byte.
__attribute__((target("avx2"))) inline __m256i spread_fields(__m256i x) {
  x = _mm256_and_si256(_mm256_or_si256(x, _mm256_slli_epi64(x, 20)),
                       _mm256_set1_epi64x(0x00000FFF00000FFFll));
  x = _mm256_and_si256(_mm256_or_si256(x, _mm256_slli_epi64(x, 10)),
                       _mm256_set1_epi64x(0x003F003F003F003Fll));
  return _mm256_and_si256(_mm256_or_si256(x, _mm256_slli_epi64(x, 5)),
                          _mm256_set1_epi64x(0x0707070707070707ll));
}

// One field per byte back to 24 bits in the low bits of each 64-bit lane
// (bits 32 and up hold leftovers).
__attribute__((target("avx2"))) inline __m256i join_fields(__m256i x) {
  const __m256i pairs = _mm256_maddubs_epi16(x, _mm256_set1_epi16(0x0801));
  const __m256i quads = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00400001));
  return _mm256_or_si256(quads, _mm256_srli_epi64(quads, 20));
}

template <bool kRelabel>
__attribute__((target("avx2"))) void expand_avx2(const PackedCube& parent,
                                                 const std::uint8_t* moves, unsigned count,
                                                 PackedCube* out) {
  const __m128i packed = _mm_load_si128(reinterpret_cast<const __m128i*>(&parent));
  const __m256i both = _mm256_broadcastsi128_si256(packed);
  const __m256i low = spread_fields(_mm256_shuffle_epi8(
      both, _mm256_load_si256(reinterpret_cast<const __m256i*>(kAvx2SpreadLow.data()))));
  const __m128i high_fields =
      _mm256_castsi256_si128(spread_fields(_mm256_castsi128_si256(_mm_shuffle_epi8(
          packed, _mm_load_si128(reinterpret_cast<const __m128i*>(kAvx2SpreadHigh.data()))))));
  const __m128i high =
      _mm_insert_epi64(high_fields, static_cast<long long>(derived_corners(parent.lo)), 1);
  const __m256i chunk0 = _mm256_permute2x128_si256(low, low, 0x00);
  const __m256i chunk1 = _mm256_permute2x128_si256(low, low, 0x11);
  const __m256i chunk2 = _mm256_broadcastsi128_si256(high);
  const __m256i gather = _mm256_load_si256(reinterpret_cast<const __m256i*>(kAvx2Gather.data()));
  for (unsigned j = 0; j < count; ++j) {
    const Avx2Move& t = kAvx2Moves[moves[j]];
    const auto* low_t = reinterpret_cast<const __m256i*>(t.low);
    const auto* high_t = reinterpret_cast<const __m128i*>(t.high);
    __m256i c =
        _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(chunk0, _mm256_load_si256(low_t)),
                                        _mm256_shuffle_epi8(chunk1, _mm256_load_si256(low_t + 1))),
                        _mm256_shuffle_epi8(chunk2, _mm256_load_si256(low_t + 2)));
    __m128i h = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(_mm256_castsi256_si128(chunk0), _mm_load_si128(high_t)),
                     _mm_shuffle_epi8(_mm256_castsi256_si128(chunk1), _mm_load_si128(high_t + 1))),
        _mm_shuffle_epi8(_mm256_castsi256_si128(chunk2), _mm_load_si128(high_t + 2)));
    if constexpr (kRelabel) {
      const __m256i relabel = _mm256_load_si256(reinterpret_cast<const __m256i*>(t.relabel.data()));
      c = _mm256_shuffle_epi8(relabel, c);
      h = _mm_shuffle_epi8(_mm256_castsi256_si128(relabel), h);
    }
    const __m256i joined = _mm256_shuffle_epi8(join_fields(c), gather);
    const auto a = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm256_castsi256_si128(joined)));
    const auto b =
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm256_extracti128_si256(joined, 1)));
    const auto z = static_cast<std::uint64_t>(_mm_cvtsi128_si64(
                       _mm256_castsi256_si128(join_fields(_mm256_castsi128_si256(h))))) &
                   0xFFFFFF;
    out[j].lo = moves[j] | (a << 8) | (b << 56);
    out[j].hi = (b >> 8) | (z << 40);
  }
}

// ---- AVX-512 VBMI --------------------------------------------------------
//
// The parent in one 512-bit register: a move is one byte permutation, and
// packing is two multiply-adds and one more permutation.

struct alignas(64) Avx512Move {
  std::array<std::uint8_t, 64> from;     // child byte k from parent byte from[k]
  std::array<std::uint8_t, 64> relabel;  // colour c to relabel[c], in every 128 bits
};

constexpr std::array<Avx512Move, kMoveCount> kAvx512Moves = [] {
  std::array<Avx512Move, kMoveCount> all{};
  for (std::size_t m = 0; m < kMoveCount; ++m) {
    Avx512Move& t = all[m];
    t.from.fill(63);  // byte 63 is zero
    for (std::size_t k = 0; k < kPackedFields; ++k) t.from[k] = source_of(m, k);
    for (std::size_t c = 0; c < 64; ++c) t.relabel[c] = move_tables[m].relabel[c % 8];
  }
  return all;
}();

struct alignas(64) Avx512Tables {
  std::array<std::uint8_t, 64> spread;  // packed bytes 1 + 3j .. 4 + 3j to lane j
  std::array<std::uint8_t, 64> shifts;  // bit 3i of the lane to byte i
  std::array<std::uint8_t, 64> first;   // field-order byte of each corner's first sticker
  std::array<std::uint8_t, 64> second;  // and of its second, at bytes 40..47
  std::array<std::uint8_t, 64> third;   // corner_third_colour as bytes
  std::array<std::uint8_t, 64> pack;    // each lane's 24 bits to packed bytes 1 + 3j ..
};

constexpr Avx512Tables kAvx512 = [] {
  Avx512Tables t{};
  for (std::size_t j = 0; j < 8; ++j)
    for (std::size_t i = 0; i < 8; ++i) {
      const std::size_t byte = 1 + 3 * j + i;
      t.spread[8 * j + i] = static_cast<std::uint8_t>(i < 4 && byte < 16 ? byte : 0);
      t.shifts[8 * j + i] = static_cast<std::uint8_t>(3 * i);
    }
  for (std::size_t d = 0; d < kDerivedCorners.size(); ++d) {
    t.first[kPackedFields + d] = kFieldOrderOf[kDerivedCorners[d].first];
    t.second[kPackedFields + d] = kFieldOrderOf[kDerivedCorners[d].second];
  }
  for (std::size_t i = 0; i < 64; ++i)
    t.third[i] = static_cast<std::uint8_t>(corner_third_colour[i]);
  t.pack.fill(7);  // byte 7 of each lane is zero after packing
  for (std::size_t j = 0; j < 5; ++j)
    for (std::size_t i = 0; i < 3; ++i)
      t.pack[1 + 3 * j + i] = static_cast<std::uint8_t>(8 * j + i);
  return t;
}();

#define TESSEL_AVX512 "avx512f,avx512bw,avx512vbmi"

// GCC 12 takes the undefined first operand inside some AVX-512 intrinsics
// for an uninitialized variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

__attribute__((target(TESSEL_AVX512))) inline __m512i load64(
    const std::array<std::uint8_t, 64>& a) {
  return _mm512_load_si512(a.data());
}

template <bool kRelabel>
__attribute__((target(TESSEL_AVX512))) void expand_avx512(const PackedCube& parent,
                                                          const std::uint8_t* moves, unsigned count,
                                                          PackedCube* out) {
  const __m512i seven = _mm512_set1_epi8(7);
  const __m512i packed =
      _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(&parent)));
  const __m512i fields = _mm512_and_si512(
      _mm512_multishift_epi64_epi8(load64(kAvx512.shifts),
                                   _mm512_permutexvar_epi8(load64(kAvx512.spread), packed)),
      seven);
  const __m512i index =
      _mm512_or_si512(_mm512_slli_epi16(_mm512_permutexvar_epi8(load64(kAvx512.first), fields), 3),
                      _mm512_permutexvar_epi8(load64(kAvx512.second), fields));
  const __m512i corners =
      _mm512_and_si512(_mm512_permutexvar_epi8(index, load64(kAvx512.third)), seven);
  const __m512i stickers = _mm512_mask_blend_epi8(0xFFull << kPackedFields, fields, corners);
  const __m512i pairs = _mm512_set1_epi16(0x0801);
  const __m512i quads = _mm512_set1_epi32(0x00400001);
  const __m512i pack = load64(kAvx512.pack);
  for (unsigned j = 0; j < count; ++j) {
    const Avx512Move& t = kAvx512Moves[moves[j]];
    __m512i child = _mm512_permutexvar_epi8(load64(t.from), stickers);
    if constexpr (kRelabel) child = _mm512_shuffle_epi8(load64(t.relabel), child);
    __m512i joined = _mm512_madd_epi16(_mm512_maddubs_epi16(child, pairs), quads);
    joined = _mm512_or_si512(joined, _mm512_srli_epi64(joined, 20));
    const __m128i value = _mm512_castsi512_si128(_mm512_permutexvar_epi8(pack, joined));
    out[j].lo = static_cast<std::uint64_t>(_mm_cvtsi128_si64(value)) | moves[j];
    out[j].hi = static_cast<std::uint64_t>(_mm_extract_epi64(value, 1));
  }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif  // TESSEL_X86_KERNELS

bool supported(ChildKernel kernel) {
  switch (kernel) {
    case ChildKernel::portable:
      return true;
#if defined(TESSEL_X86_KERNELS)
    case ChildKernel::avx2:
      return __builtin_cpu_supports("avx2") != 0;
    case ChildKernel::avx512:
      return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
             __builtin_cpu_supports("avx512vbmi") != 0;
#endif
    default:
      return false;
  }
}

ChildKernel fastest() {
  static const ChildKernel best = supported(ChildKernel::avx512) ? ChildKernel::avx512
                                  : supported(ChildKernel::avx2) ? ChildKernel::avx2
                                                                 : ChildKernel::portable;
  return best;
}

ChildKernel default_kernel() {
  static const ChildKernel chosen = [] {
    ChildKernel k = fastest();
    if (const char* env = std::getenv("TESSEL_KERNEL")) {
      ChildKernel wanted;
      if (child_kernel_by_name(env, wanted) && supported(wanted)) k = wanted;
    }
    return k;
  }();
  return chosen;
}

// -1: the default; else a ChildKernel set by set_child_kernel.
std::atomic<int> chosen_kernel{-1};

}  // namespace

bool child_kernel_available(ChildKernel kernel) { return supported(kernel); }

ExpandFn expand_function(ChildKernel kernel, bool relabels) {
#if defined(TESSEL_X86_KERNELS)
  if (supported(kernel)) {
    if (kernel == ChildKernel::avx2) return relabels ? expand_avx2<true> : expand_avx2<false>;
    if (kernel == ChildKernel::avx512) return relabels ? expand_avx512<true> : expand_avx512<false>;
  }
#else
  (void)kernel;
  (void)relabels;
#endif
  return expand_portable;
}

std::string_view child_kernel_name(ChildKernel kernel) {
  switch (kernel) {
    case ChildKernel::avx2:
      return "avx2";
    case ChildKernel::avx512:
      return "avx512";
    default:
      return "portable";
  }
}

bool child_kernel_by_name(std::string_view name, ChildKernel& kernel) {
  for (ChildKernel k : kAllChildKernels)
    if (child_kernel_name(k) == name) {
      kernel = k;
      return true;
    }
  return false;
}

ChildKernel child_kernel() {
  const int chosen = chosen_kernel.load(std::memory_order_relaxed);
  return chosen < 0 ? default_kernel() : static_cast<ChildKernel>(chosen);
}

bool set_child_kernel(ChildKernel kernel) {
  if (!supported(kernel)) return false;
  chosen_kernel.store(static_cast<int>(kernel), std::memory_order_relaxed);
  return true;
}

void reset_child_kernel() { chosen_kernel.store(-1, std::memory_order_relaxed); }

}  // namespace tessel
