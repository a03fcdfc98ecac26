#include "search/level_cache.h"

#include <unistd.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/parallel.h"
#include "cube/moves.h"
#include "search/packed_moves.h"

namespace tessel {

namespace {

std::size_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return std::size_t{1} << 40;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page);
}

}  // namespace

// Leave room for the rest of the process and the system.
MemoryBudget::MemoryBudget() : limit_(physical_memory_bytes() / 8 * 7) {}

namespace {

// Cache memory comes straight from the kernel where it can: pages are
// touched only when first written, and growing remaps the pages instead of
// copying them. (Huge pages were measured: they cost more system time in
// first-touch faults than they save.)
#if defined(__linux__)
void* map_entries(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  return p;
}
void* remap_entries(void* old, std::size_t old_bytes, std::size_t bytes) {
  void* p = mremap(old, old_bytes, bytes, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return nullptr;
  return p;
}
void unmap_entries(void* p, std::size_t bytes) {
  if (p != nullptr) munmap(p, bytes);
}
// Faults in the pages of a range about to be written, in one call instead
// of one fault per page. Only a hint: failure changes nothing.
void prefault_entries(void* p, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  madvise(p, bytes, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)bytes;
#endif
}
#else
void* map_entries(std::size_t bytes) { return std::malloc(bytes); }
void* remap_entries(void* old, std::size_t, std::size_t bytes) { return std::realloc(old, bytes); }
void unmap_entries(void* p, std::size_t) { std::free(p); }
void prefault_entries(void*, std::size_t) {}
#endif

}  // namespace

growing_cache::growing_cache(MemoryBudget& budget) : budget_(budget) {
  constexpr std::size_t bytes = initial_cache_size * sizeof(PackedCube);
  if (budget_.remaining() < bytes) fail(kOutOfMemory);
  cubes_ = static_cast<PackedCube*>(map_entries(bytes));
  if (cubes_ == nullptr) fail(kOutOfMemory);
  budget_.take(bytes);
  capacity_ = initial_cache_size;
}

void growing_cache::prefault(std::size_t from, std::size_t to) {
  // Whole pages inside [from, to) only.
  constexpr std::uintptr_t kPage = 4096;
  auto first = reinterpret_cast<std::uintptr_t>(cubes_ + from);
  auto last = reinterpret_cast<std::uintptr_t>(cubes_ + to);
  first = (first + kPage - 1) & ~(kPage - 1);
  last &= ~(kPage - 1);
  if (last > first + (std::uintptr_t{1} << 20))
    prefault_entries(reinterpret_cast<void*>(first), last - first);
}

growing_cache::~growing_cache() {
  unmap_entries(cubes_, capacity_ * sizeof(PackedCube));
  budget_.give_back(capacity_ * sizeof(PackedCube));
}

void growing_cache::reserve(std::size_t n) {
  if (n <= capacity_) return;
  std::size_t wanted = capacity_;
  while (wanted < n) wanted *= 2;
  const std::size_t room = budget_.remaining() / sizeof(PackedCube);
  std::size_t grown = std::min(wanted, capacity_ + room);
  if (grown < n) fail(kOutOfMemory);
  const std::size_t old_bytes = capacity_ * sizeof(PackedCube);
  void* p = remap_entries(cubes_, old_bytes, grown * sizeof(PackedCube));
  if (p == nullptr) {
    // Doubling did not fit: try just what is needed before giving up.
    grown = n;
    p = remap_entries(cubes_, old_bytes, grown * sizeof(PackedCube));
    if (p == nullptr) fail(kOutOfMemory);
  }
  cubes_ = static_cast<PackedCube*>(p);
  budget_.take((grown - capacity_) * sizeof(PackedCube));
  capacity_ = grown;
}

namespace {

// Copies [from, from + n), sorted in cube-state order, to `to`, keeping in
// every run of one position only the first entry of each last move; returns
// the number kept. `to` may be `from` or lie before it. Checks the order on
// the way: `index` is where from[0] stands in the cache, for the report.
std::size_t copy_first_per_move(const PackedCube* from, std::size_t n, PackedCube* to,
                                std::size_t index) {
  std::size_t out = 0;
  std::size_t i = 0;
  while (i < n) {
    std::uint64_t seen = 0;
    const PackedCube head = from[i];
    for (; i < n && same_cube_state(from[i], head); ++i) {
      const std::uint64_t bit = std::uint64_t{1} << (unpack_last_move(from[i]) & 63);
      if (seen & bit) continue;
      seen |= bit;
      to[out++] = from[i];
    }
    if (i < n && !cube_state_less(head, from[i]))
      fail("ERROR: Bug found,SORTING FAILURE at i = " + std::to_string(index + i - 1) + "\n");
  }
  return out;
}

}  // namespace

std::size_t remove_duplicates(PackedCube* cubes, std::size_t begin, std::size_t end) {
  if (end <= begin) return begin;
  return begin + copy_first_per_move(cubes + begin, end - begin, cubes + begin, begin);
}

bool is_sorted_by_cube_state(const PackedCube* cubes, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i + 1 < end; ++i)
    if (cube_state_less(cubes[i + 1], cubes[i])) return false;
  return true;
}

