#include "search/radix_sort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace tessel {

namespace {

// Stable sort of a small range in cube-state order.
void insertion_sort(PackedCube* first, PackedCube* last) {
  for (PackedCube* i = first + 1; i < last; ++i) {
    const PackedCube v = *i;
    PackedCube* j = i;
    for (; j > first && cube_state_less(v, *(j - 1)); --j) *j = *(j - 1);
    *j = v;
  }
}

// `width` bits of the packed value starting at bit `low` (8 <= low, and
// low + width <= 128).
inline std::uint32_t bits_at(const PackedCube& c, int low, int width) {
  const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
  if (low >= 64) return static_cast<std::uint32_t>((c.hi >> (low - 64)) & mask);
  if (low + width <= 64) return static_cast<std::uint32_t>((c.lo >> low) & mask);
  return static_cast<std::uint32_t>(((c.lo >> low) | (c.hi << (64 - low))) & mask);
}

// One digit pass of a stable most-significant-digit radix sort over
// [a, a + n), whose entries agree on every bit at and above `top`: finds
// the highest digit below `top` on which they differ and distributes them
// by it into `scratch` (room for n entries), keeping their order within a
// digit. Afterwards digit d spans [end of digit d - 1, ends[d]). Returns the
// digit's low bit, or 0 when all entries hold one position (nothing moved).
struct DigitPass {
  int low = 0;
  std::size_t digits = 0;
  std::array<std::uint32_t, std::size_t{1} << 12> ends;
};

void distribute(const PackedCube* a, std::size_t n, int top, PackedCube* scratch, DigitPass& pass) {
  auto& count = pass.ends;
  for (; top > 8; top = pass.low) {
    // About a quarter as many digit values as entries, at most 4096.
    const int width = std::min({12, std::max(4, static_cast<int>(std::bit_width(n)) - 2), top - 8});
    pass.low = top - width;
    pass.digits = std::size_t{1} << width;
    std::fill_n(count.begin(), pass.digits, 0u);
    for (std::size_t i = 0; i < n; ++i) ++count[bits_at(a[i], pass.low, width)];
    // One digit value for all: nothing to move at this digit.
    std::size_t d = 0;
    while (count[d] == 0) ++d;
    if (count[d] == n) continue;
    // count[d] becomes the start of digit d, then, after the scatter, its end.
    for (std::uint32_t e = 0, sum = 0; e < pass.digits; ++e) {
      const std::uint32_t c = count[e];
      count[e] = sum;
      sum += c;
    }
    for (std::size_t i = 0; i < n; ++i) scratch[count[bits_at(a[i], pass.low, width)]++] = a[i];
    return;
  }
  pass.low = 0;
}

}  // namespace

void radix_sort(PackedCube* a, std::size_t n, int top, PackedCube* scratch) {
  if (n <= kInsertionSortMost) {
    insertion_sort(a, a + n);
    return;
  }
  DigitPass pass;
  distribute(a, n, top, scratch, pass);
  if (pass.low == 0) return;
  std::copy(scratch, scratch + n, a);
  for (std::size_t d = 0, first = 0; d < pass.digits; first = pass.ends[d++])
    if (pass.ends[d] - first > 1) radix_sort(a + first, pass.ends[d] - first, pass.low, scratch);
}

namespace {

// `width` bits of the packed value from bit `low` up (8 <= low, width <= 64,
// low + width <= 128).
inline std::uint64_t wide_bits_at(const PackedCube& c, int low, int width) {
  const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  if (low >= 64) return (c.hi >> (low - 64)) & mask;
  if (low == 0) return c.lo & mask;
  return ((c.lo >> low) | (c.hi << (64 - low))) & mask;
}

// The most-significant-digit sort of sort_bucket, for ranges the digit
// passes below cannot serve.
const PackedCube* sort_by_digits(PackedCube* a, std::size_t n, int top, PackedCube* scratch) {
  DigitPass pass;
  distribute(a, n, top, scratch, pass);
  if (pass.low == 0) return a;  // one position only: already in generation order
  // The entries now live in scratch; `a` is free to serve as scratch.
  for (std::size_t d = 0, first = 0; d < pass.digits; first = pass.ends[d++])
    if (pass.ends[d] - first > 1)
      radix_sort(scratch + first, pass.ends[d] - first, pass.low, a + first);
  return scratch;
}

// Least-significant-digit passes over the bits just below `top`: two
// digits of up to 12 bits (three for large ranges), all counted in one
// read. A digit pass of a most-significant-digit sort leaves the entries
// of a bucket in ranges of 2 to 32 (the 3-bit fields use 6 of their 8
// values, so a digit of b bits tells far fewer than 2^b groups apart), and
// sorting those ranges one by one cost more than these passes.
constexpr int kMostLowDigits = 3;
constexpr int kLowDigitBits = 12;

}  // namespace

const PackedCube* sort_bucket(PackedCube* a, std::size_t n, int top, PackedCube* scratch) {
  if (n <= kInsertionSortMost) {
    insertion_sort(a, a + n);
    return a;
  }
  const int width = std::clamp(static_cast<int>(std::bit_width(n)), 6, kLowDigitBits);
  const int passes = n > 16384 ? kMostLowDigits : kMostLowDigits - 1;
  const int low = top - width * passes;
  if (low < 8) return sort_by_digits(a, n, top, scratch);
  const std::size_t digits = std::size_t{1} << width;
  std::array<std::uint32_t, kMostLowDigits << kLowDigitBits> count;
  std::fill_n(count.begin(), static_cast<std::size_t>(passes) << width, 0u);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t bits = wide_bits_at(a[i], low, width * passes);
    for (int d = 0; d < passes; ++d)
      ++count[(static_cast<std::size_t>(d) << width) + ((bits >> (width * d)) & (digits - 1))];
  }
  PackedCube* from = a;
  PackedCube* to = scratch;
  for (int d = 0; d < passes; ++d) {
    std::uint32_t* const at = count.data() + (static_cast<std::size_t>(d) << width);
    // A digit all entries share moves nothing.
    if (std::find(at, at + digits, static_cast<std::uint32_t>(n)) != at + digits) continue;
    for (std::uint32_t v = 0, sum = 0; v < digits; ++v) {
      const std::uint32_t c = at[v];
      at[v] = sum;
      sum += c;
    }
    const int shift = low + width * d;
    for (std::size_t i = 0; i < n; ++i) to[at[bits_at(from[i], shift, width)]++] = from[i];
    std::swap(from, to);
  }
  // Entries alike in every bit the passes sorted by are sorted by the bits
  // below them; the other range serves as scratch.
  const int sorted_bits = width * passes;
  for (std::size_t i = 0; i < n;) {
    const std::uint64_t run = wide_bits_at(from[i], low, sorted_bits);
    std::size_t j = i + 1;
    while (j < n && wide_bits_at(from[j], low, sorted_bits) == run) ++j;
    if (j - i > 1) radix_sort(from + i, j - i, low, to + i);
    i = j;
  }
  return from;
}

}  // namespace tessel
