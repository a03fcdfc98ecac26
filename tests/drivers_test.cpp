// Whole searches: every printed sequence is applied and checked, the
// number of sequences per length is compared with a direct enumeration,
// and the search limits, the two-phase solver and running out of memory
// are checked on what a user sees.
#include "search/drivers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cube/masks.h"
#include "cube/moves.h"
#include "search/join.h"
#include "test_util.h"

namespace tessel {
namespace {

// Move names of a printed line; false when a word is no move name.
bool parse_line(const std::string& line, std::vector<int>& moves) {
  moves = test::parse_moves(line);
  return std::none_of(moves.begin(), moves.end(), [](int m) { return m < 0; });
}

Cube moved(const Cube& c, const std::string& moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}

std::vector<int> distinct_moves(const LegalMoves& legal) {
  std::vector<int> v(legal.moves().begin(), legal.moves().end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

// What `solve` printed, split up: the lengths announced by the progress
// lines, in order, and the sequences found under each.
struct SolveOutput {
  std::vector<int> searched;
  std::map<int, std::vector<std::vector<int>>> found;
  std::vector<std::vector<int>> all;  // in output order
};

SolveOutput parse_solve_output(const std::string& out) {
  SolveOutput r;
  std::istringstream lines(out);
  std::string line;
  int current = 0;
  while (std::getline(lines, line)) {
    int n = 0;
    char tail[64] = {};
    if (std::sscanf(line.c_str(), "INFO: Searching %d move solutions%63s", &n, tail) == 2 &&
        std::string(tail) == "...") {
      EXPECT_EQ(line, "INFO: Searching " + std::to_string(n) + " move solutions...");
      r.searched.push_back(n);
      current = n;
      continue;
    }
    // A sequence: move names, each followed by one blank.
    EXPECT_FALSE(line.empty()) << "empty line in the output";
    EXPECT_EQ(line.back(), ' ') << line;
    std::vector<int> moves;
    if (!parse_line(line, moves)) {
      ADD_FAILURE() << "unexpected line: " << line;
      continue;
    }
    EXPECT_EQ(sequence_text(moves), line);
    // Without progress lines (--silent) the sequence's own length counts.
    if (current > 0) {
      EXPECT_EQ(static_cast<int>(moves.size()), current)
          << "sequence under the wrong length: " << line;
    }
    r.found[static_cast<int>(moves.size())].push_back(moves);
    r.all.push_back(moves);
  }
  EXPECT_TRUE(out.empty() || out.back() == '\n');
  return r;
}

SolveOutput run_solve(const Cube& first, const Cube& second, search_parameters p,
                      const char* generator = nullptr) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  if (generator) session.legal().set_3gen(generator);
  solve(first, second, p, session);
  EXPECT_EQ(err.str(), "");
  return parse_solve_output(out.str());
}

search_parameters depth(int d, int max_sequences = 1000000, int after_first = -1) {
  search_parameters p;
  p.max_depth_of_search = d;
  p.max_number_of_sequences = max_sequences;
  p.max_depth_after_first_match = after_first;
  return p;
}

std::vector<int> one_to(int n) {
  std::vector<int> v;
  for (int i = 1; i <= n; ++i) v.push_back(i);
  return v;
}

// ---------------------------------------------------------------------------
// Every sequence of every length, checked against a direct enumeration.

struct SolveCase {
  std::string name;
  Cube first;
  Cube second;
  const char* generator;  // nullptr: the 18 face turns
  int max_depth;
};

std::vector<SolveCase> solve_cases() {
  std::vector<SolveCase> cases;
  std::mt19937 rng(20240611);
  for (int k = 0; k < 6; ++k) {
    const auto scramble = test::random_moves(rng, 3 + k % 3);
    const Cube c = test::apply_sequence(full_cube(), scramble);
    // Half solve (scrambled to solved), half reconstruct (solved to scrambled).
    if (k % 2 == 0)
      cases.push_back({"solve_random_" + std::to_string(k), c, full_cube(), nullptr, 7});
    else
      cases.push_back({"reconstruct_random_" + std::to_string(k), full_cube(), c, nullptr, 7});
  }
  const Cube e = empty_cube();
  const Cube corners = add_missing_corner_orientation(e);
  const Cube edges = add_missing_edges_orientation(e);
  cases.push_back({"wide_and_slice_moves", moved(full_cube(), "r U M'"), full_cube(), "RUFrM", 6});
  cases.push_back({"rotations", moved(full_cube(), "R x U"), full_cube(), "RUxy", 6});
  cases.push_back({"cross", moved(add_cross(e), "F R D' B"), add_cross(e), nullptr, 6});
  cases.push_back({"corner_orientation", moved(corners, "R F' U L"), corners, nullptr, 6});
  cases.push_back({"edge_orientation", moved(edges, "F R B"), edges, nullptr, 6});
  cases.push_back({"f2l", moved(add_f2l(e), "R U R'"), add_f2l(e), nullptr, 7});
  cases.push_back(
      {"domino", moved(add_domino_elements(e), "R F B'"), add_domino_elements(e), nullptr, 6});
  cases.push_back({"reconstruct_domino", add_domino_elements(e),
                   moved(add_domino_elements(e), "L' U F"), nullptr, 6});
  cases.push_back({"corner_permutation",
                   moved(add_missing_corner_permutation(add_f2l(e)), "U R U'"),
                   add_missing_corner_permutation(add_f2l(e)), nullptr, 6});
  cases.push_back({"equal_cubes", full_cube(), full_cube(), nullptr, 6});
  cases.push_back({"equal_masked_cubes", corners, corners, nullptr, 5});
  return cases;
}

void PrintTo(const SolveCase& c, std::ostream* os) { *os << c.name; }

class SolveCounts : public ::testing::TestWithParam<SolveCase> {};

TEST_P(SolveCounts, PrintsEverySequenceOnceByIncreasingLength) {
  const auto& c = GetParam();
  const SolveOutput out = run_solve(c.first, c.second, depth(c.max_depth), c.generator);
  EXPECT_EQ(out.searched, one_to(c.max_depth));

  LegalMoves legal;
  if (c.generator) legal.set_3gen(c.generator);
  const auto moves = distinct_moves(legal);
  for (int n = 1; n <= c.max_depth; ++n) {
    const auto it = out.found.find(n);
    const long long printed = it == out.found.end() ? 0 : static_cast<long long>(it->second.size());
    EXPECT_EQ(printed, test::count_canonical_sequences(c.first, c.second, n, moves))
        << "length " << n;
  }
  std::set<std::vector<int>> seen;
  for (const auto& s : out.all) {
    EXPECT_EQ(test::apply_sequence(c.first, s), c.second) << sequence_text(s);
    EXPECT_TRUE(seen.insert(s).second) << "printed twice: " << sequence_text(s);
    for (int m : s) EXPECT_NE(std::find(moves.begin(), moves.end(), m), moves.end());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SolveCounts, ::testing::ValuesIn(solve_cases()),
                         [](const auto& info) { return info.param.name; });

// Through the interpreter: solve and reconstruct use the two registers in
// opposite roles, and every printed sequence joins them.
TEST(SolveCommand, SolveAndReconstructThroughTheInterpreter) {
  const auto solved = test::run(
      "init_empty_cube add_f2l add_corners_orientation R U' F set d 6 solve", {"--silent"});
  EXPECT_EQ(solved.status, 0);
  const Cube target = add_missing_corner_orientation(add_f2l(empty_cube()));
  const Cube current = moved(target, "R U' F");
  const SolveOutput s = parse_solve_output(solved.out);
  EXPECT_TRUE(s.searched.empty());  // --silent
  ASSERT_FALSE(s.all.empty());
  for (const auto& seq : s.all) EXPECT_EQ(test::apply_sequence(current, seq), target);

  const auto rebuilt = test::run(
      "init_empty_cube add_f2l add_corners_orientation R U' F set d 6 reconstruct", {"--silent"});
  const SolveOutput r = parse_solve_output(rebuilt.out);
  ASSERT_FALSE(r.all.empty());
  for (const auto& seq : r.all) EXPECT_EQ(test::apply_sequence(target, seq), current);
}

// ---------------------------------------------------------------------------
// Limits of a search.

const Cube kCorners = add_missing_corner_orientation(empty_cube());
// 0, 0, 0, 22, 218, 1682 sequences of lengths 1 to 6.
const Cube kCornersMoved = moved(kCorners, "R F' U L");

std::size_t count_of(const SolveOutput& o, int n) {
  const auto it = o.found.find(n);
  return it == o.found.end() ? 0 : it->second.size();
}

TEST(SolveLimits, MaxNumberOfSequences) {
  const SolveOutput all = run_solve(kCornersMoved, kCorners, depth(6));
  ASSERT_EQ(count_of(all, 4), 22u);
  ASSERT_EQ(count_of(all, 5), 218u);

  struct Row {
    int max_sequences;
    int last_length;
  };
  for (const Row row : {Row{1, 4}, Row{5, 4}, Row{22, 4}, Row{25, 5}, Row{240, 5}, Row{241, 6}}) {
    SCOPED_TRACE(row.max_sequences);
    const SolveOutput o = run_solve(kCornersMoved, kCorners, depth(6, row.max_sequences));
    EXPECT_EQ(o.searched, one_to(row.last_length));
    ASSERT_EQ(o.all.size(), static_cast<std::size_t>(row.max_sequences));
    // The first sequences of the unlimited search, in the same order.
    EXPECT_TRUE(std::equal(o.all.begin(), o.all.end(), all.all.begin()));
  }
}

TEST(SolveLimits, ZeroOrNegativeCountStopsAfterTheFirstLength) {
  for (int max_sequences : {0, -3}) {
    SCOPED_TRACE(max_sequences);
    // A one-move position: the first join already finds it.
    SolveOutput o = run_solve(moved(full_cube(), "R"), full_cube(), depth(22, max_sequences));
    EXPECT_EQ(o.searched, std::vector<int>{1});
    EXPECT_EQ(o.all, (std::vector<std::vector<int>>{{2}}));
    // Nothing in one move: nothing printed, yet the search ends.
    o = run_solve(kCornersMoved, kCorners, depth(22, max_sequences));
    EXPECT_EQ(o.searched, std::vector<int>{1});
    EXPECT_TRUE(o.all.empty());
  }
}

TEST(SolveLimits, DepthAfterFirstMatch) {
  struct Row {
    int max_depth, after_first;
    std::vector<int> searched;
    std::size_t printed;
  };
  const Row rows[] = {
      {22, 0, one_to(4), 22},        // all of the first length, then stop
      {22, 1, one_to(5), 22 + 218},  // one more length
      {22, 2, one_to(6), 22 + 218 + 1682},
      {5, 2, one_to(5), 22 + 218},  // the depth limit is lower
      {6, -1, one_to(6), 22 + 218 + 1682},
      {3, 0, one_to(3), 0},  // nothing found within the depth
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.max_depth) + " " + std::to_string(row.after_first));
    const SolveOutput o =
        run_solve(kCornersMoved, kCorners, depth(row.max_depth, 1000000, row.after_first));
    EXPECT_EQ(o.searched, row.searched);
    EXPECT_EQ(o.all.size(), row.printed);
  }
}

TEST(SolveLimits, DepthOneOrLessSearchesOneMoveSequencesOnly) {
  for (int d : {1, 0, -4}) {
    SCOPED_TRACE(d);
    SolveOutput o = run_solve(moved(full_cube(), "U2"), full_cube(), depth(d));
    EXPECT_EQ(o.searched, std::vector<int>{1});
    EXPECT_EQ(o.all, (std::vector<std::vector<int>>{{4}}));
    o = run_solve(moved(full_cube(), "U2 R"), full_cube(), depth(d));
    EXPECT_EQ(o.searched, std::vector<int>{1});
    EXPECT_TRUE(o.all.empty());
  }
}

TEST(SolveLimits, EmptyLegalListFindsNothing) {
  const SolveOutput o = run_solve(moved(full_cube(), "R"), full_cube(), depth(5), "");
  EXPECT_EQ(o.searched, one_to(5));
  EXPECT_TRUE(o.all.empty());
}

TEST(SolveLimits, TheCallersParametersStay) {
  // The first search lowers its own depth limit after the match at 2; the
  // second must still search to length 3.
  const auto r = test::run("set da 0 R U solve R' solve");
  const std::string tail = r.out.substr(r.out.find("INFO: Searching 1"));
  const SolveOutput o = parse_solve_output(tail);
  EXPECT_EQ(o.searched, (std::vector<int>{1, 2, 1, 2, 3}));
  EXPECT_EQ(o.all, (std::vector<std::vector<int>>{{5, 2}, {0, 5, 2}}));
}

// ---------------------------------------------------------------------------
// One shortest sequence.

TEST(SolveSinglePhase, ShortestWithinTheLimitOrNothing) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  const Cube start = moved(full_cube(), "R U F");
  auto r = solve_single_phase(start, full_cube(), 2, session);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, test::parse_moves("F' U' R'"));
  EXPECT_FALSE(solve_single_phase(start, full_cube(), 1, session).has_value());  // 2 moves at most
  EXPECT_FALSE(solve_single_phase(start, full_cube(), 0, session).has_value());
  // Equal cubes: never the empty sequence. No sequence of one to three face
  // turns takes the corner-orientation cube back to itself; the four-move
  // one takes two levels a side.
  const auto face_turns = distinct_moves(LegalMoves{});
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(test::count_canonical_sequences(kCorners, kCorners, n, face_turns), 0) << n;
  r = solve_single_phase(kCorners, kCorners, 3, session);
  ASSERT_TRUE(r.has_value());
  EXPECT_FALSE(r->empty());
  EXPECT_EQ(test::apply_sequence(kCorners, *r), kCorners);
  EXPECT_EQ(*r, test::parse_moves("B L2 R2 F'"));
  EXPECT_EQ(solve_single_phase(kCorners, kCorners, 2, session), r);
  EXPECT_FALSE(solve_single_phase(kCorners, kCorners, 1, session).has_value());
  EXPECT_EQ(out.str(), "");
}

