// Searches whose deepest levels do not fit in the budget: those levels are
// built key range by key range and joined range by range. The output must
// be exactly that of a search that stores every level.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "core/failure.h"
#include "core/parallel.h"
#include "cube/masks.h"
#include "search/drivers.h"
#include "search/search_side.h"
#include "search/session.h"
#include "test_util.h"

namespace tessel {
namespace {

Cube moved(const Cube& c, const std::string& moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}

struct RangeCase {
  const char* name;
  Cube target;           // the second cube
  const char* scramble;  // moves applied to the target: the first cube
  const char* gen;       // set_gen word
  int depth;
  int max_count = 1000000;
  int after_first = -1;
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

struct SearchRun {
  std::string out;
  std::uint64_t ranges = 0;
  std::uint64_t range_joins = 0;
  std::uint64_t slices = 0;
  std::uint64_t searches = 0;
  std::uint64_t prepared = 0;
  std::uint64_t near_joins = 0;
  std::uint64_t kept = 0;
  std::string error;
};

SearchRun run_search(const RangeCase& c, std::size_t budget, std::size_t most_per_range,
                     int filter_bits = 0, int filter_staging = 0, bool near_parents = true) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  session.set_near_parents(near_parents);
  if (budget != 0) session.budget().set_limit(budget);
  session.set_most_per_range(most_per_range);
  session.set_filter_bits(filter_bits);
  session.set_filter_staging(filter_staging);
  session.legal().set_3gen(c.gen);
  search_parameters p;
  p.max_depth_of_search = c.depth;
  p.max_number_of_sequences = c.max_count;
  p.max_depth_after_first_match = c.after_first;
  SearchRun r;
  try {
    solve(moved(c.target, c.scramble), c.target, p, session);
  } catch (const Failure& f) {
    r.error = f.message;
  }
  r.out = out.str();
  r.ranges = session.stats().ranges;
  r.range_joins = session.stats().range_joins;
  r.slices = session.stats().slices;
  r.searches = session.stats().searches;
  r.prepared = session.stats().prepared;
  r.near_joins = session.stats().near_joins;
  r.kept = session.stats().kept;
  return r;
}

std::size_t count_lines(const std::string& s) {
  std::size_t n = 0;
  for (char ch : s) n += ch == '\n';
  return n;
}

std::vector<RangeCase> range_cases() {
  const Cube kF2l = add_f2l(empty_cube());
  const Cube kOll = add_missing_edges_orientation(add_missing_corner_orientation(kF2l));
  const Cube kCross = add_cross(empty_cube());
  const Cube kDomino = add_domino_elements(empty_cube());
  const Cube kCornersPermutation = add_missing_corner_permutation(add_missing_edges(kF2l));
  return {
      {"full_cube_9", full_cube(), "R U F' L2 D B' R2 U' F", "RUFLDB", 9},
      {"full_cube_10_both_sides", full_cube(), "R U2 F' L D2 B R' U F2 D", "RUFLDB", 10},
      {"identities_8", full_cube(), "", "RUFLDB", 8},
      {"limit_inside_a_range", full_cube(), "", "RUFLDB", 8, 37},
      {"limit_one", full_cube(), "R U F' L2 D B' R2 U'", "RUFLDB", 9, 1},
      {"after_first_match", full_cube(), "R U F' L D", "RUFLDB", 9, 1000000, 2},
      {"cross", kCross, "F R D' L2 B U", "RUFLDB", 8},
      {"f2l", kF2l, "R U R' U' F' U F", "RUFLDB", 8},
      {"oll_ruf", kOll, "R U R' U R U2 R'", "RUF", 12},
      {"domino", kDomino, "R U F D L", "RUFLDB", 8},
      {"corner_permutation", kCornersPermutation, "R U R' U' R' F R2 U' R'", "RUFLDB", 9},
      {"half_turns", full_cube(), "R2 U F2 D' L2 B2 U", "R2L2F2B2DU", 11},
      {"slices_and_rotations", kF2l, "R U M' U2 r", "RUrMx", 9},
  };
}

// A budget that makes the deepest level range-built: the level sizes are
// not known here, so it shrinks until range-built levels show. `ranged`
// gets the search with that budget.
std::size_t range_budget(const RangeCase& c, SearchRun& ranged) {
  std::size_t budget = std::size_t{1} << 27;
  for (; budget >= (std::size_t{1} << 19); budget = budget / 8 * 7) {
    ranged = run_search(c, budget, 0);
    if (!ranged.error.empty() || ranged.range_joins > 0) break;
  }
  return budget;
}

class RangeBuilt : public ::testing::TestWithParam<RangeCase> {};

// A budget too small for the deepest levels: the search must go on with
// range-built levels and print what the unlimited search prints, on 1, 2
// and 3 threads; with filters that let nearly every child through (8 bits)
// or many (14 bits), and at most a few thousand entries per key range, the
// joins go through many ranges.
TEST_P(RangeBuilt, SameOutputAsStoredLevels) {
  const RangeCase& c = GetParam();
  const SearchRun stored = run_search(c, 0, 0);
  ASSERT_EQ(stored.error, "");
  ASSERT_EQ(stored.range_joins, 0u);
  ASSERT_GT(count_lines(stored.out), 1u);
  SearchRun ranged;
  const std::size_t budget = range_budget(c, ranged);
  ASSERT_EQ(ranged.error, "") << "no budget gives range-built levels without running out";
  ASSERT_GT(ranged.range_joins, 0u) << "the search never built a level in ranges";
  EXPECT_EQ(ranged.out, stored.out);
  bool many_ranges = false;
  for (unsigned threads : {1u, 2u, 3u}) {
    set_work_threads(threads);
    for (int bits : {0, 8, 14}) {
      for (std::size_t most : {std::size_t{0}, std::size_t{20000}, std::size_t{3000}}) {
        const SearchRun r = run_search(c, budget, most, bits);
        ASSERT_EQ(r.error, "") << threads << " threads, " << bits << " bits, " << most;
        EXPECT_EQ(r.out, stored.out)
            << threads << " threads, " << bits << " filter bits, " << most << " per range";
        if (r.ranges >= r.range_joins + stored.ranges + 2) many_ranges = true;
      }
    }
    // Ranges of a few positions: buckets are cut into slices.
    const SearchRun r = run_search(c, budget, 100, 0);
    ASSERT_EQ(r.error, "") << threads << " threads, 100 per range";
    EXPECT_EQ(r.out, stored.out) << threads << " threads, 100 per range";
  }
  set_work_threads(0);
  EXPECT_TRUE(many_ranges) << "no run cut a join into several key ranges";
}

// Filters worked on region by region (staged) even where they are small,
// in rounds of a few hundred or a few thousand keys per region: the output
// is that of stored levels on 1, 2 and 3 threads.
TEST_P(RangeBuilt, StagedFiltersSameOutput) {
  const RangeCase& c = GetParam();
  const SearchRun stored = run_search(c, 0, 0);
  SearchRun ranged;
  const std::size_t budget = range_budget(c, ranged);
  ASSERT_GT(ranged.range_joins, 0u);
  for (unsigned threads : {1u, 2u, 3u}) {
    set_work_threads(threads);
    for (int staging : {300, 5000}) {
      for (int bits : {0, 12}) {
        const SearchRun r = run_search(c, budget, 0, bits, staging);
        ASSERT_EQ(r.error, "") << threads << " threads, staging " << staging;
        EXPECT_EQ(r.out, stored.out)
            << threads << " threads, staging " << staging << ", " << bits << " filter bits";
      }
    }
    // Staged, and built in many ranges.
    const SearchRun r = run_search(c, budget, 3000, 0, 300);
    ASSERT_EQ(r.error, "") << threads << " threads";
    EXPECT_EQ(r.out, stored.out) << threads << " threads, staged, 3000 per range";
  }
  set_work_threads(0);
}

// When both newest levels are range-built, the second is sifted only from
// the parents one move (undone) from the first one's kept children; a
// level joined with a stored one, after a filter of its children was made
// for the next join, only from the parents of the stored positions that
// filter holds. The output stays that of stored levels, and of the same
// search passing over no parent, for move sets with slices, rotations and
// half turns, masked targets, limits, on 1, 2 and 3 threads, with filters
// of every size; never more children are kept, and most often fewer.
TEST(RangeBuiltLevels, ParentsFarFromTheKeptPassedOver) {
  const Cube kF2l = add_f2l(empty_cube());
  std::vector<RangeCase> cases = range_cases();
  cases.push_back({"slices_rotations_10", kF2l, "R U M' U2 r x U' R", "RUrMx", 10});
  cases.push_back({"wide_and_slices_10", kF2l, "r U R' E2 u R", "RrUuE", 10});
  std::vector<std::string> passing_over;
  std::set<std::string> fewer_kept;
  for (const RangeCase& c : cases) {
    const SearchRun stored = run_search(c, 0, 0);
    ASSERT_EQ(stored.error, "") << c.name;
    SearchRun ranged;
    const std::size_t largest = range_budget(c, ranged);
    bool passed_over = false;
    for (std::size_t budget = largest; budget > largest / 8; budget = budget / 8 * 7) {
      set_work_threads(1);
      const SearchRun first = run_search(c, budget, 0, 0, -1, true);
      if (first.error == kOutOfMemory) continue;
      ASSERT_EQ(first.error, "") << c.name;
      EXPECT_EQ(first.out, stored.out) << c.name << ", budget " << budget;
      if (first.near_joins == 0) continue;
      passed_over = true;
      for (unsigned threads : {1u, 2u, 3u}) {
        set_work_threads(threads);
        for (int bits : {0, 10}) {
          const SearchRun near = run_search(c, budget, 0, bits, -1, true);
          const SearchRun all = run_search(c, budget, 0, bits, -1, false);
          // Filters of 10 bits keep more: some budgets run out then, alike.
          ASSERT_EQ(near.error, all.error) << c.name << ", budget " << budget;
          if (near.error == kOutOfMemory) continue;
          ASSERT_EQ(near.error, "") << c.name << ", budget " << budget;
          EXPECT_EQ(near.out, stored.out) << c.name << ", budget " << budget << ", " << threads
                                          << " threads, " << bits << " filter bits";
          EXPECT_EQ(all.out, stored.out);
          EXPECT_EQ(all.near_joins, 0u);
          // Never more (in a small space every parent may be one move from
          // a wanted child).
          EXPECT_LE(near.kept, all.kept) << c.name;
          if (near.kept < all.kept) fewer_kept.insert(c.name);
        }
      }
    }
    if (passed_over) passing_over.emplace_back(c.name);
  }
  set_work_threads(0);
  // Those whose two newest levels are range-built at some budget, with
  // few kept.
  for (const char* name :
       {"full_cube_10_both_sides", "f2l", "oll_ruf", "slices_rotations_10", "wide_and_slices_10"})
    EXPECT_NE(std::find(passing_over.begin(), passing_over.end(), name), passing_over.end())
        << name << ": no join passed over parents";
  for (const char* name : {"full_cube_10_both_sides", "oll_ruf", "slices_rotations_10"})
    EXPECT_EQ(fewer_kept.count(name), 1u) << name << ": no fewer children kept";
}

// A join of a range-built level with a stored one fills a filter of its
// children for the next join, which sifts the other side's new level
// through it: the output stays that of stored levels, with filters staged
// or not, on 1, 2 and 3 threads, for budgets that leave one or both newest
// levels range-built. The filter is made first, and the stored positions
// it may hold choose the parents sifted from; or (when parents are never
// passed over) in the same pass as the sift through the stored level.
TEST(RangeBuiltLevels, NextJoinTakesTheFilterMadeBefore) {
  const Cube kOll =
      add_missing_edges_orientation(add_missing_corner_orientation(add_f2l(empty_cube())));
  struct Case {
    RangeCase search;
    bool prepares;  // some budget surely has a join take a filter made before
  };
  const std::vector<Case> cases = {
      {{"full_cube_10_both_sides", full_cube(), "R U2 F' L D2 B R' U F2 D", "RUFLDB", 10}, true},
      {{"oll_ruf", kOll, "R U R' U R U2 R'", "RUF", 12}, true},
      {{"full_cube_9", full_cube(), "R U F' L2 D B' R2 U' F", "RUFLDB", 9}, false},
      {{"cross", add_cross(empty_cube()), "F R D' L2 B U", "RUFLDB", 8}, false},
  };
  for (const Case& k : cases) {
    const RangeCase& c = k.search;
    const SearchRun stored = run_search(c, 0, 0);
    ASSERT_EQ(stored.error, "") << c.name;
    SearchRun ranged;
    const std::size_t largest = range_budget(c, ranged);
    // Budgets from where levels start to be range-built down to an eighth
    // of it; those where a join takes a prepared filter are run again on
    // more threads and with staged filters.
    std::vector<std::size_t> preparing;
    bool passed_over = false, prepared_in_the_sift = false;
    for (std::size_t budget = largest; budget > largest / 8; budget = budget / 8 * 7) {
      const SearchRun r = run_search(c, budget, 0, 0, -1);
      if (r.error == kOutOfMemory) continue;
      ASSERT_EQ(r.error, "") << c.name;
      EXPECT_EQ(r.out, stored.out) << c.name << ", budget " << budget;
      if (r.prepared > 0) preparing.push_back(budget);
    }
    if (k.prepares) {
      EXPECT_FALSE(preparing.empty()) << c.name << ": no join took a filter made before";
    }
    for (unsigned threads : {1u, 2u, 3u}) {
      set_work_threads(threads);
      for (int staging : {-1, 300}) {
        for (std::size_t budget : preparing) {
          const SearchRun r = run_search(c, budget, 0, 0, staging);
          ASSERT_EQ(r.error, "") << c.name;
          EXPECT_GT(r.prepared, 0u) << c.name;
          EXPECT_EQ(r.out, stored.out) << c.name << ", " << threads << " threads, staging "
                                       << staging << ", budget " << budget;
          if (r.near_joins > 0) passed_over = true;
          // The filter made in the pass that sifts through the stored
          // level's, not in one of its own before (where the budget leaves
          // room for it beside that pass).
          const SearchRun all = run_search(c, budget, 0, 0, staging, false);
          ASSERT_EQ(all.error, "") << c.name;
          if (all.prepared > 0) prepared_in_the_sift = true;
          EXPECT_EQ(all.near_joins, 0u) << c.name;
          EXPECT_EQ(all.out, stored.out) << c.name << ", " << threads << " threads, staging "
                                         << staging << ", budget " << budget;
        }
      }
    }
    if (k.prepares) {
      EXPECT_TRUE(passed_over) << c.name << ": no join passed over parents";
      EXPECT_TRUE(prepared_in_the_sift) << c.name << ": no sift filled the next join's filter";
    }
  }
  set_work_threads(0);
}

// Nearly every child passes the filters, and a range holds at most 40 of
// them: more than a bucket's, often a few positions' or one position's
// alone, so buckets are cut into slices by the key bits below theirs,
// down to single positions.
TEST(RangeBuiltLevels, SlicesOfBucketsDownToSinglePositions) {
  const Cube kF2l = add_f2l(empty_cube());
  const Cube kOll = add_missing_edges_orientation(add_missing_corner_orientation(kF2l));
  const std::vector<RangeCase> cases = {
      {"identities_8", full_cube(), "", "RUFLDB", 8},
      {"limit_inside_a_range", full_cube(), "", "RUFLDB", 8, 37},
      {"cross", add_cross(empty_cube()), "F R D' L2 B U", "RUFLDB", 8},
      {"f2l", kF2l, "R U R' U' F' U F", "RUFLDB", 8},
      {"oll_ruf", kOll, "R U R' U R U2 R'", "RUF", 12},
      {"domino", add_domino_elements(empty_cube()), "R U F D L", "RUFLDB", 8},
  };
  for (const RangeCase& c : cases) {
    const SearchRun stored = run_search(c, 0, 0);
    SearchRun ranged;
    const std::size_t budget = range_budget(c, ranged);
    ASSERT_GT(ranged.range_joins, 0u) << c.name;
    for (unsigned threads : {1u, 2u}) {
      set_work_threads(threads);
      const SearchRun r = run_search(c, budget, 40, 8);
      ASSERT_EQ(r.error, "") << c.name << ", " << threads << " threads";
      EXPECT_GT(r.slices, 100u) << c.name;
      EXPECT_EQ(r.out, stored.out) << c.name << ", " << threads << " threads";
    }
  }
  set_work_threads(0);
}

// A range must hold one position's kept children before duplicates are
// merged: with slices and rotations, 40 are too few for some position, and
// the search ends out of memory after every line of the shorter lengths.
TEST(RangeBuiltLevels, RangeSmallerThanOnePositionRunsOutOfMemory) {
  const RangeCase c{"slices_and_rotations", add_f2l(empty_cube()), "R U M' U2 r", "RUrMx", 9};
  const SearchRun stored = run_search(c, 0, 0);
  SearchRun ranged;
  const std::size_t budget = range_budget(c, ranged);
  ASSERT_EQ(ranged.out, stored.out);
  const SearchRun r = run_search(c, budget, 40, 8);
  EXPECT_EQ(r.error, kOutOfMemory);
  ASSERT_LT(r.out.size(), stored.out.size());
  EXPECT_EQ(stored.out.substr(0, r.out.size()), r.out);
  EXPECT_NE(r.out.find("INFO: Searching"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, RangeBuilt, ::testing::ValuesIn(range_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Levels cut into many ranges: ten or more for one length, when nearly
// every child passes the filter.
TEST(RangeBuiltLevels, ManyRangesSameOutput) {
  const RangeCase c{"many", full_cube(), "R U F' L2 D B' R2 U' F", "RUFLDB", 9};
  const SearchRun stored = run_search(c, 0, 0);
  const SearchRun ranged = run_search(c, std::size_t{4} << 20, 60000, 6);
  ASSERT_EQ(ranged.error, "");
  EXPECT_GE(ranged.ranges, stored.ranges + 9);
  EXPECT_EQ(ranged.out, stored.out);
}

// With filters sized to the levels, the children kept are few: a join of
// a range-built level needs one key range.
TEST(RangeBuiltLevels, FilteredJoinNeedsOneRange) {
  const RangeCase c{"one", full_cube(), "R U F' L2 D B' R2 U' F", "RUFLDB", 9};
  const SearchRun stored = run_search(c, 0, 0);
  const SearchRun ranged = run_search(c, std::size_t{4} << 20, 0);
  ASSERT_EQ(ranged.error, "");
  EXPECT_GT(ranged.range_joins, 0u);
  EXPECT_EQ(ranged.ranges, stored.ranges);
  EXPECT_EQ(ranged.out, stored.out);
}

// A sink for join_newest that records every sequence it is given.
auto keep(std::vector<std::vector<int>>& into) {
  return [&into](std::span<const int> moves) {
    into.emplace_back(moves.begin(), moves.end());
    return true;
  };
}

// Two sides from `first` to the solved cube, grown `forward` and
// `backward` levels with the given budget.
struct GrownSides {
  search_side f, b;
  GrownSides(const Cube& first, const LegalMoves& legal, MemoryBudget& budget, int forward,
             int backward)
      : f(first, kForward, budget), b(full_cube(), kBackward, budget) {
    for (int i = 0; i < forward; ++i) f.grow_or_plan(legal);
    for (int i = 0; i < backward; ++i) b.grow_or_plan(legal);
  }
};

// A level that would have to grow from a range-built level cannot: the
// search ends with the memory message, after every line of the shorter
// lengths.
TEST(RangeBuiltLevels, GrowingPastARangeBuiltLevelRunsOutOfMemory) {
  const RangeCase deep{"deep", full_cube(), "R U F' L2 D B' R2 U' F D2 L'", "RUFLDB", 11};
  RangeCase shorter = deep;
  shorter.depth = 10;
  const SearchRun ten = run_search(shorter, 0, 0);
  const SearchRun r = run_search(deep, std::size_t{4} << 20, 0);
  EXPECT_EQ(r.error, kOutOfMemory);
  EXPECT_EQ(r.out, ten.out);
}

// A limit of 0 stops at the first sequence, as with 1: in the first range
// that holds one, not in the first range.
TEST(RangeBuiltLevels, ZeroLimitStopsAtTheFirstSequenceOfAnyRange) {
  const Cube first = moved(full_cube(), "R U F' L2 D B' R2 U' F");
  LegalMoves legal;
  legal.set_3gen("RUFLDB");
  std::vector<std::vector<int>> stored_found, ranged_found;
  {
    MemoryBudget budget;
    GrownSides s(first, legal, budget, 5, 4);
    ASSERT_FALSE(s.f.range_built());
    EXPECT_EQ(join_newest(s.f, s.b, 0, keep(stored_found), budget), 1);
  }
  MemoryBudget budget(std::size_t{4} << 20);
  GrownSides s(first, legal, budget, 5, 4);
  search_side &f = s.f, &b = s.b;
  ASSERT_TRUE(f.range_built());
  std::uint64_t ranges = 0;
  RangeJoinOptions options;
  options.most_per_range = 2000;
  options.filter_bits = 8;
  options.ranges_used = &ranges;
  EXPECT_EQ(join_newest(f, b, 0, keep(ranged_found), budget, options), 1);
  EXPECT_GT(ranges, 1u);
  EXPECT_EQ(ranged_found, stored_found);
}

// Both newest levels range-built: the forward children fill a filter, the
// backward ones are sifted through it and the forward ones through theirs.
// Every filter size and range size gives the sequences of the stored join.
TEST(RangeBuiltLevels, BothSidesRangeBuilt) {
  const Cube first = moved(full_cube(), "R U F'");
  LegalMoves legal;
  legal.set_3gen("RUFLDB");
  std::vector<std::vector<int>> stored_found;
  {
    MemoryBudget budget;
    GrownSides s(first, legal, budget, 5, 5);
    join_newest(s.f, s.b, 1000000, keep(stored_found), budget);
  }
  ASSERT_GT(stored_found.size(), 10u);
  for (int bits : {0, 6, 12, 16}) {
    for (std::size_t most : {std::size_t{0}, std::size_t{5000}}) {
      MemoryBudget budget(std::size_t{8} << 20);
      GrownSides s(first, legal, budget, 5, 5);
      search_side &f = s.f, &b = s.b;
      ASSERT_TRUE(f.range_built());
      ASSERT_TRUE(b.range_built());
      std::vector<std::vector<int>> found;
      std::uint64_t kept = 0, ranges = 0;
      RangeJoinOptions options;
      options.filter_bits = bits;
      options.most_per_range = most;
      options.kept = &kept;
      options.ranges_used = &ranges;
      try {
        join_newest(f, b, 1000000, keep(found), budget, options);
      } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, kOutOfMemory);
        continue;
      }
      EXPECT_EQ(found, stored_found) << bits << " bits, " << most << " per range";
      if (bits == 0) {
        EXPECT_LT(kept, (f.ranges->children() + b.ranges->children()) / 8);
      }
      if (most != 0 && bits == 6) {
        EXPECT_GT(ranges, 2u);
      }
    }
  }
}

// Through the program: --max-memory, the output and the status.
TEST(RangeBuiltLevels, MaxMemoryOptionEndToEnd) {
  const std::string input = "R U F' L2 D B' R2 U' F set d 9 solve";
  const auto plain = test::run(input);
  const auto small = test::run(input, {"--max-memory", "4M"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(small.status, 0);
  EXPECT_EQ(small.out, plain.out);
  const auto past =
      test::run("R U F' L2 D B' R2 U' F D2 L' set d 11 solve", {"--max-memory", "4M"});
  EXPECT_EQ(past.status, 1);
  const std::string tail = "INFO: Searching 10 move solutions...\n";
  ASSERT_NE(past.out.find(tail), std::string::npos);
  EXPECT_EQ(past.out.substr(past.out.size() - std::string(kOutOfMemory).size()), kOutOfMemory);
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// More memory never ends a search that less memory finishes. A level
// stored near the limit used to take the rest of the budget for its
// cache (growing by doubling up to the limit), leaving nothing for the
// filters of the joins after it: a search then ran out of memory under
// limits above the least it needs.
TEST(RangeBuiltLevels, MoreMemoryNeverFails) {
  struct Case {
    const char* input;
    std::vector<int> megabytes;  // increasing
  };
  const Case cases[] = {
      {"R U F' L2 D B' R2 U' F set d 11 solve R U set d 11 solve",
       {12, 16, 20, 24, 26, 28, 30, 32, 36}},
      {"init_empty_cube add_f2l init_to_current_state R U F' L2 D B' R2 U' F set d 10 solve",
       {8, 10, 12, 14, 16, 18, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const auto plain = test::run(c.input, {"--silent"});
    ASSERT_EQ(plain.status, 0);
    bool finished = false;
    for (int mb : c.megabytes) {
      SCOPED_TRACE(std::to_string(mb) + "M");
      const auto limited =
          test::run(c.input, {"--silent", "--max-memory", std::to_string(mb) + "M"});
      if (limited.status == 0) {
        EXPECT_EQ(limited.out, plain.out);
        finished = true;
      } else {
        EXPECT_FALSE(finished) << "a smaller limit finished this search";
      }
    }
    EXPECT_TRUE(finished);
  }
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// One process short of memory for a join's filter makes the join in key
// shares, one after another, each filter sized for its share alone: the
// same lines as a search with memory enough, the same stop under a limit
// (which may fall in any share), and the same first sequence for the
// two-phase solver, whose sink stops the join.
TEST(RangeBuiltLevels, JoinsInSharesWhenShortOfMemory) {
  struct Case {
    const char* input;
    const char* limit;
  };
  const Case cases[] = {
      {"R U F' L2 D B' set d 11 solve", "12M"},
      {"R U F' L2 D B' set d 11 set n 7 solve", "12M"},
      {"init_empty_cube add_f2l init_to_current_state R U F' L2 D B' R2 U' F set d 11 solve",
       "12M"},
      {"set_gen RUF R U F R' U F' R U' set d 14 solve", "4M"},
      {"set_gen RUF R U F R' U F' R U' set d 14 solve", "10M"},
      {"R U F' L2 D B' R2 U' F D2 L' B U2 R' F2 D' solve_two_phase", "12M"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " in " + c.limit);
    const auto plain = test::run(c.input, {"--silent"});
    ASSERT_EQ(plain.status, 0);
    std::istringstream in(c.input);
    std::ostringstream out, err;
    Interpreter interpreter(in, out, err);
    const std::vector<std::string> args = {"--silent", "--max-memory", c.limit};
    EXPECT_EQ(interpreter.run(args), 0);
    EXPECT_EQ(out.str(), plain.out);
    EXPECT_GT(interpreter.session().stats().shared_joins, 0u);
  }
}

}  // namespace
}  // namespace tessel
