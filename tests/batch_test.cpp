// Searches in one session take the stored levels of earlier searches' sides
// when their roots, direction and legal moves are the same. Whatever is
// kept, every search must print exactly what it prints in a session of its
// own.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/failure.h"
#include "cube/masks.h"
#include "search/drivers.h"
#include "search/session.h"
#include "test_util.h"

namespace tessel {
namespace {

struct BatchCase {
  const char* name;
  std::vector<std::string> searches;  // each a whole input of its own
};

void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

// A whole search of its own: the cubes, then every setting a search reads,
// so that a session running several gives each the settings it has alone.
std::string search(const std::string& cubes, const char* gen, int d, const char* command = "solve",
                   int n = 1000000, int da = -1, const char* auf = "off") {
  return cubes + " set_gen " + gen + " set_auf " + auf + " set d " + std::to_string(d) + " set n " +
         std::to_string(n) + " set da " + std::to_string(da) + " " + command;
}

const std::string kOll = "init_empty_cube add_f2l add_corners_orientation add_edges_orientation ";
const std::string kFull = "init_full_cube ";
constexpr const char* kAll = "RUFLDB";

std::vector<BatchCase> batch_cases() {
  return {
      {"oll_cases_with_repeats",
       {search(kOll + "R U R' U R U2 R'", "RUF", 11), search(kOll + "F R U R' U' F'", "RUF", 11),
        search(kOll + "F R U R' U' F'", "RUF", 11),
        search(kOll + "U R U2 R' U' R U' R'", "RUF", 11),
        search(kOll + "R U R' U R U2 R'", "RUF", 11)}},
      {"deeper_then_shallower",
       {search(kFull + "R U F' L", kAll, 9), search(kFull + "R U F' L", kAll, 6),
        search(kFull + "R U F' L", kAll, 10), search(kFull + "R U F' L", kAll, 10)}},
      {"other_scrambles_one_target",
       {search(kFull + "R U F'", kAll, 8), search(kFull + "L D B", kAll, 8),
        search(kFull + "R U F'", kAll, 9), search(kFull + "F2 U' R", kAll, 7)}},
      {"limits_stop_early",
       {search(kFull + "R U F' L2", kAll, 10, "solve", 3),
        search(kFull + "R U F' L2", kAll, 10, "solve", 50),
        search(kFull + "R U F' L2", kAll, 10, "solve", 1000000, 1),
        search(kFull + "R U F' L2", kAll, 10), search(kFull + "R U F' L2", kAll, 10, "solve", 0)}},
      {"other_moves_same_target",
       {search(kFull + "R U R' U'", "RU", 10), search(kFull + "R U R' U'", "RUF", 8),
        search(kFull + "R U R' U'", "RU", 10), search(kFull + "R U R' U'", kAll, 8)}},
      {"auf_changes_the_roots",
       {search(kOll + "R U R' U R U2 R'", "RUF", 10),
        search(kOll + "R U R' U R U2 R'", "RUF", 10, "solve", 1000000, -1, "post"),
        search(kOll + "R U R' U R U2 R'", "RUF", 10, "solve", 1000000, -1, "both"),
        search(kOll + "R U R' U R U2 R'", "RUF", 10, "solve", 1000000, -1, "pre"),
        search(kFull + "R U R' F", "RUF", 9, "solve", 1000000, -1, "both"),
        search(kFull + "R U R' F", "RUF", 9, "solve", 1000000, -1, "both")}},
      {"reconstruct_swaps_the_sides",
       {search(kFull + "R U F' D", kAll, 8), search(kFull + "R U F' D", kAll, 8, "reconstruct"),
        search(kFull + "R U F' D", kAll, 8)}},
      {"masked_targets",
       {search("init_empty_cube add_cross R U F'", kAll, 7),
        search("init_empty_cube add_cross R U F'", kAll, 8),
        search("set_domino_cube R U F'", kAll, 8),
        search("init_empty_cube add_cross L F", kAll, 8)}},
      {"two_phase_between",
       {search(kFull + "R U F'", kAll, 8), kFull + "R U F' L D2 B solve_two_phase",
        search(kFull + "R U F'", kAll, 8)}},
      {"two_phase_batch",
       {kFull + "R U F' L D2 B R2 U' F2 L' D B2 solve_two_phase",
        kFull + "F2 D' L B2 U R' F L2 D B' U2 solve_two_phase",
        kFull + "R U F' L D2 B R2 U' F2 L' D B2 solve_two_phase",
        kFull + "set d 12 L' B2 D R2 F U' L2 B D' solve_two_phase",
        kFull + "set d 22 U R2 F' D2 L B' U' F2 solve_two_phase"}},
      {"slices_and_rotations",
       {search(kFull + "R M U", "RUM", 8), search(kFull + "R M U", "RUM", 9),
        search(kFull + "R M U x", "RUMx", 7)}},
  };
}

class Batch : public ::testing::TestWithParam<BatchCase> {};

TEST_P(Batch, SameOutputAsOneSessionPerSearch) {
  const BatchCase& c = GetParam();
  std::string all, apart;
  for (const std::string& search : c.searches) {
    const test::RunResult one = test::run(search + "\n", {"--silent"});
    ASSERT_EQ(one.status, 0) << search << "\n" << one.out;
    apart += one.out;
    all += search + "\n";
  }
  const test::RunResult together = test::run(all, {"--silent"});
  EXPECT_EQ(together.status, 0);
  EXPECT_EQ(together.out, apart);
}

INSTANTIATE_TEST_SUITE_P(Cases, Batch, ::testing::ValuesIn(batch_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

Cube moved(const Cube& c, const std::string& moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}

search_parameters depth(int d) {
  search_parameters p;
  p.max_depth_of_search = d;
  return p;
}

// A search that repeats an earlier one takes every level it needs: it
// generates nothing, and prints the same.
TEST(KeptSides, ARepeatedSearchGrowsNothing) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  const Cube first = moved(full_cube(), "R U F' L2 D");
  solve(first, full_cube(), depth(9), session);
  const std::string once = out.str();
  const std::uint64_t generated = session.stats().generated;
  ASSERT_GT(generated, 0u);
  solve(first, full_cube(), depth(9), session);
  EXPECT_EQ(session.stats().generated, generated);
  EXPECT_EQ(out.str(), once + once);
  // Another first cube: only the backward side is taken, so fewer children
  // are generated than by a search of its own.
  const Cube other = moved(full_cube(), "B' D2 L U");
  solve(other, full_cube(), depth(9), session);
  const std::uint64_t with_kept = session.stats().generated - generated;
  std::ostringstream out2, err2;
  SearchSession fresh(out2, err2);
  solve(other, full_cube(), depth(9), fresh);
  EXPECT_LT(with_kept, fresh.stats().generated);
  EXPECT_EQ(out.str().substr(2 * once.size()), out2.str());
}

// The output of `solve` in a session of its own with a budget of `bytes`:
// its lines, or the error that ended it after them.
std::string fresh_output(const Cube& first, const Cube& second, search_parameters p,
                         std::size_t bytes) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  session.budget().set_limit(bytes);
  try {
    solve(first, second, p, session);
  } catch (const Failure& f) {
    return out.str() + f.message;
  }
  return out.str();
}

// Where a search alone would run out of memory, kept levels may take it
// further (they need no room to be grown): every line it prints is still a
// line of the search with memory enough, in order, and it ends with the
// memory message where it cannot go on. Where it runs out of memory only
// because of what is kept, it starts again without it, passing over the
// lines already written.
TEST(KeptSides, OutOfMemoryWithKeptLevels) {
  const Cube first = moved(full_cube(), "R U F' L2 D B'");
  const std::string all = fresh_output(first, full_cube(), depth(12), std::size_t{1} << 34);
  ASSERT_EQ(all.find("ERROR"), std::string::npos);
  std::ostringstream out, err;
  SearchSession session(out, err);
  solve(first, full_cube(), depth(11), session);
  const std::size_t before = out.str().size();
  // No room for the backward side's sixth level, nor for its join in
  // ranges: kept or not, the search cannot reach 12 moves (alone, it needs
  // about 24 MiB).
  const std::size_t squeezed =
      std::min(session.budget().in_use() + (std::size_t{1} << 10), std::size_t{16} << 20);
  session.budget().set_limit(squeezed);
  std::string got;
  try {
    solve(first, full_cube(), depth(12), session);
  } catch (const Failure& f) {
    got = f.message;
  }
  EXPECT_EQ(got, kOutOfMemory);
  EXPECT_EQ(session.stats().restarted, 1u);
  const std::string printed = out.str().substr(before);
  const std::string alone = fresh_output(first, full_cube(), depth(12), squeezed);
  ASSERT_GE(alone.size(), std::string(kOutOfMemory).size());
  const std::string alone_lines = alone.substr(0, alone.size() - std::string(kOutOfMemory).size());
  EXPECT_EQ(printed.compare(0, alone_lines.size(), alone_lines), 0) << printed;
  EXPECT_EQ(all.compare(0, printed.size(), printed), 0) << printed;
  EXPECT_LT(printed.size(), all.size());
}

// Lines passed over are counted, not written.
TEST(KeptSides, PassedOverLinesAreCountedNotWritten) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  session.write_line("a\n");
  session.pass_over_lines(2);
  session.info("b");
  session.write_line("c\n");
  session.write_line("d\n");
  session.info("e");
  EXPECT_EQ(out.str(), "a\nd\nINFO: e\n");
  EXPECT_EQ(session.lines_written(), 5u);
}

// Kept sides stay within a share of the budget, oldest given up first.
TEST(KeptSides, ManySearchesKeepABoundedNumberOfSides) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  std::mt19937 rng(7);
  for (int k = 0; k < 24; ++k) {
    const Cube first = test::apply_sequence(full_cube(), test::random_moves(rng, 5));
    solve(first, full_cube(), depth(6), session);
    EXPECT_LE(session.kept_sides().size(), KeptSides::kMostSides);
  }
}

}  // namespace
}  // namespace tessel