// ---------------------------------------------------------------------------
// Two phases.

struct TwoPhaseLine {
  std::vector<int> phase1, phase2;
};

TwoPhaseLine parse_two_phase(const std::string& line) {
  // Phase-1 names each followed by a blank, two blanks, phase-2 names each
  // followed by a blank, line end.
  TwoPhaseLine r;
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  std::size_t split = line.find("  ");
  EXPECT_NE(split, std::string::npos);
  if (split == std::string::npos) return r;
  if (split > 0) ++split;  // the blank after the last phase-1 name
  const std::string first = line.substr(0, split),
                    second = line.substr(split + 2, line.size() - split - 3);
  EXPECT_TRUE(parse_line(first, r.phase1)) << first;
  EXPECT_TRUE(parse_line(second, r.phase2)) << second;
  if (testing::Test::HasFailure()) return {};
  EXPECT_EQ(sequence_text(r.phase1), first);
  EXPECT_EQ(sequence_text(r.phase2), second);
  return r;
}

const std::vector<int> kPhase2Moves = {1, 3, 4, 5, 7, 10, 12, 13, 14, 16};

void expect_solves(const std::vector<int>& history, const TwoPhaseLine& line) {
  const Cube domino = add_domino_elements(empty_cube());
  EXPECT_EQ(test::apply_sequence(test::apply_sequence(domino, history), line.phase1), domino)
      << "phase 1 does not reach the domino target";
  Cube c = test::apply_sequence(full_cube(), history);
  c = test::apply_sequence(c, line.phase1);
  c = test::apply_sequence(c, line.phase2);
  EXPECT_EQ(c, full_cube()) << "the two phases do not solve the history";
  EXPECT_LE(line.phase1.size(), 22u);
  EXPECT_LE(line.phase2.size(), 22u);
  for (int m : line.phase1) EXPECT_LT(m, 18);
  for (int m : line.phase2)
    EXPECT_NE(std::find(kPhase2Moves.begin(), kPhase2Moves.end(), m), kPhase2Moves.end());
}

