// The progress line: nothing when switched off or during the first second,
// then one line redrawn in place and erased at the end.
#include "search/progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace tessel {
namespace {

using namespace std::chrono_literals;

struct FakeClock {
  Progress::Clock::time_point t{};
  Progress::Now now() {
    return [this] { return t; };
  }
};

TEST(Progress, SwitchedOffWritesNothing) {
  std::ostringstream err;
  FakeClock clock;
  Progress p(err, false, clock.now());
  p.begin(15, false);
  clock.t += 10s;
  p.step(2, 3, 1000);
  p.refresh();
  p.clear();
  p.end();
  EXPECT_EQ(err.str(), "");
}

TEST(Progress, QuietDuringTheFirstSecondAndErasedAtTheEnd) {
  std::ostringstream err;
  FakeClock clock;
  Progress p(err, true, clock.now());
  p.begin(15, false);
  clock.t += 900ms;
  p.refresh();
  p.step(1, 2, 100);
  EXPECT_EQ(err.str(), "");
  p.end();
  EXPECT_EQ(err.str(), "");  // never shown: nothing to erase

  p.begin(16, false);
  clock.t += 2s;
  p.step(1, 1, 4000000);
  EXPECT_EQ(err.str(), "\r16 moves: range 1 of 1, 2.0 M positions/s, 2 s\x1b[K");
  err.str("");
  p.end();
  EXPECT_EQ(err.str(), "\r\x1b[K");
}

TEST(Progress, EstimatesTheTimeLeftFromFinishedSteps) {
  std::ostringstream err;
  FakeClock clock;
  Progress p(err, true, clock.now());
  p.begin(15, false);
  clock.t += 10s;
  p.step(2, 4, 50000000);  // one step of 10 s done, three to go
  EXPECT_EQ(err.str(), "\r15 moves: range 2 of 4, 5.0 M positions/s, 10 s, about 30 s left\x1b[K");
  err.str("");
  clock.t += 5s;
  p.refresh();  // halfway through step 2
  EXPECT_EQ(err.str(), "\r15 moves: range 2 of 4, 3.3 M positions/s, 15 s, about 25 s left\x1b[K");
  err.str("");
  p.clear();
  EXPECT_EQ(err.str(), "\r\x1b[K");
  err.str("");
  p.clear();  // already erased
  EXPECT_EQ(err.str(), "");
  p.end();
  EXPECT_EQ(err.str(), "");
}

TEST(Progress, LongTimesInMinutesAndHours) {
  EXPECT_EQ(Progress::line_text(16, 3, 7, 12.34e6, 125, 3725),
            "16 moves: range 3 of 7, 12.3 M positions/s, 2 min 05 s, about 1 h 02 min left");
  EXPECT_EQ(Progress::line_text(14, 1, 1, 0, 0.4, -1), "14 moves: range 1 of 1, 0.0 M positions/s, 0 s");
}

TEST(Progress, TickingThreadStopsCleanly) {
  std::ostringstream err;
  Progress p(err, true);
  for (int i = 0; i < 20; ++i) {
    p.begin(10 + i);
    p.step(1, 1, 5);
    p.end();
  }
  EXPECT_EQ(err.str(), "");  // each length far shorter than a second
}

}  // namespace
}  // namespace tessel
