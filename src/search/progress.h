// The progress line of long searches: while one search length takes more
// than about a second, one self-erasing line on the terminal tells the
// length, the step under way (range i of K), positions per second, the time
// spent and an estimate of the time left.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace tessel {

class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // Nothing is ever written unless `enabled` (standard error is a terminal
  // and informational messages are on). `now` is for tests.
  Progress(std::ostream& err, bool enabled, Now now = Clock::now);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool enabled() const { return enabled_; }

  // A search length starts; a line appears once it has taken a second.
  // With `ticking`, a thread of its own refreshes the line every second.
  void begin(int length, bool ticking = true);
  // Step i (from 1) of k has started; `positions` counts the positions
  // built or joined by this length so far.
  void step(std::uint64_t i, std::uint64_t k, std::uint64_t positions);
  void add_positions(std::uint64_t n) { positions_.fetch_add(n, std::memory_order_relaxed); }
  // The length is done: the line, if shown, is erased.
  void end();
  // Erases the line (if shown) before other output goes to the terminal;
  // the next refresh brings it back.
  void clear();

  // Redraws the line if the length has taken long enough. The ticking
  // thread calls it; tests call it directly.
  void refresh();

  // The line's text, without the leading carriage return.
  static std::string line_text(int length, std::uint64_t i, std::uint64_t k,
                               double positions_per_second, double elapsed_seconds,
                               double left_seconds);

 private:
  void stop_ticking();
  void erase_locked();

  std::ostream& err_;
  const bool enabled_;
  const Now now_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread ticker_;
  bool running_ = false;
  bool shown_ = false;
  int length_ = 0;
  Clock::time_point started_{};
  Clock::time_point step_started_{};
  std::uint64_t step_ = 0, steps_ = 0;
  std::atomic<std::uint64_t> positions_{0};
};

}  // namespace tessel
