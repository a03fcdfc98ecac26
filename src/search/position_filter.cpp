#include "search/position_filter.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/failure.h"
#include "core/parallel.h"

namespace tessel {

namespace {

constexpr int kFewestBits = 12;
constexpr int kMostBits = 38;  // 2^32 words
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
  std::uint64_t words = std::uint64_t{1} << (kFewestBits - 6);
  if (forced_bits > 0) {
    words = std::uint64_t{1} << (std::clamp(forced_bits, 7, kMostBits) - 6);
  } else {
    const std::uint64_t most_words = std::uint64_t{1} << (kMostBits - 6);
    const std::uint64_t wanted = positions >= most_words * 64 / kBitsPerPosition
                                     ? most_words
                                     : (positions * kBitsPerPosition + 63) / 64;
    const std::uint64_t allowed = most_bytes(budget) / sizeof(std::uint64_t);
    words = std::max(words, std::min(wanted, allowed));
  }
  bytes_ = static_cast<std::size_t>(words * sizeof(std::uint64_t));
  if (budget.remaining() < bytes_) fail(kOutOfMemory);
  words_ = static_cast<std::uint64_t*>(map_filter(bytes_));
  if (words_ == nullptr) fail(kOutOfMemory);
  budget_.take(bytes_);
  words_count_ = words;
}

PositionFilter::~PositionFilter() {
  unmap_filter(words_, bytes_);
  budget_.give_back(bytes_);
}

void PositionFilter::add_all(const PackedCube* cubes, std::size_t begin, std::size_t end,
                             int staging) {
  constexpr std::size_t kPartedAdds = std::size_t{1} << 18;
  const unsigned parts = end - begin < kPartedAdds ? 1u : work_threads();
  const std::vector<std::size_t> cuts = cut_evenly(begin, end, parts);
  FilterStaging staged(*this, parts, false, staging);
  if (!staged.empty()) {
    std::vector<std::size_t> at(cuts.begin(), cuts.end() - 1);
    staged.run_adding(*this, [&](unsigned p) {
      std::size_t i = at[p];
      const std::size_t last = cuts[p + 1];
      for (bool room = true; room && i < last; ++i) {
        const std::uint64_t key = key_of(cubes[i]);
        room = staged.stage(p, &key, 1);
      }
      at[p] = i;
      return i < last;
    });
    return;
  }
  run_parts(parts, [&](unsigned p) {
    constexpr std::size_t kAhead = 16;
    const std::size_t last = cuts[p + 1];
    for (std::size_t i = cuts[p]; i < last; ++i) {
      if (i + kAhead < last) prefetch(key_of(cubes[i + kAhead]));
      add(cubes[i]);
    }
  });
}

namespace {

// Filters this large or smaller stay in the caches: staging them costs
// more than it saves.
constexpr std::size_t kMostUnstagedBytes = std::size_t{16} << 20;
constexpr int kRegionWordBits = 15;  // 256 KiB
// Regions are made larger rather than more numerous than this: each part
// fills a line per region at once, and those lines must stay in cache.
constexpr int kMostRegionBits = 12;
constexpr std::uint32_t kMostSlots = 65536;
constexpr std::uint32_t kLeastSlots = 1024;

}  // namespace

FilterStaging::FilterStaging(const PositionFilter& filter, unsigned parts, bool numbered,
                             int staging, std::size_t most_bytes)
    : filter_(filter), parts_(parts), numbered_(numbered) {
  if (staging < 0 || parts == 0) return;
  // Regions of 2^region_bits words, or larger ones where there would be
  // too many; the last may hold fewer words.
  int word_bits = 0;
  while ((std::uint64_t{1} << word_bits) < filter.words_count_) ++word_bits;
  const int region_bits =
      std::min(word_bits, std::max(kRegionWordBits, word_bits - kMostRegionBits));
  regions_ = static_cast<std::size_t>(((filter.words_count_ - 1) >> region_bits) + 1);
  local_bits_ = 12 + region_bits;
  local_mask_ = (std::uint64_t{1} << local_bits_) - 1;
  const std::size_t per_key = numbered ? sizeof(std::uint64_t) : sizeof(std::uint32_t);
  const std::size_t per_line = sizeof(Line) / per_key;
  std::size_t slots = 0;
  if (staging > 0) {
    // As asked, within an eighth of what the budget has left.
    const std::size_t most = filter.budget_.remaining() / 8 / (per_key * parts * regions_);
    slots = std::min<std::size_t>(static_cast<std::size_t>(staging) + kMostPerStep, most);
    if (slots <= kMostPerStep) return;
  } else {
    if (filter.bytes_ <= kMostUnstagedBytes) return;
    // At most half the filter's size (or most_bytes), and an eighth of
    // what is left.
    const std::size_t bytes = std::min(most_bytes != 0 ? most_bytes : filter.bytes_ / 2,
                                       filter.budget_.remaining() / 8);
    slots = std::min<std::size_t>(kMostSlots, bytes / (per_key * parts * regions_));
    if (slots < kLeastSlots) return;
  }
  slots = (slots + per_line - 1) / per_line * per_line;
  const std::size_t bytes = parts * regions_ * slots * per_key;
  memory_.emplace(filter.budget_, (bytes + sizeof(PackedCube) - 1) / sizeof(PackedCube));
  entries_ = reinterpret_cast<unsigned char*>(memory_->data());
  lines_.resize(parts * regions_);
  fill_.assign(parts * regions_, 0);
  slots_ = static_cast<std::uint32_t>(slots);
}

FilterStaging::~FilterStaging() = default;

bool FilterStaging::stages_by_default(const PositionFilter& filter) {
  return filter.bytes_ > kMostUnstagedBytes;
}

void FilterStaging::flush(const Line& line, std::size_t slot, std::uint32_t first) {
  const std::size_t per_key = numbered_ ? sizeof(std::uint64_t) : sizeof(std::uint32_t);
  unsigned char* const to = entries_ + (slot * slots_ + first) * per_key;
#if defined(__SSE2__)
  const auto* from = reinterpret_cast<const __m128i*>(&line);
  auto* out = reinterpret_cast<__m128i*>(to);
  for (std::size_t k = 0; k < sizeof(Line) / sizeof(__m128i); ++k)
    _mm_stream_si128(out + k, _mm_load_si128(from + k));
#else
  std::memcpy(to, &line, sizeof line);
#endif
}

void FilterStaging::run_adding(PositionFilter& filter,
                               const std::function<bool(unsigned)>& produce) {
  run_together(this, &filter, nullptr, produce, {}, {});
}

void FilterStaging::run_testing(const std::function<bool(unsigned)>& produce,
                                const std::function<std::uint64_t*(unsigned)>& passed,
                                const std::function<void(unsigned)>& consume) {
  run_together(nullptr, nullptr, this, produce, passed, consume);
}

void FilterStaging::close_round(unsigned p) {
  const std::size_t per_key = numbered_ ? sizeof(std::uint64_t) : sizeof(std::uint32_t);
  const auto per_line = static_cast<std::uint32_t>(sizeof(Line) / per_key);
  for (std::size_t slot = p * regions_; slot < (p + 1) * regions_; ++slot) {
    const std::uint32_t n = fill_[slot];
    const std::uint32_t left = n % per_line;
    std::memcpy(entries_ + (slot * slots_ + n - left) * per_key, &lines_[slot], left * per_key);
  }
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

void FilterStaging::run_together(FilterStaging* adding, PositionFilter* added,
                                 FilterStaging* testing,
                                 const std::function<bool(unsigned)>& produce,
                                 const std::function<std::uint64_t*(unsigned)>& passed,
                                 const std::function<void(unsigned)>& consume) {
  if (adding != nullptr && &adding->filter_ != added)
    fail("ERROR: Bug found, keys staged for another filter\n");
  FilterStaging* const both[2] = {adding, testing};
  const unsigned parts = adding != nullptr ? adding->parts_ : testing->parts_;
  std::vector<unsigned char> more(parts, 1);
  const std::vector<std::size_t> adding_shares =
      cut_evenly(0, adding != nullptr ? adding->regions_ : 0, parts);
  const std::vector<std::size_t> testing_shares =
      cut_evenly(0, testing != nullptr ? testing->regions_ : 0, parts);
  for (;;) {
    for (FilterStaging* s : both)
      if (s != nullptr) std::fill(s->fill_.begin(), s->fill_.end(), 0);
    run_parts(parts, [&](unsigned p) {
      more[p] = more[p] != 0 && produce(p) ? 1 : 0;
      for (FilterStaging* s : both)
        if (s != nullptr) s->close_round(p);
    });
    run_parts(parts, [&](unsigned p) {
      if (adding != nullptr)
        adding->work(added->words_, adding_shares[p], adding_shares[p + 1], passed);
      if (testing != nullptr)
        testing->work(nullptr, testing_shares[p], testing_shares[p + 1], passed);
    });
    if (consume) run_parts(parts, consume);
    if (std::none_of(more.begin(), more.end(), [](unsigned char m) { return m != 0; })) break;
  }
}

void FilterStaging::work(std::uint64_t* adding, std::size_t first, std::size_t last,
                         const std::function<std::uint64_t*(unsigned)>& passed) {
  const int region_bits = local_bits_ - 12;
  const std::size_t region_words = std::size_t{1} << region_bits;
  for (std::size_t r = first; r < last; ++r) {
    const std::uint64_t* const words = filter_.words_ + (r << region_bits);
    // The region is read whole: read it in order first, which the
    // processor streams, rather than line by line at random.
    // Only when its keys are many: a few are cheaper read at random.
    const std::size_t held =
        std::min<std::uint64_t>(region_words, filter_.words_count_ - (r << region_bits));
    std::uint64_t keys = 0;
    for (unsigned p = 0; p < parts_; ++p) keys += fill_[p * regions_ + r];
    if (keys >= held / 16) {
      std::uint64_t sum = 0;
      for (std::size_t w = 0; w < held; w += 8) sum += words[w];
      volatile std::uint64_t read = sum;
      (void)read;
    }
    for (unsigned p = 0; p < parts_; ++p) {
      const std::size_t slot = p * regions_ + r;
      const std::uint32_t n = fill_[slot];
      if (!numbered_) {
        const auto* const keys = reinterpret_cast<const std::uint32_t*>(entries_) + slot * slots_;
        if (adding != nullptr) {
          std::uint64_t* const region = adding + (r << region_bits);
          for (std::uint32_t k = 0; k < n; ++k)
            region[keys[k] >> 12] |= PositionFilter::mask_of(keys[k]);
        }
        continue;
      }
      const auto* const keys = reinterpret_cast<const std::uint64_t*>(entries_) + slot * slots_;
      std::uint64_t* const bits = passed(p);
      for (std::uint32_t k = 0; k < n; ++k) {
        const auto key = static_cast<std::uint32_t>(keys[k]);
        const std::uint64_t mask = PositionFilter::mask_of(key);
        if ((words[key >> 12] & mask) != mask) continue;
        const auto number = static_cast<std::uint32_t>(keys[k] >> 32);
        // Several parts' regions mark one part's results.
        std::atomic_ref<std::uint64_t> word(bits[number >> 6]);
        word.fetch_or(std::uint64_t{1} << (number & 63), std::memory_order_relaxed);
      }
    }
  }
}

}  // namespace tessel
