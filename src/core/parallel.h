// Running one piece of work in a few parts at once, for the search's large
// levels. Every part is numbered; what a part does must depend only on its
// number, so the result is the same for any number of threads.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace tessel {

// How many threads large levels are built with: the processors this
// process may run on (at most 8) unless set otherwise.
unsigned work_threads();
// Sets that number (0 restores the default). For tests and benchmarks.
void set_work_threads(unsigned threads);

// Runs work(0) .. work(parts - 1), part 0 on the calling thread and the
// others on threads of their own, and returns when all have finished. A
// part that throws does not stop the others; the first part (by number)
// that threw has its exception rethrown here. Where no thread can be
// started, the parts run one after another on the calling thread.
void run_parts(unsigned parts, const std::function<void(unsigned)>& work);

// Where each of `parts` nearly equal pieces of [first, last) starts, and
// last at the end (parts + 1 values, parts >= 1).
std::vector<std::size_t> cut_evenly(std::size_t first, std::size_t last, unsigned parts);

}  // namespace tessel