TEST(SolveTwoPhase, SolvesSeededScrambles) {
  std::mt19937 rng(77);
  for (int k = 0; k < 3; ++k) {
    const auto history = test::random_moves(rng, 10 + 2 * k);
    SCOPED_TRACE(sequence_text(history));
    std::ostringstream out, err;
    SearchSession session(out, err);
    solve_two_phase(history, 11, session);
    const std::string text = out.str();
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    const auto line = parse_two_phase(text);
    EXPECT_FALSE(line.phase1.empty());
    expect_solves(history, line);
    EXPECT_EQ(distinct_moves(session.legal()), kPhase2Moves);
  }
}

TEST(SolveTwoPhase, ShortHistories) {
  struct Row {
    std::vector<int> history;
    std::string line;  // empty: only check that it solves
  };
  const Row rows[] = {
      // R and R' both bring the domino target back; R comes first.
      {test::parse_moves("R"), "R   R2 \n"},
      // R2 and U leave the domino target as it is.
      {test::parse_moves("R2 U"), ""},
      // Phase 1 starts at its target: a non-empty phase 1 is searched for.
      {{}, ""},
      {test::parse_moves("F R U R' U' F'"), ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(sequence_text(row.history));
    std::ostringstream out, err;
    SearchSession session(out, err);
    solve_two_phase(row.history, 11, session);
    if (!row.line.empty()) {
      EXPECT_EQ(out.str(), row.line);
    }
    const auto line = parse_two_phase(out.str());
    if (row.history.empty()) {
      EXPECT_FALSE(line.phase1.empty());
    }
    expect_solves(row.history, line);
  }
}

TEST(SolveTwoPhase, NothingFoundPrintsAnEmptyPhaseAndSkipsPhaseTwo) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  // No domino position of this scramble is within 2 moves.
  solve_two_phase(test::parse_moves("R U F L D B R U"), 1, session);
  EXPECT_EQ(out.str(), "  \n");
  EXPECT_EQ(distinct_moves(session.legal()), kPhase2Moves);
}

