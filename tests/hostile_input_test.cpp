// Hostile input: huge words, odd bytes, huge histories and generator words,
// integers at and past the 32-bit limits, arguments missing at the end of
// input, and a reader that closes standard output early. Every row ends
// with a clear message and the right status, never a crash or a hang.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cube/moves.h"
#include "test_util.h"

namespace {

using tessel::test::run;

const std::string kBanner = "INFO: Tessel 1.0.6\n";

// The written-down rows (odd bytes, integers at and past the limits,
// arguments missing at the end of input) are in tests/transcripts
// (hostile_*); the computed ones are here.

TEST(HostileWord, OneMebibyteWord) {
  const std::string mib(1 << 20, 'Q');
  const auto r = run("R " + mib + " U");
  EXPECT_EQ(r.out, kBanner + "ERROR: Unknown command " + mib + "\n");
  EXPECT_EQ(r.status, 1);
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(HostileHistory, TwoHundredThousandMovesBeforeRepetitionCount) {
  // (R U)^100000 is (R U)^40, whose order is 105 / gcd(105, 40) = 21.
  const auto r = run(repeat("R U ", 100000) + "calculate_repetitions");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "INFO: Requires 21 moves to repeat\n");
  std::size_t pictures = 0;
  for (std::size_t p = r.err.find("<br><img"); p != std::string::npos; p = r.err.find("<br><img", p + 1))
    ++pictures;
  EXPECT_EQ(pictures, 23u);
}

TEST(HostileHistory, TwoHundredThousandMovesBeforeTwoPhase) {
  // (R U R' U')^50000 is (R U R' U')^2.
  const std::string history = repeat("R U R' U' ", 50000);
  const auto r = run(history + "solve_two_phase", {"--silent"});
  ASSERT_EQ(r.status, 0);
  ASSERT_FALSE(r.out.empty());
  ASSERT_EQ(r.out.back(), '\n');
  const std::size_t gap = r.out.find("   ");
  ASSERT_NE(gap, std::string::npos);
  tessel::Cube cube = tessel::full_cube();
  for (int m : tessel::test::parse_moves(history)) cube = tessel::apply_move(m, cube);
  for (int m : tessel::test::parse_moves(r.out)) {
    ASSERT_GE(m, 0);
    cube = tessel::apply_move(m, cube);
  }
  EXPECT_EQ(cube, tessel::full_cube());
}

TEST(HostileGenerator, TenThousandCharacterWordThenShallowSolve) {
  std::string word;
  while (word.size() < 10000) word += "RUFLDBxyzMESrludfb2'R2";
  word.resize(10000);
  const auto r = run("R U set_gen " + word + " set d 2 solve", {"--silent"});
  EXPECT_EQ(r.status, 0);
  std::istringstream lines(r.out);
  std::set<std::string> seen;
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    ++count;
    EXPECT_TRUE(seen.insert(line).second) << "printed twice: " << line;
    tessel::Cube cube = tessel::test::apply_sequence(tessel::full_cube(), tessel::test::parse_moves("R U"));
    for (int m : tessel::test::parse_moves(line)) cube = tessel::apply_move(m, cube);
    EXPECT_EQ(cube, tessel::full_cube()) << line;
  }
  EXPECT_GE(count, 1);
  EXPECT_TRUE(seen.count("U' R' ")) << r.out;
}

TEST(HostileOutput, ReaderClosingEarlyDoesNotHang) {
  const std::string dir = ::testing::TempDir();
  const std::string input = dir + "tessel_head_input.txt";
  const std::string script = dir + "tessel_head.sh";
  {
    std::ofstream(input) << "R U F' set d 10 solve\n";
    std::ofstream(script) << "timeout 60 " << TESSEL_BINARY << " --silent < " << input
                          << " | head -1 > /dev/null\necho ${PIPESTATUS[0]}\n";
  }
  FILE* pipe = popen(("bash " + script).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buf[64] = {};
  const bool got = fgets(buf, sizeof buf, pipe) != nullptr;
  pclose(pipe);
  ASSERT_TRUE(got);
  // Not 124 (killed by timeout) and not a signal (128 + n): tessel notices
  // the closed pipe and ends with status 1.
  EXPECT_EQ(std::string(buf), "1\n");
}

}  // namespace