namespace {

// Moves each parent may be expanded by: the distinct legal moves in list
// order, less those the pruning rule forbids after the parent's last move.
struct MoveChoice {
  std::array<std::array<std::uint8_t, kMoveCount>, kMoveCount> after{};
  std::array<std::uint8_t, kMoveCount> count_after{};
  std::array<std::uint8_t, kMoveCount> root{};
  std::uint8_t root_count = 0;
  // Moves known never to leave a cube of this search unchanged.
  std::array<bool, kMoveCount> never_unchanged{};

  MoveChoice(const LegalMoves& legal, int direction, bool distinct_pieces) {
    for (std::size_t m = 0; m < kMoveCount; ++m)
      never_unchanged[m] = distinct_pieces && !packed_moves[m].relabels;
    std::uint64_t seen = 0;
    for (int m : legal.moves()) {
      const std::uint64_t bit = std::uint64_t{1} << m;
      if (seen & bit) continue;
      seen |= bit;
      root[root_count++] = static_cast<std::uint8_t>(m);
      for (int p = 0; p < kMoveCount; ++p)
        if (!is_forbidden_pair(m, p, direction))
          after[static_cast<std::size_t>(p)][count_after[static_cast<std::size_t>(p)]++] =
              static_cast<std::uint8_t>(m);
    }
  }
};

// Whether every piece of the cube is a real piece and no two pieces are
// alike. Then no face turn can leave the cube (or any cube reached from it)
// unchanged: that would need four alike pieces in one turning layer.
bool pieces_all_distinct(const Cube& cube) {
  // A piece as the set of its colours, one bit per colour.
  const auto colours = [&cube](const auto& stickers) {
    unsigned set = 0;
    for (int s : stickers) set |= 1u << (cube[s] & 7u);
    return set;
  };
  const Cube solved = full_cube();
  const auto solved_colours = [&solved](const auto& stickers) {
    unsigned set = 0;
    for (int s : stickers) set |= 1u << solved[s];
    return set;
  };
  std::uint64_t wanted = 0, found = 0;
  for (std::size_t k = 0; k < edge_pieces.size(); ++k) {
    for (std::size_t j = 0; j < edge_pieces.size(); ++j)
      if (colours(edge_pieces[k]) == solved_colours(edge_pieces[j])) found |= std::uint64_t{1} << j;
    wanted |= std::uint64_t{1} << k;
  }
  for (std::size_t k = 0; k < corner_pieces.size(); ++k) {
    for (std::size_t j = 0; j < corner_pieces.size(); ++j)
      if (colours(corner_pieces[k]) == solved_colours(corner_pieces[j]))
        found |= std::uint64_t{1} << (12 + j);
    wanted |= std::uint64_t{1} << (12 + k);
  }
  return found == wanted;
}

// Calls sink(child) for every child of [start, end), in generation order:
// parent index, then legal-list position. Moves that change nothing are
// skipped: a child equal to its parent in cube-state order is the same cube.
// With kTopOnly the sink gets only the child's high word, exact in its top
// bits, computed from a few fields where no check for an unchanged cube is
// needed.
template <bool kTopOnly, typename Sink>
void for_each_child(const PackedCube* cubes, std::size_t start, std::size_t end,
                    const MoveChoice& choice, Sink&& sink) {
  Cube parent;
  for (std::size_t i = start; i < end; ++i) {
    const PackedCube packed = cubes[i];
    int previous = 0;
    unpack_ce(parent, previous, packed);
    const std::uint8_t* moves;
    unsigned count;
    if (i == 0) {
      moves = choice.root.data();
      count = choice.root_count;
    } else {
      const auto p = static_cast<std::size_t>(previous < kMoveCount ? previous : 0);
      moves = choice.after[p].data();
      count = choice.count_after[p];
    }
    for (unsigned j = 0; j < count; ++j) {
      const int m = moves[j];
      const auto mi = static_cast<std::size_t>(m);
      if constexpr (kTopOnly) {
        if (choice.never_unchanged[mi]) {
          sink(packed_child_top_functions[mi](parent, packed));
          continue;
        }
      }
      const PackedCube child = packed_child_functions[mi](parent, packed);
      if (!choice.never_unchanged[mi] && same_cube_state(child, packed)) continue;
      if constexpr (kTopOnly)
        sink(child.hi);
      else
        sink(child);
    }
  }
}

// Children are distributed by the top bits of the packed value (the high
// bits of the cube-state order) into buckets laid out in bucket order:
// 16 bits for large levels, 8 for small ones (where clearing 65536
// counters would cost more than the level).
constexpr int kLargeBucketBits = 16;
constexpr int kSmallBucketBits = 8;

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

// Stable radix sort of [a, a + n) in cube-state order, for entries that
// agree at and above bit `top`, through `scratch`; small ranges finish
// with insertion sort.
void radix_sort(PackedCube* a, std::size_t n, int top, PackedCube* scratch) {
  if (n <= 32) {
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

// The same sort, except that the first digit pass leaves its result in
// `scratch` instead of copying it back. Returns where the sorted entries
// are: `a` or `scratch`.
const PackedCube* sort_bucket(PackedCube* a, std::size_t n, int top, PackedCube* scratch) {
  if (n <= 32) {
    insertion_sort(a, a + n);
    return a;
  }
  DigitPass pass;
  distribute(a, n, top, scratch, pass);
  if (pass.low == 0) return a;  // one position only: already in generation order
  // The entries now live in scratch; `a` is free to serve as scratch.
  for (std::size_t d = 0, first = 0; d < pass.digits; first = pass.ends[d++])
    if (pass.ends[d] - first > 1)
      radix_sort(scratch + first, pass.ends[d] - first, pass.low, a + first);
  return scratch;
}

// Levels with fewer possible children than this are built on one thread:
// starting threads would cost more than it saves.
constexpr std::size_t kPartedChildren = std::size_t{1} << 18;

}  // namespace

// A level is built in parts that may run at once: part p expands its own
// slice of the parents, and afterwards sorts its own range of buckets. The
// children of one bucket are laid out part by part, so every bucket still
// holds its children in generation order, whatever the number of parts.
std::size_t generate_new_level(growing_cache& cache, std::size_t start, std::size_t end,
                               int direction, const LegalMoves& legal) {
  const MoveChoice choice(legal, direction, pieces_all_distinct(unpack_cube(cache.cubes()[0])));
  const std::size_t base = end + 1;
  const std::size_t most_children = (end - start) * choice.root_count;
  const int bucket_bits =
      most_children < (std::size_t{1} << 16) ? kSmallBucketBits : kLargeBucketBits;
  const std::size_t buckets = std::size_t{1} << bucket_bits;
  const int bucket_shift = 64 - bucket_bits;
  const unsigned parts = most_children < kPartedChildren ? 1u : work_threads();

  // Pass 1: count the children of every bucket, per part.
  const std::vector<std::size_t> parents = cut_evenly(start, end, parts);
  // Parts allocate nothing: a thread's first allocation would set up a
  // memory arena of its own, which costs address space.
  std::vector<std::vector<std::uint64_t>> next(parts, std::vector<std::uint64_t>(buckets, 0));
  run_parts(parts, [&](unsigned p) {
    std::uint64_t* const count = next[p].data();
    for_each_child<true>(cache.cubes(), parents[p], parents[p + 1], choice,
                         [count, bucket_shift](std::uint64_t hi) { ++count[hi >> bucket_shift]; });
  });
  // Bucket b spans [bucket[b], bucket[b + 1]); within it, part p writes
  // from next[p][b] on.
  std::vector<std::uint64_t> bucket(buckets + 1, 0);
  for (std::size_t b = 0; b < buckets; ++b) {
    std::uint64_t at = bucket[b];
    for (unsigned p = 0; p < parts; ++p) {
      const std::uint64_t n = next[p][b];
      next[p][b] = at;
      at += n;
    }
    bucket[b + 1] = at;
  }
  const std::size_t total = bucket[buckets];
  cache.reserve(base + total + 1);
  cache.add_generated(total);
  {
    const std::vector<std::size_t> pages = cut_evenly(base, base + total, parts);
    run_parts(parts, [&](unsigned p) { cache.prefault(pages[p], pages[p + 1]); });
  }

  // Pass 2: every part writes its children into their buckets.
  PackedCube* const level = cache.cubes() + base;
  run_parts(parts, [&](unsigned p) {
    std::uint64_t* const at = next[p].data();
    for_each_child<false>(
        cache.cubes(), parents[p], parents[p + 1], choice,
        [at, level, bucket_shift](const PackedCube& c) { level[at[c.hi >> bucket_shift]++] = c; });
  });
  next = {};

  // Sort each bucket, then keep the first entry per last move in every run
  // of one position. Every part compacts its buckets towards the start of
  // its range; the ranges are then closed up.
  const std::vector<std::size_t> shares = cut_evenly(0, total, parts);
  std::vector<std::size_t> first_bucket(parts + 1, buckets);
  first_bucket[0] = 0;
  for (unsigned p = 1, b = 0; p < parts; ++p) {
    while (b < buckets && bucket[b] < shares[p]) ++b;
    first_bucket[p] = b;
  }
  std::vector<std::size_t> kept(parts, 0);
  std::vector<std::vector<PackedCube>> scratches(parts);
  for (unsigned p = 0; p < parts; ++p) {
    std::size_t largest = 0;
    for (std::size_t b = first_bucket[p]; b < first_bucket[p + 1]; ++b)
      largest = std::max<std::size_t>(largest, bucket[b + 1] - bucket[b]);
    scratches[p].resize(largest > 32 ? largest : 0);
  }
  run_parts(parts, [&](unsigned p) {
    PackedCube* const scratch = scratches[p].data();
    const std::size_t from = bucket[first_bucket[p]];
    std::size_t out = from;
    for (std::size_t b = first_bucket[p]; b < first_bucket[p + 1]; ++b) {
      const std::size_t first = bucket[b], last = bucket[b + 1];
      if (first == last) continue;
      const PackedCube* sorted =
          sort_bucket(level + first, last - first, 128 - bucket_bits, scratch);
      out += copy_first_per_move(sorted, last - first, level + out, base + first);
    }
    kept[p] = out - from;
  });
  std::size_t out = kept[0];
  for (unsigned p = 1; p < parts; ++p) {
    const std::size_t from = bucket[first_bucket[p]];
    if (out != from && kept[p] != 0)
      std::memmove(static_cast<void*>(level + out), level + from, kept[p] * sizeof(PackedCube));
    out += kept[p];
  }
  const std::size_t new_end = base + out;
  cache.set_used(new_end);
  return new_end;
}

}  // namespace tessel
