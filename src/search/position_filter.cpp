#include "search/position_filter.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdlib>

#include "core/failure.h"
#include "core/parallel.h"

namespace tessel {

namespace {

constexpr int kFewestBits = 12;
constexpr int kMostBits = 38;
// Bits per position the filter aims at: then about 1 in 57 positions of
// the level tested passes without being held. (32 bits, 1 in 200, were
// slower: the filter's reads are what a sift waits on, and a smaller
// filter is more often in cache.)
constexpr std::uint64_t kBitsPerPosition = 16;

// Filters are read at random: huge pages save a page-table walk on
// nearly every test.
void* map_filter(std::size_t bytes) {
#if defined(__linux__)
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
  madvise(p, bytes, MADV_HUGEPAGE);
#endif
  return p;
#else
  return std::calloc(bytes, 1);
#endif
}

void unmap_filter(void* p, std::size_t bytes) {
#if defined(__linux__)
  if (p != nullptr) munmap(p, bytes);
#else
  (void)bytes;
  std::free(p);
#endif
}

}  // namespace

PositionFilter::PositionFilter(MemoryBudget& budget, std::uint64_t positions, int forced_bits)
    : budget_(budget) {
  int bits = kFewestBits;
  if (forced_bits > 0) {
    bits = forced_bits < 7 ? 7 : forced_bits > kMostBits ? kMostBits : forced_bits;
  } else {
    const std::uint64_t wanted = positions > (~std::uint64_t{0} / kBitsPerPosition)
                                     ? ~std::uint64_t{0}
                                     : positions * kBitsPerPosition;
    const std::size_t allowed = budget.remaining() / 4;
    while (bits < kMostBits && (std::uint64_t{1} << bits) < wanted &&
           (std::uint64_t{1} << (bits + 1)) / 8 <= allowed)
      ++bits;
  }
  bytes_ = (std::size_t{1} << bits) / 8;
  if (budget.remaining() < bytes_) fail(kOutOfMemory);
  words_ = static_cast<std::uint64_t*>(map_filter(bytes_));
  if (words_ == nullptr) fail(kOutOfMemory);
  budget_.take(bytes_);
  bits_ = bits;
  shift_ = 64 - (bits - 6);  // the word of a position: bits - 6 bits
}

PositionFilter::~PositionFilter() {
  unmap_filter(words_, bytes_);
  budget_.give_back(bytes_);
}

void PositionFilter::add_all(const PackedCube* cubes, std::size_t begin, std::size_t end) {
  constexpr std::size_t kPartedAdds = std::size_t{1} << 18;
  const unsigned parts = end - begin < kPartedAdds ? 1u : work_threads();
  const std::vector<std::size_t> cuts = cut_evenly(begin, end, parts);
  run_parts(parts, [&](unsigned p) {
    constexpr std::size_t kAhead = 16;
    const std::size_t last = cuts[p + 1];
    for (std::size_t i = cuts[p]; i < last; ++i) {
      if (i + kAhead < last) prefetch(key_of(cubes[i + kAhead]));
      add(cubes[i]);
    }
  });
}

}  // namespace tessel