TEST(SolveTwoPhase, LaterSearchesUseThePhaseTwoMoves) {
  const auto r =
      test::run("F R U R' U' F' solve_two_phase init_full_cube R U2 set d 4 solve", {"--silent"});
  EXPECT_EQ(r.status, 0);
  const auto first_line_end = r.out.find('\n');
  const SolveOutput o = parse_solve_output(r.out.substr(first_line_end + 1));
  // R is not a phase-2 move: R U2 cannot be undone with them within 4.
  EXPECT_TRUE(o.all.empty());
  const auto u =
      test::run("F R U R' U' F' solve_two_phase init_full_cube R2 U2 set d 4 solve", {"--silent"});
  const SolveOutput ou = parse_solve_output(u.out.substr(u.out.find('\n') + 1));
  ASSERT_FALSE(ou.all.empty());
  for (const auto& s : ou.all) {
    EXPECT_EQ(test::apply_sequence(moved(full_cube(), "R2 U2"), s), full_cube());
    for (int m : s)
      EXPECT_NE(std::find(kPhase2Moves.begin(), kPhase2Moves.end(), m), kPhase2Moves.end());
  }
}

// ---------------------------------------------------------------------------
// Running out of memory in the real program.

struct ProcessResult {
  int wait_status = -1;
  std::string out;
};

