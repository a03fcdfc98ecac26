// Running work in parts: every part once, failures passed on in order.
#include "core/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessel {
namespace {

TEST(RunParts, EveryPartRunsOnce) {
  for (unsigned parts : {0u, 1u, 2u, 5u, 16u}) {
    SCOPED_TRACE(std::to_string(parts) + " parts");
    std::vector<std::atomic<int>> runs(parts);
    run_parts(parts, [&runs](unsigned p) { runs[p].fetch_add(1); });
    for (unsigned p = 0; p < parts; ++p) EXPECT_EQ(runs[p].load(), 1) << "part " << p;
  }
}

TEST(RunParts, TheLowestFailingPartIsReportedAfterAllFinish) {
  std::vector<std::atomic<int>> runs(6);
  try {
    run_parts(6, [&runs](unsigned p) {
      runs[p].fetch_add(1);
      if (p == 4 || p == 2) throw std::runtime_error("part " + std::to_string(p));
    });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "part 2");
  }
  for (unsigned p = 0; p < 6; ++p) EXPECT_EQ(runs[p].load(), 1) << "part " << p;
}

TEST(CutEvenly, PiecesCoverTheRangeAndDifferByAtMostOne) {
  struct Row {
    std::size_t first, last;
    unsigned parts;
    std::vector<std::size_t> cut;
  };
  const Row rows[] = {
      {0, 10, 1, {0, 10}},        {0, 10, 3, {0, 4, 7, 10}},
      {5, 7, 4, {5, 6, 7, 7, 7}}, {100, 100, 2, {100, 100, 100}},
      {3, 11, 2, {3, 7, 11}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(cut_evenly(r.first, r.last, r.parts), r.cut)
        << r.first << ".." << r.last << " in " << r.parts;
}

TEST(WorkThreads, SettingAndRestoring) {
  const unsigned machine = work_threads();
  EXPECT_GE(machine, 1u);
  EXPECT_LE(machine, 8u);
  set_work_threads(3);
  EXPECT_EQ(work_threads(), 3u);
  set_work_threads(0);
  EXPECT_EQ(work_threads(), machine);
}

}  // namespace
}  // namespace tessel
