// Runs split between ranks: every join is cut by key between them and the
// sequences are gathered in rank order. Every rank must print exactly what
// one process prints, and end with the same status.
#include "core/ranks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "core/failure.h"
#include "search/drivers.h"
#include "search/entry_arena.h"
#include "search/level_cache.h"
#include "search/session.h"
#include "test_util.h"

namespace tessel {
namespace {

const std::vector<test::TranscriptCase>& transcripts() {
  static const auto cases = test::load_transcripts(TESSEL_TRANSCRIPTS_DIR);
  return cases;
}

class TranscriptsOnRanks : public ::testing::TestWithParam<int> {};

// Every transcript, on every rank: the same output and status as the
// transcript's own (standard error, with its pictures, too).
TEST_P(TranscriptsOnRanks, SameOutputOnEveryRank) {
  const int ranks = GetParam();
  ASSERT_GT(transcripts().size(), 100u);
  for (const auto& c : transcripts()) {
    const auto results = test::run_on_ranks(c.input, c.args, ranks);
    for (std::size_t r = 0; r < results.size(); ++r) {
      SCOPED_TRACE(c.name + " on rank " + std::to_string(r));
      EXPECT_EQ(results[r].out, c.out);
      EXPECT_EQ(results[r].status, c.status);
      if (c.err) {
        EXPECT_EQ(results[r].err, *c.err);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ranks, TranscriptsOnRanks, ::testing::Values(1, 2, 3));

struct RankCase {
  const char* name;
  const char* input;
  std::vector<std::string> args = {};
  // Most children per key range (0: as the budget allows): forces
  // range-built levels cut into many key ranges, or buckets into slices.
  std::size_t most_per_range = 0;
  // A memory limit below what --max-memory takes (0: none).
  std::size_t budget = 0;
  // Whether, with levels built in shares from 2^12 children on, a level
  // is held in shares, and a join is made by parents.
  bool held = false;
  bool by_parents = false;
};

void PrintTo(const RankCase& c, std::ostream* os) { *os << c.name; }

const std::vector<RankCase> kRankCases = {
    {"full_cube_9", "R U F' L2 D B' R2 U' F set d 9 solve", {}, 0, 0, true, true},
    // The backward side holds a level in shares: every rank has the same
    // forward entries of a meeting position.
    {"full_cube_10", "R U F' L2 D B' R2 U' F D set d 10 solve", {}, 0, 0, true, true},
    {"full_cube_10_auf",
     "R U F' L2 D B' R2 U' F D set_auf both set d 10 solve",
     {},
     0,
     0,
     true,
     true},
    {"identities_8", "set d 8 solve"},
    // Many sequences through one meeting position, from parents on every
    // rank: the order of one process.
    {"identities_10", "set d 10 solve", {}, 0, 0, true, true},
    {"one_turn_11", "U set d 11 solve", {}, 0, 0, true, true},
    {"limit_on_a_later_rank", "set d 8 set n 37 solve"},
    {"limit_one", "R U F' L2 D B' R2 U' set d 9 set n 1 solve", {}, 0, 0, true},
    {"after_first_match", "R U F' L D set d 9 set da 2 solve"},
    {"cross", "init_empty_cube add_cross F R D' L2 B U set d 8 solve"},
    {"f2l", "init_empty_cube add_f2l R U R' U' F' U F set d 8 solve"},
    {"oll_ruf_auf",
     "init_empty_cube add_f2l add_corners_orientation add_edges_orientation R U R' U R U2 R' "
     "set_gen RUF set_auf both set d 10 solve"},
    {"domino", "set_domino_cube R U F D L set d 8 solve"},
    {"half_turns", "R2 U F2 D' L2 B2 U set_gen R2L2F2B2DU set d 11 solve", {}, 0, 0, true, true},
    {"slices_and_rotations",
     "init_empty_cube add_f2l R U M' U2 r set_gen RUrMx set d 9 solve",
     {},
     0,
     0,
     true,
     true},
    {"two_phase", "R U F' L2 D B' R2 U' F D2 solve_two_phase F R U R' U' F' solve_two_phase"},
    {"reconstruct", "R U R' U' R' F R F' set d 9 reconstruct", {}, 0, 0, true, true},
    {"error_in_the_middle", "R U R' set d 6 solve frobnicate set d 5 solve"},
    {"ranged_full_cube_9",
     "R U F' L2 D B' R2 U' F set d 9 solve",
     {"--max-memory", "4M"},
     3000,
     0,
     true,
     true},
    {"ranged_limit", "set d 8 set n 37 solve", {"--max-memory", "4M"}, 3000},
    {"ranged_slices", "set d 8 solve", {}, 40, 1600 << 10},
    {"ranged_slices_cross",
     "init_empty_cube add_cross F R D' L2 B U set d 8 solve",
     {},
     40,
     800 << 10},
    {"ranged_out_of_memory", "R U F' L2 D B' R2 U' F D2 L' set d 11 solve", {"--max-memory", "4M"}},
};

class SearchesOnRanks : public ::testing::TestWithParam<RankCase> {};

TEST_P(SearchesOnRanks, SameOutputAsOneProcess) {
  const RankCase& c = GetParam();
  const auto setup = [&c](Interpreter& interpreter) {
    interpreter.session().set_most_per_range(c.most_per_range);
    if (c.budget != 0) interpreter.session().budget().set_limit(c.budget);
  };
  const auto alone = test::run_on_ranks(c.input, c.args, 1, setup)[0];
  ASSERT_FALSE(alone.out.empty());
  // Levels from 2^12 children on are built in shares (from 2^22 in use),
  // and the last one a search stores is held in shares.
  set_shared_levels_from(std::size_t{1} << 12);
  for (int ranks : {2, 3}) {
    const auto results = test::run_on_ranks(c.input, c.args, ranks, setup);
    for (std::size_t r = 0; r < results.size(); ++r) {
      SCOPED_TRACE(std::to_string(ranks) + " ranks, rank " + std::to_string(r));
      EXPECT_EQ(results[r].out, alone.out);
      EXPECT_EQ(results[r].status, alone.status);
      if (c.held) {
        EXPECT_GT(results[r].stats.held, 0u);
      }
      if (c.by_parents) {
        EXPECT_GT(results[r].stats.by_parents, 0u);
      }
    }
  }
  set_shared_levels_from(0);
}

INSTANTIATE_TEST_SUITE_P(Ranks, SearchesOnRanks, ::testing::ValuesIn(kRankCases),
                         [](const ::testing::TestParamInfo<RankCase>& info) {
                           return std::string(info.param.name);
                         });

// Holds both last stored levels in shares while it lives (also when a
// test ends early), and the levels built in shares and left range-built
// from small sizes.
struct BothLevelsHeld {
  BothLevelsHeld() {
    set_shared_levels_from(std::size_t{1} << 12);
    set_planned_levels_from(std::uint64_t{1} << 12);
    set_hold_both_levels(true);
  }
  ~BothLevelsHeld() {
    set_hold_both_levels(false);
    set_planned_levels_from(0);
    set_shared_levels_from(0);
  }
  BothLevelsHeld(const BothLevelsHeld&) = delete;
  BothLevelsHeld& operator=(const BothLevelsHeld&) = delete;
};

// A level range-built from a level held in shares: the children of each
// rank's parents that lie in another rank's share are sent there to be
// tested against that rank's filter of the other side's level. With
// hold_both_levels(), where both sides' last stored levels are as deep,
// both are held in shares, cut alike, and the children that may meet go,
// with their parents' entries, to the rank owning their position, which
// joins them (without it, the even lengths hold one level: the cases of
// SameOutputAsOneProcess). Every rank prints
// what one process prints, also where filters of a few bits let most
// children pass by chance, and where a limit stops the sequences on a
// later rank. With filters staged in slots of a few keys (`staging`), the
// filter a join fills for the next is set in many rounds, which end in
// the middle of routing rounds.
TEST(SearchesOnRanks, ChildrenRoutedToTheRanksOwningThem) {
  struct Case {
    const char* input;
    int filter_bits;
    bool both_held;
    int staging = 0;
  };
  const Case cases[] = {
      {"R U F' L2 D B' R2 U' F set d 9 solve", 0, false},
      {"R U F' L2 D B' R2 U' F D set d 10 solve", 0, true},
      {"R U F' L2 D B' R2 U' F D set d 10 solve", 10, true},
      {"R U F' L2 D B' R2 U' F D set_auf both set d 10 solve", 0, true},
      {"set d 10 solve", 0, true},
      {"set d 10 set n 700 solve", 12, true},
      {"U set d 11 solve", 12, false},
      {"R2 U F2 D' L2 B2 U set_gen R2L2F2B2DU set d 11 solve", 0, false},
      {"R2 U F2 D' L2 B2 U set_gen R2L2F2B2DU set d 12 solve", 0, true},
      {"init_empty_cube add_f2l R U M' U2 r set_gen RUrMx set d 9 solve", 0, false},
      {"init_empty_cube add_f2l R U M' U2 r set_gen RUrMx set d 10 solve", 0, true},
      {"R U F' L2 D B' R2 U' set d 9 set n 5 solve", 0, false},
      {"R U F' L2 D B' R2 U' set d 10 set n 5 solve", 0, true},
      {"R U F' L2 D B' R2 U' F D set d 10 solve", 0, true, 64},
      {"set d 10 set n 700 solve", 12, true, 200},
      {"R2 U F2 D' L2 B2 U set_gen R2L2F2B2DU set d 12 solve", 0, true, 64},
  };
  const BothLevelsHeld held;
  for (const Case& c : cases) {
    const auto setup = [&c](Interpreter& interpreter) {
      interpreter.session().set_filter_bits(c.filter_bits);
      interpreter.session().set_filter_staging(c.staging);
    };
    const auto alone = test::run_on_ranks(c.input, {}, 1, setup)[0];
    ASSERT_EQ(alone.status, 0) << c.input;
    ASSERT_FALSE(alone.out.empty());
    for (int ranks : {2, 3, 5}) {
      const auto results = test::run_on_ranks(c.input, {}, ranks, setup);
      for (std::size_t r = 0; r < results.size(); ++r) {
        SCOPED_TRACE(std::string(c.input) + ", " + std::to_string(ranks) + " ranks, rank " +
                     std::to_string(r));
        EXPECT_EQ(results[r].out, alone.out);
        EXPECT_EQ(results[r].status, 0);
        EXPECT_EQ(results[r].stats.held, c.both_held ? 2u : 1u);
        EXPECT_GT(results[r].stats.routed, 0u);
        if (c.staging != 0) {
          EXPECT_GT(results[r].stats.prepared, 0u);
        }
      }
    }
  }
}

// With both last stored levels held in shares and little memory, a key
// range whose kept children do not fit on some rank is cut in two and its
// halves joined in its place: every rank still prints what one process
// prints, and the identities' many meetings are joined in more ranges
// than with room to spare. (Not yet with 2 MiB: there their 10-move
// meetings crowd into key ranges of a single high word, which are not cut
// finer, and the search ends out of memory where one process's does not.)
TEST(SearchesOnRanks, BothLevelsHeldInLittleMemory) {
  const char* inputs[] = {"set d 10 solve", "R U F' L2 D B' R2 U' F D set d 10 solve"};
  const BothLevelsHeld held;
  for (const char* input : inputs) {
    std::uint64_t ranges_with_room = 0;
    for (std::size_t budget :
         {std::size_t{64} << 20, std::size_t{4} << 20, std::size_t{3} << 20, std::size_t{5} << 19}) {
      const auto setup = [budget](Interpreter& interpreter) {
        interpreter.session().budget().set_limit(budget);
      };
      const auto alone = test::run_on_ranks(input, {}, 1, setup)[0];
      ASSERT_EQ(alone.status, 0) << input << ", budget " << budget;
      const auto results = test::run_on_ranks(input, {}, 2, setup);
      for (std::size_t r = 0; r < results.size(); ++r) {
        SCOPED_TRACE(std::string(input) + ", budget " + std::to_string(budget) + ", rank " +
                     std::to_string(r));
        EXPECT_EQ(results[r].out, alone.out);
        EXPECT_EQ(results[r].status, 0);
        EXPECT_EQ(results[r].stats.held, 2u);
      }
      if (budget == (std::size_t{64} << 20)) ranges_with_room = results[0].stats.ranges;
      if (budget == (std::size_t{5} << 19) && std::string(input) == "set d 10 solve") {
        EXPECT_GT(results[0].stats.ranges, ranges_with_room);
      }
    }
  }
}

// Ranks cut a range-built level's join with the other side's stored level
// and its join with that side's range-built next level alike: the filter
// of the level's children that the first join makes serves the second, and
// the parents are passed over as in one process. The same output on 2 and
// 3 ranks, for budgets that leave the two newest levels range-built.
TEST(SearchesOnRanks, NextJoinTakesTheFilterMadeBefore) {
  const std::string input = "R U2 F' L D2 B R' U F2 D set d 10 solve";
  std::size_t found = 0;
  for (std::size_t budget = std::size_t{1} << 27; budget >= (std::size_t{1} << 21);
       budget = budget / 8 * 7) {
    const auto setup = [budget](Interpreter& interpreter) {
      interpreter.session().budget().set_limit(budget);
    };
    const auto alone = test::run_on_ranks(input, {}, 1, setup)[0];
    if (alone.stats.prepared == 0 || alone.stats.near_joins == 0) continue;
    ASSERT_EQ(alone.status, 0);
    for (int ranks : {2, 3}) {
      const auto results = test::run_on_ranks(input, {}, ranks, setup);
      for (std::size_t r = 0; r < results.size(); ++r) {
        SCOPED_TRACE(std::to_string(ranks) + " ranks, rank " + std::to_string(r) + ", budget " +
                     std::to_string(budget));
        EXPECT_EQ(results[r].out, alone.out);
        EXPECT_EQ(results[r].status, 0);
        EXPECT_GT(results[r].stats.prepared, 0u);
        EXPECT_GT(results[r].stats.near_joins, 0u);
      }
    }
    if (++found == 3) break;
  }
  EXPECT_GT(found, 0u) << "no budget had a join take a filter made before";
}

// Each rank gives up kept sides by its own room: a rank with less memory
// must grow again the levels that another could take from an earlier
// search (the third search here is the first one again). Growing a level
// takes steps all ranks take together, so all grow it; every rank still
// prints what one process prints.
TEST(SearchesOnRanks, RanksThatKeptDifferentLevels) {
  const std::string input =
      "R U F' L2 D B' R2 U' F set d 11 solve R U set d 11 solve U' R' set d 11 solve";
  const auto alone = test::run(input);
  ASSERT_EQ(alone.status, 0);
  set_shared_levels_from(std::size_t{1} << 12);
  int regrown = 0;
  for (std::size_t budget :
       {std::size_t{64} << 20, std::size_t{96} << 20, std::size_t{128} << 20}) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    const auto setup = [budget](Interpreter& interpreter) {
      if (interpreter.session().ranks()->rank() == 1)
        interpreter.session().budget().set_limit(budget);
    };
    const auto results = test::run_on_ranks(input, {}, 2, setup);
    for (const auto& result : results) {
      EXPECT_EQ(result.out, alone.out);
      EXPECT_EQ(result.status, 0);
    }
    // The rank with more memory kept what the other gave up.
    if (results[0].stats.regrown > 0) ++regrown;
  }
  set_shared_levels_from(0);
  EXPECT_GT(regrown, 0) << "no budget had the ranks keep different levels";
}

// Each part goes to its rank alone, and comes back in sender order, empty
// parts and parts of every length alike.
TEST(RankExchanges, EachPartReachesItsRank) {
  for (int n : {1, 2, 3, 5}) {
    std::vector<std::vector<std::string>> got(static_cast<std::size_t>(n));
    test::on_ranks(n, [&](Ranks& ranks) {
      std::vector<std::string> parts;
      for (int to = 0; to < n; ++to)
        parts.push_back(std::string(static_cast<std::size_t>((ranks.rank() * 7 + to * 3) % 5),
                                    static_cast<char>('a' + ranks.rank())) +
                        (to == ranks.rank() ? "" : std::to_string(to)));
      got[static_cast<std::size_t>(ranks.rank())] = ranks.exchange(parts);
    });
    for (int at = 0; at < n; ++at) {
      ASSERT_EQ(got[static_cast<std::size_t>(at)].size(), static_cast<std::size_t>(n));
      for (int from = 0; from < n; ++from) {
        SCOPED_TRACE(std::to_string(n) + " ranks, from " + std::to_string(from) + " to " +
                     std::to_string(at));
        EXPECT_EQ(got[static_cast<std::size_t>(at)][static_cast<std::size_t>(from)],
                  std::string(static_cast<std::size_t>((from * 7 + at * 3) % 5),
                              static_cast<char>('a' + from)) +
                      (at == from ? "" : std::to_string(at)));
      }
    }
  }
}

// A step that fails on some ranks only ends alike on all: every rank
// throws the failure of the lowest rank that failed, and the ranks stay in
// step for the gatherings after it.
TEST(RankFailures, EndEveryRankAlike) {
  struct Case {
    int ranks;
    std::vector<int> failing;
  };
  for (const Case& c : {Case{2, {1}}, Case{2, {0}}, Case{3, {2}}, Case{3, {1, 2}}, Case{3, {}}}) {
    std::vector<std::string> caught(static_cast<std::size_t>(c.ranks));
    std::vector<std::string> after(static_cast<std::size_t>(c.ranks));
    test::on_ranks(c.ranks, [&](Ranks& ranks) {
      const auto r = static_cast<std::size_t>(ranks.rank());
      const bool fails =
          std::find(c.failing.begin(), c.failing.end(), ranks.rank()) != c.failing.end();
      try {
        all_or_none(ranks, [&] {
          if (fails) fail("failed on rank " + std::to_string(r) + "\n", 3 + ranks.rank());
        });
        caught[r] = "none";
      } catch (const Failure& failure) {
        caught[r] = failure.message + std::to_string(failure.status);
      }
      for (const std::string& part : all_gather_or_fail(ranks, std::to_string(r), std::nullopt))
        after[r] += part;
    });
    const std::string expected = c.failing.empty()
                                     ? "none"
                                     : "failed on rank " + std::to_string(c.failing[0]) + "\n" +
                                           std::to_string(3 + c.failing[0]);
    for (int r = 0; r < c.ranks; ++r) {
      SCOPED_TRACE("rank " + std::to_string(r) + " of " + std::to_string(c.ranks));
      EXPECT_EQ(caught[static_cast<std::size_t>(r)], expected);
      EXPECT_EQ(after[static_cast<std::size_t>(r)], c.ranks == 2 ? "01" : "012");
    }
  }
}

// The ranks' room differs (filters are sized to each rank's share, a
// machine may have less memory): a join that runs out of memory on one rank
// alone ends the search on every rank with the same lines and "ERROR: not
// enough memory", instead of leaving the others waiting for that rank's
// sequences for good. Here one rank's filters are forced larger than its
// budget. The search before keeps its sides, so every rank starts the
// failing search again without them (as one process would), and it fails
// again.
TEST(RankFailures, JoinOutOfMemoryOnOneRank) {
  const std::string input = "R U F' L2 set d 8 solve R U F' L2 D B' R2 U' F set d 11 solve";
  const auto alone = test::run(input);
  ASSERT_EQ(alone.status, 0);
  for (int failing : {0, 1}) {
    SCOPED_TRACE("failing rank " + std::to_string(failing));
    const auto setup = [failing](Interpreter& interpreter) {
      if (interpreter.session().ranks()->rank() != failing) return;
      interpreter.session().budget().set_limit(std::size_t{256} << 20);
      interpreter.session().set_filter_bits(32);
    };
    const auto results = test::run_on_ranks(input, {}, 2, setup);
    const std::string error = "ERROR: not enough memory\n";
    for (const auto& result : results) {
      EXPECT_EQ(result.status, 1);
      ASSERT_GE(result.out.size(), error.size());
      EXPECT_EQ(result.out.substr(result.out.size() - error.size()), error);
      const std::string before = result.out.substr(0, result.out.size() - error.size());
      EXPECT_EQ(alone.out.substr(0, before.size()), before);
      EXPECT_EQ(result.out, results[0].out);
      EXPECT_EQ(result.stats.restarted, 1u);
    }
  }
}

// The system may refuse one rank memory its budget allows. A level that
// rank cannot get room for is planned on every rank (it asks for the room
// before the ranks agree on storing the level), so all go on alike: here
// the 11-move search cannot grow past the planned level 5, and every rank
// ends with the same lines and "ERROR: not enough memory"; the 10-move
// search joins its planned level 5 and prints what one process prints.
TEST(RankFailures, SystemRefusesOneRankMemory) {
  struct Case {
    const char* input;
    bool finishes;
  };
  for (const Case& c : {Case{"R U F' L2 D B' R2 U' F set d 11 solve", false},
                        Case{"R U F' L2 D B' R2 U' set d 10 solve", true}}) {
    SCOPED_TRACE(c.input);
    const auto alone = test::run(c.input);
    ASSERT_EQ(alone.status, 0);
    const auto setup = [](Interpreter& interpreter) {
      if (interpreter.session().ranks()->rank() == 1) refuse_arrays_above(std::size_t{4} << 20);
    };
    const auto results = test::run_on_ranks(c.input, {}, 2, setup);
    const std::string error = "ERROR: not enough memory\n";
    for (const auto& result : results) {
      EXPECT_EQ(result.out, results[0].out);
      if (c.finishes) {
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, alone.out);
        continue;
      }
      EXPECT_EQ(result.status, 1);
      ASSERT_GE(result.out.size(), error.size());
      EXPECT_EQ(result.out.substr(result.out.size() - error.size()), error);
      const std::string before = result.out.substr(0, result.out.size() - error.size());
      EXPECT_EQ(alone.out.substr(0, before.size()), before);
    }
  }
}

// One process's run and a run of one rank are the same run.
TEST(SearchesOnRanks, OneRankIsOneProcess) {
  for (const RankCase& c : kRankCases) {
    SCOPED_TRACE(c.name);
    const auto alone = test::run(c.input, c.args);
    const auto one = test::run_on_ranks(c.input, c.args, 1)[0];
    EXPECT_EQ(one.out, alone.out);
    EXPECT_EQ(one.status, alone.status);
  }
}

}  // namespace
}  // namespace tessel
