// A set of positions that may answer "maybe" for a position it does not
// hold, never "no" for one it holds: two bits of one 64-bit word per hash
// value of the cube state (the last move is not part of it), so a test
// reads one word and a position passes by chance only when both its bits
// are set. A join of a level too large to store tests every child of that
// level against such a filter of the other side, and keeps only the few
// that pass.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "search/entry_arena.h"
#include "search/packed_cube.h"

namespace tessel {

class PositionFilter {
 public:
  // A filter for about `positions` positions, in as many words as make
  // few positions pass by chance, within a quarter of what the budget has
  // left; `forced_bits` (tests) makes it 2^forced_bits bits instead. Its
  // memory is counted against the budget. Throws Failure("ERROR: not
  // enough memory").
  PositionFilter(MemoryBudget& budget, std::uint64_t positions, int forced_bits = 0);
  ~PositionFilter();
  // Takes the other's memory, leaving it empty.
  PositionFilter(PositionFilter&& other) noexcept
      : budget_(other.budget_),
        words_(std::exchange(other.words_, nullptr)),
        bytes_(std::exchange(other.bytes_, 0)),
        words_count_(std::exchange(other.words_count_, 0)) {}
  PositionFilter(const PositionFilter&) = delete;
  PositionFilter& operator=(const PositionFilter&) = delete;

  // The most a filter sized by the budget takes: a quarter of what the
  // budget has left.
  static std::size_t most_bytes(const MemoryBudget& budget) { return budget.remaining() / 4; }
  // The bits the filter holds.
  std::uint64_t size_in_bits() const { return std::uint64_t{words_count_} * 64; }
  // About the share of the positions it does not hold that pass, once it
  // holds `held` positions: a share f of its bits is set, and a position
  // passes when both its bits are, about f * f (more where a word holds
  // more than its share).
  double chance_of_passing(std::uint64_t held) const {
    return chance_of_passing(held, static_cast<double>(size_in_bits()));
  }
  // The same for a filter of `bits` bits (not yet made).
  static double chance_of_passing(double held, double bits) {
    const double set = std::min(1.0, 2.0 * held / std::max(bits, 1.0));
    return std::min(1.0, set * set + set / 64);
  }

  // The key of a position, a mix of its cube-state bits 8..127: its word
  // (from bit 12 up: the high half of the mix scaled to the words) and its
  // two bits in that word (bits 0..5 and 6..11).
  std::uint64_t key_of(const PackedCube& c) const { return key_of_mix(mix_of(c)); }
  // The mix itself, alike for filters of every size: what is sent to the
  // process whose filter tests a position.
  static std::uint64_t mix_of(const PackedCube& c) {
    std::uint64_t x = (c.lo >> 8) ^ (c.hi * 0x9E3779B97F4A7C15ull);
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    return x;
  }
  std::uint64_t key_of_mix(std::uint64_t x) const {
    return (((x >> 32) * words_count_) >> 32 << 12) | (x & 0xFFF);
  }
  void prefetch(std::uint64_t key) const { __builtin_prefetch(words_ + (key >> 12)); }
  static std::uint64_t mask_of(std::uint64_t key) {
    return (std::uint64_t{1} << (key & 63)) | (std::uint64_t{1} << ((key >> 6) & 63));
  }
  bool may_hold_key(std::uint64_t key) const {
    const std::uint64_t mask = mask_of(key);
    return (words_[key >> 12] & mask) == mask;
  }
  bool may_hold(const PackedCube& c) const { return may_hold_key(key_of(c)); }
  // Safe on many threads at once.
  void add_key(std::uint64_t key) {
    std::atomic_ref<std::uint64_t> word(words_[key >> 12]);
    const std::uint64_t mask = mask_of(key);
    if ((word.load(std::memory_order_relaxed) & mask) != mask)
      word.fetch_or(mask, std::memory_order_relaxed);
  }
  void add(const PackedCube& c) { add_key(key_of(c)); }
  // add_key, for a filter no other thread works on meanwhile.
  void add_key_alone(std::uint64_t key) { words_[key >> 12] |= mask_of(key); }
  // Adds the positions of entries [begin, end), on every work thread;
  // `staging` as for FilterStaging.
  void add_all(const PackedCube* cubes, std::size_t begin, std::size_t end, int staging = 0);

 private:
  friend class FilterStaging;
  MemoryBudget& budget_;
  std::uint64_t* words_ = nullptr;
  std::size_t bytes_ = 0;
  std::uint64_t words_count_ = 0;  // at most 2^32
};

// Work on a large filter staged by region. Reading or setting a filter of
// gigabytes at random waits on memory for nearly every key. Staged, the keys
// of many positions are first written, each part (thread) its own, into
// slots by the region of the filter they fall in (2^15 words, 256 KiB, inside
// a core's cache; larger in filters that would have more than 4096 regions);
// each region is then read in order and worked on by one part, with every
// part's keys for it, in cache and with no atomic operation. A pass runs in
// rounds: every part stages keys until a slot is nearly full, then the
// regions are worked on, round after round.
class FilterStaging {
 public:
  // `staging`: 0 stages filters larger than the caches when the budget has
  // room for slots large enough to pay; -1 never stages; n > 0 always
  // stages, with slots of about n keys (tests).
  //
  // Staging for `parts` parts, each key with a number when `numbered` (so
  // that a test can tell a part which of its keys passed), in at most
  // `most_bytes` when not 0 (else half the filter's size) when `staging`
  // is 0. empty() when the filter is not staged.
  FilterStaging(const PositionFilter& filter, unsigned parts, bool numbered, int staging = 0,
                std::size_t most_bytes = 0);
  ~FilterStaging();
  FilterStaging(const FilterStaging&) = delete;
  FilterStaging& operator=(const FilterStaging&) = delete;

