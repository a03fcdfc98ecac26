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

struct Row {
  std::string name;
  std::string input;
  std::vector<std::string> args;
  std::string out;
  int status;
};

class Hostile : public ::testing::TestWithParam<Row> {};

TEST_P(Hostile, ExactOutputAndStatus) {
  const Row& row = GetParam();
  const auto r = run(row.input, row.args);
  EXPECT_EQ(r.out, row.out);
  EXPECT_EQ(r.status, row.status);
}

std::vector<Row> rows() {
  const std::string mib(1 << 20, 'Q');
  std::vector<Row> v = {
      {"MiBWord", "R " + mib + " U", {}, kBanner + "ERROR: Unknown command " + mib + "\n", 1},
      {"NulAndHighBytes", std::string("R\0U\xff\x80 x", 8), {},
       kBanner + "ERROR: Unknown command " + std::string("R\0U\xff\x80", 5) + "\n", 1},
      {"NoWhiteSpace", "RUR'U'", {}, kBanner + "ERROR: Unknown command RUR'U'\n", 1},
      {"OnlyWhiteSpace", " \t\n\v\f\r ", {}, kBanner, 0},
      // set: integers at and past the limits, signs without digits.
      {"SetDepthMaxInt", "set d 2147483647", {},
       kBanner + "INFO: Setting max search depth to 22 moves.\n\n", 0},
      {"SetDepthMinInt", "set d -2147483648", {},
       kBanner + "INFO: Setting max search depth to -2147483648 moves.\n\n", 0},
      {"SetDepthPastMax", "set d 2147483648", {},
       kBanner + "ERROR: wrong argument to set max-depth-of-search\n", 1},
      {"SetDepthPastMin", "set d -2147483649", {},
       kBanner + "ERROR: wrong argument to set max-depth-of-search\n", 1},
      {"SetNumberHuge", "set n 99999999999999999999999999", {},
       kBanner + "ERROR: wrong argument to set\n", 1},
      {"SetAfterFirstPastMax", "set da 4294967296", {},
       kBanner + "ERROR: wrong argument to set max-additional-depth-of-search\n", 1},
      {"SetMinusAlone", "set n - 5", {}, kBanner + "ERROR: wrong argument to set\n", 1},
      {"SetPlusAlone", "set d +", {},
       kBanner + "ERROR: wrong argument to set max-depth-of-search\n", 1},
      {"SetPlusNumber", "set n +7", {}, kBanner + "INFO: Setting max number of output sequences to 7.\n\n", 0},
      // Options at and past the limits, signs without digits, empty values.
      {"OptionNumberMaxInt", "", {"-n", "2147483647"},
       kBanner + "INFO: Setting max number of output sequences to 2147483647.\n\n", 0},
      {"OptionNumberPastMax", "", {"-n", "2147483648"},
       "ERROR: invalid argument to -n (2147483648).\n", 1},
      {"OptionDepthPastMin", "", {"--max-depth-of-search", "-2147483649"},
       "ERROR: invalid argument to --max-depth-of-search (-2147483649).\n", 1},
      {"OptionDepthMinInt", "", {"-d", "-2147483648"},
       kBanner + "INFO: Setting max search depth to -2147483648 moves.\n\n", 0},
      {"OptionAfterFirstPastMax", "", {"-da", "9223372036854775808"},
       "ERROR: invalid argument to -da (9223372036854775808).\n", 1},
      {"OptionMinusAlone", "", {"-da", "-"}, "ERROR: invalid argument to -da (-).\n", 1},
      {"OptionPlusAlone", "", {"-n", "+"}, "ERROR: invalid argument to -n (+).\n", 1},
      {"OptionEmpty", "", {"-d", ""}, "ERROR: invalid argument to -d ().\n", 1},
      {"OptionSpaces", "", {"-d", "   "}, "ERROR: invalid argument to -d (   ).\n", 1},
      {"OptionLeadingSpace", "", {"-d", "  7x"},
       kBanner + "INFO: Setting max search depth to 7 moves.\n\n", 0},
      {"OptionLast", "", {"--silent", "--max-depth-after-first-match"},
       "ERROR: missing argument to --max-depth-after-first-match.\n", 1},
      {"OptionEmptyName", "", {""}, "ERROR: unknown argument .\n", 1},
      // Commands that need an argument, at the end of input.
      {"SetAtEnd", "R set", {}, kBanner + "ERROR: missing argument to set\n", 1},
      {"SetNameAtEnd", "set d", {},
       kBanner + "ERROR: wrong argument to set max-depth-of-search\n", 1},
      {"SetNumberAtEnd", "set n   \n", {}, kBanner + "ERROR: wrong argument to set\n", 1},
      {"SetAfterFirstAtEnd", "set max-depth-after-first-match", {},
       kBanner + "ERROR: wrong argument to set max-additional-depth-of-search\n", 1},
      {"SetGenAtEnd", "set_gen\n\n", {}, kBanner + "ERROR: missing argument to set_gen\n", 1},
      {"AddEdgeAtEnd", "add_edge", {}, kBanner + "ERROR: missing argument to add_edge\n", 1},
      {"AddCornerAtEnd", "add_corner \t", {}, kBanner + "ERROR: missing argument to add_corner\n", 1},
  };
  return v;
}

INSTANTIATE_TEST_SUITE_P(Rows, Hostile, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

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
