#include "core/parallel.h"

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tessel {

namespace {

constexpr unsigned kMostThreads = 8;
std::atomic<unsigned> chosen_threads{0};

// The processors this process may run on (taskset, cpusets), else the
// machine's.
unsigned usable_processors() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
#endif
  return std::thread::hardware_concurrency();
}

}  // namespace

unsigned work_threads() {
  const unsigned chosen = chosen_threads.load(std::memory_order_relaxed);
  if (chosen != 0) return chosen;
  static const unsigned usable = std::clamp(usable_processors(), 1u, kMostThreads);
  return usable;
}

void set_work_threads(unsigned threads) {
  chosen_threads.store(std::min(threads, 64u), std::memory_order_relaxed);
}

void run_parts(unsigned parts, const std::function<void(unsigned)>& work) {
  std::vector<std::exception_ptr> thrown(parts);
  const auto run = [&work, &thrown](unsigned part) {
    try {
      work(part);
    } catch (...) {
      thrown[part] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  unsigned started = 1;
  try {
    threads.reserve(parts > 0 ? parts - 1 : 0);
    for (; started < parts; ++started) threads.emplace_back(run, started);
  } catch (const std::system_error&) {
    // No more threads: the rest run here.
  } catch (const std::bad_alloc&) {
  }
  if (parts > 0) run(0);
  for (unsigned part = started; part < parts; ++part) run(part);
  for (auto& t : threads) t.join();
  for (const auto& e : thrown)
    if (e) std::rethrow_exception(e);
}

std::vector<std::size_t> cut_evenly(std::size_t first, std::size_t last, unsigned parts) {
  std::vector<std::size_t> cut(parts + 1);
  const std::size_t size = last - first;
  for (unsigned p = 0; p <= parts; ++p)
    cut[p] = first + size / parts * p + std::min<std::size_t>(p, size % parts);
  return cut;
}

}  // namespace tessel