  bool empty() const { return slots_ == 0; }
  // Whether a filter is staged when `staging` is 0 (and the budget has
  // room).
  static bool stages_by_default(const PositionFilter& filter);
  // Keys a part may stage before its round must end.
  std::size_t keys_per_round() const { return regions_ * (slots_ - kMostPerStep); }

  // Part p stages keys[0..n) (of PositionFilter::key_of), numbered from
  // `number` on in the part's round when numbered. False once a key's slot
  // is nearly full: the part ends its round after the position it is at,
  // which may stage up to kMostPerStep keys in all.
  bool stage(unsigned p, const std::uint64_t* keys, unsigned n, std::uint32_t number = 0) {
    const int local_bits = local_bits_;
    const std::uint64_t local_mask = local_mask_;
    const std::size_t first = p * regions_;
    std::uint32_t* const fill = fill_.data() + first;
    Line* const lines = lines_.data() + first;
    const std::uint32_t full = slots_ - kMostPerStep;
    bool room = true;
    for (unsigned k = 0; k < n; ++k) {
      const auto r = static_cast<std::size_t>(keys[k] >> local_bits);
      const std::uint32_t at = fill[r]++;
      const std::uint64_t local = keys[k] & local_mask;
      Line& line = lines[r];
      if (numbered_) {
        line.wide[at % Line::kWide] = local | (std::uint64_t{number + k} << 32);
        if (at % Line::kWide == Line::kWide - 1) flush(line, first + r, at + 1 - Line::kWide);
      } else {
        line.narrow[at % Line::kNarrow] = static_cast<std::uint32_t>(local);
        if (at % Line::kNarrow == Line::kNarrow - 1) flush(line, first + r, at + 1 - Line::kNarrow);
      }
      room &= at + 1 < full;
    }
    return room;
  }
  static constexpr std::uint32_t kMostPerStep = 64;

  // One pass, round after round: `produce(p)` stages part p's keys of its
  // next positions until stage() says the round is full, and tells whether
  // the part has more; then every staged key is set in `filter` (the
  // filter staged), before the next round.
  void run_adding(PositionFilter& filter, const std::function<bool(unsigned)>& produce);
  // The same, except that every staged key is tested: the keys the filter
  // may hold have the bit of their number set in `passed(p)`, a bitmap of
  // part p's round that `produce(p)` cleared; then `consume(p)` takes part
  // p's results.
  void run_testing(const std::function<bool(unsigned)>& produce,
                   const std::function<std::uint64_t*(unsigned)>& passed,
                   const std::function<void(unsigned)>& consume);
  // Rounds over two stagings of the same parts at once, `adding` (set in
  // `added`, its filter) and `testing` (either may be null): `produce(p)`
  // stages into both until either is nearly full; then both are worked on
  // and `consume(p)` (when given) takes part p's results.
  static void run_together(FilterStaging* adding, PositionFilter* added, FilterStaging* testing,
                           const std::function<bool(unsigned)>& produce,
                           const std::function<std::uint64_t*(unsigned)>& passed,
                           const std::function<void(unsigned)>& consume);

 private:
  // Keys go to a slot four cache lines at a time, through lines of their
  // own written whole, past the caches: writing to a thousand slots at once
  // then costs no read of memory, and memory takes the four lines together
  // (half the time per key of one line at a time, measured).
  struct alignas(64) Line {
    static constexpr std::uint32_t kNarrow = 64, kWide = 32;
    union {
      std::uint32_t narrow[kNarrow];  // keys
      std::uint64_t wide[kWide];      // number << 32 | key
    };
  };
  void flush(const Line& line, std::size_t slot, std::uint32_t first);
  // Closes part p's round: the keys still in the lines of its slots go
  // to their slots.
  void close_round(unsigned p);
  void work(std::uint64_t* words, std::size_t first, std::size_t last,
            const std::function<std::uint64_t*(unsigned)>& passed);

  const PositionFilter& filter_;
  unsigned parts_ = 0;
  bool numbered_ = false;
  std::size_t regions_ = 0;
  std::uint32_t slots_ = 0;  // keys per slot, whole lines; 0: not staged
  int local_bits_ = 0;       // a key's bits within its region
  std::uint64_t local_mask_ = 0;
  std::optional<EntryArena> memory_;
  unsigned char* entries_ = nullptr;  // each slot's keys: slots_ of them
  std::vector<Line> lines_;           // each slot's line being filled
  std::vector<std::uint32_t> fill_;   // keys staged in each slot this round
};

}  // namespace tessel
