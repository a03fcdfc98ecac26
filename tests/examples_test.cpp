// The ready inputs in examples/: each runs as `tessel < examples/NAME.txt`,
// prints the expected sequences, and every sequence really takes the
// scrambled cube back to the example's target.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace tessel::test {
namespace {

std::string read_example(const std::string& name) {
  std::ifstream in(std::string(TESSEL_EXAMPLES_DIR) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The words that build the target and scramble the cube: everything before
// the first setting or search word.
std::string setup_of(const std::string& text) {
  static const std::set<std::string> stop = {"set", "set_gen", "solve", "reconstruct",
                                             "solve_two_phase"};
  std::string setup;
  for (const std::string& w : words_of(text)) {
    if (stop.count(w)) break;
    setup += w + " ";
  }
  return setup;
}

// Standard output lines that are not info lines and not empty.
std::vector<std::string> result_lines(const std::string& out) {
  std::istringstream in(out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.rfind("INFO: ", 0) != 0) lines.push_back(line);
  return lines;
}

// Standard output of the real program with the file as standard input.
std::string run_binary_on(const std::string& name) {
  const std::string cmd = std::string("'") + TESSEL_BINARY + "' < '" + TESSEL_EXAMPLES_DIR + "/" +
                          name + "' 2>/dev/null";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << cmd;
  } else {
    ADD_FAILURE() << "cannot run " << cmd;
  }
  return out;
}

// True when the moves, applied after the setup, bring the cube back to the
// target: the program's own repetition count is then 1.
bool returns_to_target(const std::string& setup, const std::string& moves) {
  const RunResult r = run(setup + moves + " calculate_repetitions", {});
  return r.status == 0 && r.out.find("INFO: Requires 1 moves to repeat\n") != std::string::npos;
}

struct Example {
  std::string file;
  std::vector<std::string> sequences;  // every result line, in order
  std::string families;                // move letters a sequence may use
};

void PrintTo(const Example& ex, std::ostream* os) { *os << ex.file.substr(0, ex.file.find('.')); }

class Examples : public ::testing::TestWithParam<Example> {};

TEST_P(Examples, PrintsTheExpectedSequences) {
  const Example& ex = GetParam();
  const std::string text = read_example(ex.file);
  ASSERT_FALSE(text.empty()) << ex.file;

  const RunResult r = run(text, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(result_lines(r.out), ex.sequences);
  EXPECT_EQ(run_binary_on(ex.file), r.out);

  const std::string setup = setup_of(text);
  ASSERT_FALSE(returns_to_target(setup, "")) << "the example's cube is not scrambled";
  std::size_t last_length = 0;
  for (const std::string& seq : ex.sequences) {
    ASSERT_EQ(seq.back(), ' ') << seq;  // each move name followed by a blank
    const std::vector<std::string> moves = words_of(seq);
    EXPECT_GE(moves.size(), last_length) << "shortest first: " << seq;
    last_length = moves.size();
    for (const std::string& m : moves)
      EXPECT_NE(ex.families.find(m[0]), std::string::npos) << m << " in " << seq;
    EXPECT_TRUE(returns_to_target(setup, seq)) << seq;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Examples,
    ::testing::Values(
        Example{"oll_sune.txt",
                {"F' U' F U' F' U2 F ", "R U2 R' U' R U' R' ", "U F U2 F' U' F U' F' ",
                 "U' R' U' R U' R' U2 R "},
                "RUF"},
        Example{"pll_case.txt", {"R U' R U R U R U' R' U' R2 "}, "RU"},
        Example{"f2l_pair.txt", {"R2 U R U' R2 ", "R F R U F' R' "}, "RUFLDB"},
        Example{"cross.txt",
                {"L' D R2 D L' ", "L' U F2 D2 L' ", "L' D2 U' L' B2 ", "L' D2 L' U' B2 "},
                "RUFLDB"}));

TEST(ExamplesTwoPhase, SolvesTheScrambleInTwoPhases) {
  const std::string text = read_example("two_phase.txt");
  ASSERT_FALSE(text.empty());
  const RunResult r = run(text, {});
  EXPECT_EQ(r.status, 0);
  const std::string expected_phase1 = "F' U B2 D' R2 U2 B' D2 B R' ";
  const std::string expected_phase2 = "L2 F2 D' L2 D B2 D F2 R2 F2 D' U' F2 ";
  ASSERT_EQ(result_lines(r.out),
            std::vector<std::string>{expected_phase1 + "  " + expected_phase2});
  EXPECT_EQ(run_binary_on("two_phase.txt"), r.out);

  const std::string scramble = setup_of(text);
  // Phase 1 reaches the domino target, both phases together the solved cube.
  EXPECT_TRUE(returns_to_target("init_empty_cube set_domino_cube " + scramble, expected_phase1));
  EXPECT_FALSE(returns_to_target("init_full_cube " + scramble, expected_phase1));
  EXPECT_TRUE(returns_to_target("init_full_cube " + scramble, expected_phase1 + expected_phase2));
  // Phase 2 keeps the domino: half turns of the side faces, U and D turns.
  const std::set<std::string> phase2_moves = {"R2", "L2", "F2", "B2", "U", "U2",
                                              "U'", "D",  "D2", "D'"};
  for (const std::string& m : words_of(expected_phase2)) EXPECT_TRUE(phase2_moves.count(m)) << m;
}

}  // namespace
}  // namespace tessel::test
