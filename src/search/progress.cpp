#include "search/progress.h"

#include <cstdio>
#include <system_error>

namespace tessel {

namespace {

constexpr auto kQuiet = std::chrono::seconds(1);
constexpr const char* kErase = "\r\x1b[K";

std::string seconds_text(double s) {
  char buf[32];
  if (s < 60)
    std::snprintf(buf, sizeof buf, "%.0f s", s);
  else if (s < 3600)
    std::snprintf(buf, sizeof buf, "%d min %02d s", static_cast<int>(s) / 60,
                  static_cast<int>(s) % 60);
  else
    std::snprintf(buf, sizeof buf, "%d h %02d min", static_cast<int>(s) / 3600,
                  static_cast<int>(s) / 60 % 60);
  return buf;
}

}  // namespace

Progress::Progress(std::ostream& err, bool enabled, Now now)
    : err_(err), enabled_(enabled), now_(std::move(now)) {}

Progress::~Progress() { end(); }

std::string Progress::line_text(int length, std::uint64_t i, std::uint64_t k,
                                double positions_per_second, double elapsed_seconds,
                                double left_seconds) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%d moves: range %llu of %llu, %.1f M positions/s, %s", length,
                static_cast<unsigned long long>(i), static_cast<unsigned long long>(k),
                positions_per_second / 1e6, seconds_text(elapsed_seconds).c_str());
  std::string line = buf;
  if (left_seconds >= 0) line += ", about " + seconds_text(left_seconds) + " left";
  return line;
}

void Progress::begin(int length, bool ticking) {
  if (!enabled_) return;
  end();
  std::lock_guard lock(mutex_);
  length_ = length;
  started_ = step_started_ = now_();
  step_ = 1;
  steps_ = 1;
  positions_.store(0, std::memory_order_relaxed);
  running_ = true;
  if (ticking) {
    try {
      ticker_ = std::thread([this] {
        std::unique_lock lk(mutex_);
        while (running_) {
          wake_.wait_for(lk, kQuiet);
          if (!running_) break;
          lk.unlock();
          refresh();
          lk.lock();
        }
      });
    } catch (const std::system_error&) {
      // No thread: the line is refreshed at every step only.
    }
  }
}

void Progress::step(std::uint64_t i, std::uint64_t k, std::uint64_t positions) {
  if (!enabled_) return;
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    step_ = i;
    steps_ = k;
    step_started_ = now_();
    positions_.store(positions, std::memory_order_relaxed);
  }
  refresh();
}

void Progress::refresh() {
  std::lock_guard lock(mutex_);
  if (!running_) return;
  const auto t = now_();
  if (t - started_ < kQuiet) return;
  const double elapsed = std::chrono::duration<double>(t - started_).count();
  const double before_step = std::chrono::duration<double>(step_started_ - started_).count();
  const double rate = static_cast<double>(positions_.load(std::memory_order_relaxed)) / elapsed;
  // Steps are of about one size: the time per finished step times the
  // steps still to come.
  double left = -1;
  if (step_ > 1 && steps_ >= step_)
    left = before_step / static_cast<double>(step_ - 1) * static_cast<double>(steps_ - step_ + 1) -
           (elapsed - before_step);
  if (left < 0 && step_ > 1) left = 0;
  err_ << '\r' << line_text(length_, step_, steps_, rate, elapsed, left) << "\x1b[K";
  err_.flush();
  shown_ = true;
}

void Progress::erase_locked() {
  if (!shown_) return;
  err_ << kErase;
  err_.flush();
  shown_ = false;
}

void Progress::clear() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  erase_locked();
}

void Progress::stop_ticking() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void Progress::end() {
  if (!enabled_) return;
  stop_ticking();
  std::lock_guard lock(mutex_);
  erase_locked();
}

}  // namespace tessel
