// Joining two levels and rebuilding the sequences behind a matched
// position. Every sequence is checked by applying it, and counts are
// compared with a direct enumeration.
#include "search/join.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "core/parallel.h"
#include "cube/masks.h"
#include "cube/moves.h"
#include "search/legal_moves.h"
#include "test_util.h"

namespace tessel {
namespace {

using Sequences = std::vector<std::vector<int>>;

Cube moved(const Cube& c, const char* moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}

// Runs the join and collects what it hands out.
std::int64_t join(const search_side& f, const search_side& b, std::int64_t max_count,
                  Sequences& out, int stop_after = -1,
                  std::size_t meetings_per_part = kJoinMeetingsPerPart) {
  return find_sequence(
      {f.cache.cubes(), f.level_start, f.level_end}, {b.cache.cubes(), b.level_start, b.level_end},
      max_count,
      [&](std::span<const int> moves) {
        out.emplace_back(moves.begin(), moves.end());
        return static_cast<int>(out.size()) != stop_after;
      },
      meetings_per_part);
}

LegalMoves legal_from(const char* word) {
  LegalMoves legal;
  if (word) legal.set_3gen(word);
  return legal;
}

TEST(FindIndex, FirstEntryOfTheRunOrRight) {
  MemoryBudget budget;
  // Corner orientation markers make many positions stand several times.
  search_side side(add_missing_corner_orientation(empty_cube()), kForward, budget);
  const LegalMoves legal = legal_from("RUFrx");
  for (int level = 0; level < 3; ++level) side.grow(legal);
  const PackedCube* cubes = side.cache.cubes();
  const std::size_t s = side.level_start, e = side.level_end;
  ASSERT_GT(e - s, 10u);
  bool some_run = false;
  std::size_t run_start = s;
  for (std::size_t i = s; i < e; ++i) {
    if (i > s && compare_packed_cubes_only_cube_state(cubes[i - 1], cubes[i]) != 0) run_start = i;
    some_run = some_run || run_start != i;
    const PackedCube key = with_last_move(cubes[i], 53);  // the move does not count
    ASSERT_EQ(find_index_in_cache_level(cubes, s, e, key), run_start) << i;
    ASSERT_EQ(find_index_in_cache_level(cubes, i, e, key), i);
  }
  EXPECT_TRUE(some_run);
  // Positions of other levels are not in this one.
  EXPECT_EQ(find_index_in_cache_level(cubes, s, e, pack_ce(full_cube(), 0)), e);
  EXPECT_EQ(find_index_in_cache_level(cubes, s, e, pack_ce(empty_cube(), 0)), e);
  EXPECT_EQ(find_index_in_cache_level(cubes, s, s, cubes[s]), s);
}

// The paths behind every entry of a level are exactly the sequences in the
// side's order that produced the entry: each leads from the root to the
// entry, none comes twice, and none is missing.
TEST(FindCacheSequence, RebuildsEveryPathOfEveryEntry) {
  MemoryBudget budget;
  struct Root {
    Cube cube;
    const char* word;
  };
  // A scrambled cube, and corner markers on which several moves agree.
  const Root roots[] = {{moved(full_cube(), "D2 F' R U"), "RUFLDB"},
                        {moved(add_missing_corner_orientation(empty_cube()), "F"), "RrUFx"}};
  for (const Root& r : roots) {
    for (int direction : {kForward, kBackward}) {
      SCOPED_TRACE(std::string(r.word) + " " + std::to_string(direction));
      const LegalMoves legal = legal_from(r.word);
      std::vector<int> moves(legal.moves().begin(), legal.moves().end());
      moves.erase(std::unique(moves.begin(), moves.end()), moves.end());
      search_side side(r.cube, direction, budget);
      const int depth = 3;
      for (int level = 0; level < depth; ++level) side.grow(legal);

      // Sequences of three moves in the side's order, each move changing
      // the cube, counted per (position, last move).
      std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> ordered;
      for (int a : moves)
        for (int b : moves)
          for (int c : moves) {
            const std::vector<int> seq = {a, b, c};
            if (is_forbidden_sequence(seq, direction)) continue;
            Cube x = r.cube;
            bool changes = true;
            for (int m : seq) {
              const Cube y = apply_move(m, x);
              changes = changes && y != x;
              x = y;
            }
            if (!changes) continue;
            const PackedCube p = pack_ce(x, c);
            ++ordered[{p.hi, p.lo}];
          }

      std::size_t paths = 0;
      for (std::size_t i = side.level_start; i < side.level_end; ++i) {
        sequence_list list;
        find_cache_sequence(list, side.cache.cubes(), side.level_start, i, direction);
        const Cube entry = unpack_cube(side.cache.cubes()[i]);
        std::set<std::vector<int>> distinct;
        for (std::size_t k = 0; k < list.count; ++k) {
          ASSERT_EQ(list.length, depth);
          const auto path = list.path(k);
          const std::vector<int> p(path.begin(), path.end());
          ASSERT_EQ(test::apply_sequence(r.cube, p), entry);
          ASSERT_EQ(p.back(), unpack_last_move(side.cache.cubes()[i]));
          ASSERT_FALSE(is_forbidden_sequence(p, direction)) << sequence_text(p);
          ASSERT_TRUE(distinct.insert(p).second) << "path rebuilt twice";
        }
        const PackedCube& c = side.cache.cubes()[i];
        ASSERT_EQ(list.count, (ordered[{c.hi, c.lo}])) << i;
        paths += list.count;
      }
      EXPECT_EQ(side.level_end - side.level_start, ordered.size());
      std::size_t total = 0;
      for (const auto& [key, n] : ordered) total += n;
      EXPECT_EQ(paths, total);
    }
  }
}

TEST(FindCacheSequence, RootGivesOneEmptyPath) {
  MemoryBudget budget;
  search_side side(full_cube(), kForward, budget);
  sequence_list list;
  find_cache_sequence(list, side.cache.cubes(), 0, 0, kForward);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(list.length, 0);
}

TEST(FindSequence, BackwardLevelZeroGivesTheForwardPathsAlone) {
  MemoryBudget budget;
  const LegalMoves legal;
  const Cube first = moved(full_cube(), "F R U");
  search_side forward(first, kForward, budget), backward(full_cube(), kBackward, budget);
  for (int level = 0; level < 3; ++level) forward.grow(legal);
  Sequences got;
  const auto n = join(forward, backward, 1000, got);
  EXPECT_EQ(n, static_cast<std::int64_t>(got.size()));
  EXPECT_EQ(n, test::count_canonical_sequences(first, full_cube(), 3,
                                               {legal.moves().begin(), legal.moves().end()}));
  EXPECT_NE(std::find(got.begin(), got.end(), test::parse_moves("U' R' F'")), got.end());
  for (const auto& s : got) EXPECT_EQ(test::apply_sequence(first, s), full_cube());
}

struct JoinRuleCase {
  const char* name;
  const char* first;  // moves applied to the solved cube
  const char* forward_word;
  const char* second;  // moves applied to the first cube
  const char* backward_word;
  Sequences expected;
};

void PrintTo(const JoinRuleCase& c, std::ostream* os) { *os << c.name; }

class JoinRule : public ::testing::TestWithParam<JoinRuleCase> {};

TEST_P(JoinRule, DropsJoinsThatBreakTheOrder) {
  const auto& c = GetParam();
  MemoryBudget budget;
  const Cube first = moved(full_cube(), c.first);
  search_side forward(first, kForward, budget),
      backward(moved(first, c.second), kBackward, budget);
  forward.grow(legal_from(c.forward_word));
  backward.grow(legal_from(c.backward_word));
  Sequences got;
  EXPECT_EQ(join(forward, backward, 100, got), static_cast<std::int64_t>(c.expected.size()));
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinRule,
    ::testing::Values(JoinRuleCase{"R_then_R2", "", "R", "R R2", "R2", {}},
                      JoinRuleCase{"R_then_L", "", "R", "R L", "L", {}},
                      JoinRuleCase{"R_then_U", "", "R", "R U", "U", {{0, 3}}},
                      // x after R on the solved cube would change nothing.
                      JoinRuleCase{"R_then_x", "U", "R", "R x", "x", {{0, 18}}},
                      JoinRuleCase{"L_then_R", "", "L", "L R", "R", {{9, 0}}},
                      JoinRuleCase{"R_then_M", "", "R", "R M", "M", {}},
                      JoinRuleCase{"M_then_R", "", "M", "M R", "R", {{27, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// On a cube that carries only corner orientation markers, R, R', r and r'
// all give the same position (R2 changes nothing, and the middle layer
// carries no colour), so one position stands four times in a level.
const Cube kCornerMarks = add_missing_corner_orientation(empty_cube());

TEST(FindSequence, EntriesOfOneRunInIndexOrder) {
  MemoryBudget budget;
  const Cube p = apply_move(0, kCornerMarks);
  {
    search_side forward(kCornerMarks, kForward, budget), backward(p, kBackward, budget);
    forward.grow(legal_from("Rr"));
    ASSERT_EQ(forward.level_end - forward.level_start, 4u);
    Sequences got;
    EXPECT_EQ(join(forward, backward, 100, got), 4);
    EXPECT_EQ(got, (Sequences{{0}, {2}, {36}, {38}}));
    got.clear();
    // The count is reached inside the run: the rest is not visited.
    EXPECT_EQ(join(forward, backward, 2, got), 2);
    EXPECT_EQ(got, (Sequences{{0}, {2}}));
    got.clear();
    // Any count of 1 or less stops at the first sequence.
    for (int max_count : {1, 0, -5}) {
      got.clear();
      EXPECT_EQ(join(forward, backward, max_count, got), 1);
      EXPECT_EQ(got, (Sequences{{0}}));
    }
    got.clear();
    EXPECT_EQ(join(forward, backward, 100, got, 3), 3);  // the receiver says stop
  }
  {
    // The same run on the backward side: its paths come back inverted.
    search_side forward(p, kForward, budget), backward(kCornerMarks, kBackward, budget);
    backward.grow(legal_from("Rr"));
    Sequences got;
    EXPECT_EQ(join(forward, backward, 100, got), 4);
    EXPECT_EQ(got, (Sequences{{2}, {0}, {38}, {36}}));
  }
}

TEST(FindSequence, PairsOfEntriesForwardMajor) {
  // Two forward entries (R, R') and two backward entries (U', u') of one
  // position: four sequences, forward entry by forward entry.
  MemoryBudget budget;
  search_side forward(kCornerMarks, kForward, budget);
  search_side backward(moved(kCornerMarks, "R U"), kBackward, budget);
  forward.grow(legal_from("R"));
  backward.grow(legal_from("Uu"));
  Sequences got;
  EXPECT_EQ(join(forward, backward, 100, got), 4);
  EXPECT_EQ(got, (Sequences{{0, 3}, {0, 42}, {2, 3}, {2, 42}}));
  for (const auto& s : got)
    EXPECT_EQ(test::apply_sequence(kCornerMarks, s), moved(kCornerMarks, "R U"));
}

TEST(FindSequence, EmptyLevelsGiveNothing) {
  MemoryBudget budget;
  search_side forward(full_cube(), kForward, budget), backward(full_cube(), kBackward, budget);
  forward.grow(legal_from(""));
  backward.grow(legal_from(nullptr));
  Sequences got;
  EXPECT_EQ(join(forward, backward, 100, got), 0);
  EXPECT_EQ(join(backward, forward, 100, got), 0);
  EXPECT_TRUE(got.empty());
}

struct CountCase {
  const char* name;
  Cube first;
  Cube second;
  const char* word;  // nullptr: the 18 face turns
  int forward_depth, backward_depth;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class JoinCounts : public ::testing::TestWithParam<CountCase> {};

TEST_P(JoinCounts, EverySequenceOnceAndEachOneWorks) {
  const auto& c = GetParam();
  MemoryBudget budget;
  const LegalMoves legal = legal_from(c.word);
  std::vector<int> distinct(legal.moves().begin(), legal.moves().end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  search_side forward(c.first, kForward, budget), backward(c.second, kBackward, budget);
  for (int i = 0; i < c.forward_depth; ++i) forward.grow(legal);
  for (int i = 0; i < c.backward_depth; ++i) backward.grow(legal);
  Sequences got;
  const auto n = join(forward, backward, 1 << 30, got);
  ASSERT_EQ(n, static_cast<std::int64_t>(got.size()));
  const int length = c.forward_depth + c.backward_depth;
  EXPECT_EQ(n, test::count_canonical_sequences(c.first, c.second, length, distinct));
  std::set<std::vector<int>> distinct_sequences;
  for (const auto& s : got) {
    ASSERT_EQ(static_cast<int>(s.size()), length);
    ASSERT_EQ(test::apply_sequence(c.first, s), c.second) << sequence_text(s);
    ASSERT_TRUE(distinct_sequences.insert(s).second) << "twice: " << sequence_text(s);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinCounts,
    ::testing::Values(
        CountCase{"five_moves", moved(full_cube(), "R U' F2 L D"), full_cube(), nullptr, 3, 2},
        CountCase{"six_moves", moved(full_cube(), "B2 R' D F U2 L'"), full_cube(), nullptr, 3, 3},
        CountCase{"equal_cubes", full_cube(), full_cube(), nullptr, 3, 3},
        CountCase{"corner_orientation", moved(kCornerMarks, "R F' U"), kCornerMarks, nullptr, 2, 2},
        CountCase{"cross", moved(add_cross(empty_cube()), "F R D'"), add_cross(empty_cube()),
                  nullptr, 2, 2},
        CountCase{"wide_and_slices", moved(full_cube(), "r U M'"), full_cube(), "RrUM", 2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Large joins look for meetings on several threads; what they hand out,
// and in which order, must not depend on how many.
struct ThreadJoinCase {
  const char* name;
  Cube first;
  Cube second;
  int forward_depth, backward_depth;  // the two levels hold 2^21 entries or more
  std::vector<std::int64_t> limits;   // max_count values to try
};

void PrintTo(const ThreadJoinCase& c, std::ostream* os) { *os << c.name; }

class JoinForAnyThreadCount : public ::testing::TestWithParam<ThreadJoinCase> {};

TEST_P(JoinForAnyThreadCount, SameSequencesInTheSameOrder) {
  const auto& c = GetParam();
  MemoryBudget budget;
  const LegalMoves legal;
  search_side forward(c.first, kForward, budget), backward(c.second, kBackward, budget);
  for (int i = 0; i < c.forward_depth; ++i) forward.grow(legal);
  for (int i = 0; i < c.backward_depth; ++i) backward.grow(legal);
  ASSERT_GE(forward.level_end - forward.level_start + backward.level_end - backward.level_start,
            std::size_t{1} << 21);
  for (std::int64_t limit : c.limits) {
    SCOPED_TRACE("at most " + std::to_string(limit));
    set_work_threads(1);
    Sequences one;
    const std::int64_t n = join(forward, backward, limit, one);
    for (unsigned threads : {2u, 3u, 8u}) {
      for (std::size_t noted : {kJoinMeetingsPerPart, std::size_t{1}, std::size_t{100}}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(noted) + " noted");
        set_work_threads(threads);
        Sequences many;
        EXPECT_EQ(join(forward, backward, limit, many, -1, noted), n);
        EXPECT_TRUE(many == one);
      }
    }
    set_work_threads(0);
    for (const auto& s : one) ASSERT_EQ(test::apply_sequence(c.first, s), c.second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinForAnyThreadCount,
    ::testing::Values(
        ThreadJoinCase{"eleven_moves", moved(full_cube(), "R U' F2 L D B' R2 U F' L2 D'"),
                       full_cube(), 6, 5, {1, 1 << 30}},
        // Many meetings: more than a part notes.
        ThreadJoinCase{"first_two_layers", moved(add_f2l(empty_cube()), "R U F"),
                       add_f2l(empty_cube()), 6, 5, {1, 7, 1500, 20000, 1 << 30}}),
    [](const auto& info) { return std::string(info.param.name); });

// A sink that fails (standard output gone) ends a threaded join with its
// failure; the other threads stop.
TEST(FindSequence, AFailingSinkEndsAThreadedJoin) {
  MemoryBudget budget;
  const LegalMoves legal;
  const Cube first = moved(add_f2l(empty_cube()), "R U F");
  const Cube second = add_f2l(empty_cube());
  search_side forward(first, kForward, budget), backward(second, kBackward, budget);
  for (int i = 0; i < 6; ++i) forward.grow(legal);
  for (int i = 0; i < 5; ++i) backward.grow(legal);
  for (unsigned threads : {1u, 2u, 3u}) {
    set_work_threads(threads);
    int handed = 0;
    try {
      find_sequence({forward.cache.cubes(), forward.level_start, forward.level_end},
                    {backward.cache.cubes(), backward.level_start, backward.level_end}, 1 << 30,
                    [&handed](std::span<const int>) -> bool {
                      if (++handed == 3) fail(kOutputFailed);
                      return true;
                    });
      ADD_FAILURE() << "no failure with " << threads << " threads";
    } catch (const Failure& f) {
      EXPECT_EQ(f.message, kOutputFailed);
    }
    EXPECT_EQ(handed, 3);
  }
  set_work_threads(0);
}

// ---------------------------------------------------------------------------
// The join against a plain reference: for each position both levels hold,
// every forward entry a, every backward entry b, every forward path k and
// every backward path n, rebuilt afresh for each pair of entries. The join
// must hand out the same sequences in the same order, and stop at the same
// place.

// What the reference saw: the largest runs of one position on each side
// and the most paths behind one entry, so a case can show it tries what it
// means to.
struct ReferenceShape {
  std::size_t forward_run = 0, backward_run = 0, paths = 0, meetings = 0;
  std::size_t forbidden_middles = 0;  // pairs of paths dropped at the middle
};

Sequences reference_join(const search_side& f, const search_side& b, ReferenceShape& shape) {
  const PackedCube* fc = f.cache.cubes();
  const PackedCube* bc = b.cache.cubes();
  Sequences out;
  std::size_t i = f.level_start, j = b.level_start;
  while (i < f.level_end && j < b.level_end) {
    const int c = compare_packed_cubes_only_cube_state(fc[i], bc[j]);
    if (c != 0) {
      (c < 0 ? i : j) += 1;
      continue;
    }
    std::size_t i_end = i, j_end = j;
    while (i_end < f.level_end && compare_packed_cubes_only_cube_state(fc[i_end], fc[i]) == 0)
      ++i_end;
    while (j_end < b.level_end && compare_packed_cubes_only_cube_state(bc[j_end], bc[j]) == 0)
      ++j_end;
    ++shape.meetings;
    shape.forward_run = std::max(shape.forward_run, i_end - i);
    shape.backward_run = std::max(shape.backward_run, j_end - j);
    for (std::size_t a = i; a < i_end; ++a)
      for (std::size_t e = j; e < j_end; ++e) {
        sequence_list sf, sb;
        find_cache_sequence(sf, fc, f.level_start, a, kForward);
        find_cache_sequence(sb, bc, b.level_start, e, kBackward);
        shape.paths = std::max({shape.paths, sf.count, sb.count});
        for (std::size_t k = 0; k < sf.count; ++k)
          for (std::size_t n = 0; n < sb.count; ++n) {
            const auto fp = sf.path(k);
            const auto bp = sb.path(n);
            std::vector<int> s(fp.begin(), fp.end());
            for (std::size_t t = bp.size(); t-- > 0;) s.push_back(reverse_rotation(bp[t]));
            if (!fp.empty() && !bp.empty() &&
                is_forbidden_pair(s[fp.size()], s[fp.size() - 1], kForward))
              ++shape.forbidden_middles;
            if (!is_forbidden_sequence(s, kForward)) out.push_back(s);
          }
      }
    i = i_end;
    j = j_end;
  }
  return out;
}

struct ReferenceCase {
  const char* name;
  Cube first;
  const char* second;  // moves applied to the first cube
  const char* word;
  int forward_depth, backward_depth;
};

void PrintTo(const ReferenceCase& c, std::ostream* os) { *os << c.name; }

class JoinLikeReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(JoinLikeReference, SameSequencesSameOrderSameStop) {
  const auto& c = GetParam();
  MemoryBudget budget;
  const LegalMoves legal = legal_from(c.word);
  const Cube second = moved(c.first, c.second);
  search_side forward(c.first, kForward, budget), backward(second, kBackward, budget);
  for (int i = 0; i < c.forward_depth; ++i) forward.grow(legal);
  for (int i = 0; i < c.backward_depth; ++i) backward.grow(legal);

  ReferenceShape shape;
  const Sequences expected = reference_join(forward, backward, shape);
  // Runs of several entries on both sides, several paths behind an entry,
  // and forbidden middle pairs among them: the orders of a, b, k and n and
  // the skipped pairs all show in the result.
  EXPECT_GE(shape.forward_run, 2u);
  EXPECT_GE(shape.backward_run, 2u);
  EXPECT_GE(shape.paths, 2u);
  EXPECT_GE(shape.meetings, 2u);
  EXPECT_GE(shape.forbidden_middles, 1u);
  ASSERT_GE(expected.size(), 20u);
  for (const auto& s : expected) ASSERT_EQ(test::apply_sequence(c.first, s), second);

  Sequences got;
  EXPECT_EQ(join(forward, backward, 1 << 30, got), static_cast<std::int64_t>(expected.size()));
  EXPECT_TRUE(got == expected);

  // Stopping early, by count or by the receiver, gives a prefix. The
  // same joins again and again in one process cannot leave anything behind
  // either.
  const std::size_t total = expected.size();
  for (std::size_t limit : {std::size_t{1}, std::size_t{2}, std::size_t{3}, total / 3, total / 2,
                            total - 1, total}) {
    SCOPED_TRACE("at most " + std::to_string(limit));
    const Sequences prefix(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(limit));
    got.clear();
    EXPECT_EQ(join(forward, backward, static_cast<std::int64_t>(limit), got),
              static_cast<std::int64_t>(limit));
    EXPECT_TRUE(got == prefix);
    got.clear();
    EXPECT_EQ(join(forward, backward, 1 << 30, got, static_cast<int>(limit)),
              static_cast<std::int64_t>(limit));
    EXPECT_TRUE(got == prefix);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinLikeReference,
    ::testing::Values(
        // Corner markers only: an outer turn and the wide turn of its face
        // agree, and slices change nothing on their own.
        ReferenceCase{"corner_marks_wide_turns", kCornerMarks, "R U F'", "RrUuFf", 2, 2},
        ReferenceCase{"corner_marks_three_and_two", kCornerMarks, "R U r' F", "RrUuFf", 3, 2},
        ReferenceCase{"corner_marks_slices", kCornerMarks, "R U' F2", "RrUuFfMES", 2, 2},
        ReferenceCase{"corner_marks_rotations", kCornerMarks, "r U' y", "RrUuFxyz", 2, 2},
        // Turns about one axis on the whole cube: R, L, r, l, M and x give
        // each position of two moves in several ways.
        ReferenceCase{"one_axis", full_cube(), "R l' x", "RrLlMx", 2, 2},
        ReferenceCase{"cross_slices_and_rotation", add_cross(empty_cube()), "R u F2", "RrUuFMESy",
                      2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SequenceText, NamesEachFollowedByABlank) {
  EXPECT_EQ(sequence_text(test::parse_moves("R U' F2")), "R U' F2 ");
  EXPECT_EQ(sequence_text(std::vector<int>{}), "");
  EXPECT_EQ(sequence_text(std::vector<int>{53, 27}), "b' M ");
}

}  // namespace
}  // namespace tessel
