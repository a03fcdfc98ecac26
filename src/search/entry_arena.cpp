#include "search/entry_arena.h"

#include <unistd.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "core/failure.h"

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

// (Huge pages were measured: they cost more system time in first-touch
// faults than they save.) ThreadSanitizer does not follow pages that
// mremap moves, so its builds take the plain allocator instead.
#if defined(__linux__) && !defined(__SANITIZE_THREAD__)
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

EntryArena::EntryArena(MemoryBudget& budget, std::size_t entries) : budget_(budget) {
  const std::size_t bytes = entries * sizeof(PackedCube);
  if (budget_.remaining() < bytes) fail(kOutOfMemory);
  cubes_ = static_cast<PackedCube*>(map_entries(bytes));
  if (cubes_ == nullptr) fail(kOutOfMemory);
  budget_.take(bytes);
  capacity_ = entries;
}

EntryArena::~EntryArena() {
  unmap_entries(cubes_, capacity_ * sizeof(PackedCube));
  budget_.give_back(capacity_ * sizeof(PackedCube));
}

void EntryArena::prefault(std::size_t from, std::size_t to) {
  // Whole pages inside [from, to) only.
  constexpr std::uintptr_t kPage = 4096;
  auto first = reinterpret_cast<std::uintptr_t>(cubes_ + from);
  auto last = reinterpret_cast<std::uintptr_t>(cubes_ + to);
  first = (first + kPage - 1) & ~(kPage - 1);
  last &= ~(kPage - 1);
  if (last > first + (std::uintptr_t{1} << 20))
    prefault_entries(reinterpret_cast<void*>(first), last - first);
}

namespace {
thread_local std::size_t refused_above = 0;
}  // namespace

void refuse_arrays_above(std::size_t bytes) { refused_above = bytes; }

void EntryArena::reserve(std::size_t n) {
  if (n <= capacity_) return;
  std::size_t wanted = capacity_;
  while (wanted < n) wanted *= 2;
  // Doubled, when that leaves the budget half its room; else just what is
  // needed: the rest of the budget stays for what the search needs beside
  // its levels (the filters and kept children of its joins).
  const std::size_t room = budget_.remaining() / sizeof(PackedCube);
  if (n - capacity_ > room) fail(kOutOfMemory);
  std::size_t grown = wanted - capacity_ <= room / 2 ? wanted : n;
  const std::size_t old_bytes = capacity_ * sizeof(PackedCube);
  const auto remap = [&](std::size_t entries) -> void* {
    if (refused_above != 0 && entries * sizeof(PackedCube) > refused_above) return nullptr;
    return remap_entries(cubes_, old_bytes, entries * sizeof(PackedCube));
  };
  void* p = remap(grown);
  if (p == nullptr) {
    // Doubling did not fit: try just what is needed before giving up.
    grown = n;
    p = remap(grown);
    if (p == nullptr) fail(kOutOfMemory);
  }
  cubes_ = static_cast<PackedCube*>(p);
  budget_.take((grown - capacity_) * sizeof(PackedCube));
  capacity_ = grown;
}

void EntryArena::shrink(std::size_t n) {
  n = std::max<std::size_t>(n, 1);
  if (n >= capacity_) return;
  void* p = remap_entries(cubes_, capacity_ * sizeof(PackedCube), n * sizeof(PackedCube));
  if (p == nullptr) return;  // the memory stays taken, as before
  cubes_ = static_cast<PackedCube*>(p);
  budget_.give_back((capacity_ - n) * sizeof(PackedCube));
  capacity_ = n;
}

}  // namespace tessel