ProcessResult run_limited(const std::string& input, long limit_kib) {
  const std::string command = "printf '%s' '" + input + "' | sh -c 'ulimit -v " +
                              std::to_string(limit_kib) + "; exec \"" + TESSEL_BINARY +
                              "\"' 2>/dev/null";
  ProcessResult r;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  r.wait_status = pclose(pipe);
  return r;
}

TEST(OutOfMemory, SearchEndsWithTheMessageAndStatusOne) {
#if defined(TESSEL_SANITIZED)
  GTEST_SKIP() << "sanitizers need more address space than the limit leaves";
#endif
  const std::string scramble = "R U F D L B R2 U2";
  const ProcessResult r = run_limited(scramble + " set d 14 solve", 300000);
  ASSERT_TRUE(WIFEXITED(r.wait_status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(r.wait_status), 1);
  const std::string message = "ERROR: not enough memory\n";
  ASSERT_GE(r.out.size(), message.size());
  EXPECT_EQ(r.out.substr(r.out.size() - message.size()), message);

  // Every line before the message is whole: an info line, the empty line
  // after the depth confirmation, or a sequence that solves the scramble.
  const Cube start = moved(full_cube(), scramble);
  std::istringstream lines(r.out.substr(0, r.out.size() - message.size()));
  std::string line;
  int sequences = 0;
  while (std::getline(lines, line)) {
    if (line.empty() || line.rfind("INFO: ", 0) == 0) continue;
    std::vector<int> moves;
    ASSERT_TRUE(parse_line(line, moves)) << "broken line: " << line;
    ASSERT_EQ(sequence_text(moves), line);
    EXPECT_EQ(test::apply_sequence(start, moves), full_cube()) << line;
    ++sequences;
  }
  EXPECT_GT(sequences, 0);  // the 8-move sequences came before memory ran out
  EXPECT_NE(r.out.find("INFO: Searching 12 move solutions...\n"), std::string::npos);
}

}  // namespace
}  // namespace tessel
