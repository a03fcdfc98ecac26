// Command-line options: banner and setting lines, values, errors, --help
// and --version, with the exact standard output and exit status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "cli/options.h"
#include "test_util.h"

namespace tessel {
namespace {

const std::string kBanner = "INFO: Tessel 1.0.6\n";

std::string depth_line(const std::string& n) { return "INFO: Setting max search depth to " + n + " moves.\n\n"; }
std::string number_line(const std::string& n) {
  return "INFO: Setting max number of output sequences to " + n + ".\n\n";
}
std::string after_line(const std::string& n) {
  return "INFO: Setting additional depth search after first find to " + n + ".\n\n";
}
std::string invalid(const std::string& option, const std::string& value) {
  return "ERROR: invalid argument to " + option + " (" + value + ").\n";
}
std::string unknown(const std::string& arg) { return "ERROR: unknown argument " + arg + ".\n"; }
std::string missing(const std::string& option) { return "ERROR: missing argument to " + option + ".\n"; }

struct OptionCase {
  std::vector<std::string> args;
  std::string out;
  int status;
};

std::string describe(const std::vector<std::string>& args) {
  std::string s = "args:";
  for (const auto& a : args) s += " [" + a + "]";
  return s;
}

TEST(Options, OutputAndExitStatus) {
  const std::vector<OptionCase> cases = {
      // Banner and setting lines.
      {{}, kBanner, 0},
      {{"--silent"}, "", 0},
      {{"-d", "5", "--silent"}, "", 0},
      {{"--silent", "-d", "5", "-n", "3"}, "", 0},
      {{"-d", "5", "-n", "10", "-da", "2"}, kBanner + depth_line("5") + number_line("10") + after_line("2"), 0},
      {{"-da", "2", "-n", "10", "-d", "5"}, kBanner + depth_line("5") + number_line("10") + after_line("2"), 0},
      {{"--max-depth-of-search", "7", "--max-number-of-sequences", "3", "--max-depth-after-first-match", "0"},
       kBanner + depth_line("7") + number_line("3") + after_line("0"), 0},
      {{"-d", "30"}, kBanner, 0},
      {{"-d", "22"}, kBanner, 0},
      {{"-d", "40"}, kBanner, 0},
      {{"-n", "1000000"}, kBanner, 0},
      {{"-da", "-1"}, kBanner, 0},
      {{"-d", "21"}, kBanner + depth_line("21"), 0},
      {{"-d", "-3"}, kBanner + depth_line("-3"), 0},
      {{"-d", "0"}, kBanner + depth_line("0"), 0},
      {{"-da", "-5"}, kBanner + after_line("-5"), 0},
      {{"-n", "0"}, kBanner + number_line("0"), 0},
      {{"-n", "-7"}, kBanner + number_line("-7"), 0},
      // Values are read like %d: white space, sign, digits, rest ignored.
      {{"-n", "12abc"}, kBanner + number_line("12"), 0},
      {{"-n", " \t12"}, kBanner + number_line("12"), 0},
      {{"-n", "+12"}, kBanner + number_line("12"), 0},
      {{"-n", "1e5"}, kBanner + number_line("1"), 0},
      {{"-n", "007"}, kBanner + number_line("7"), 0},
      // The last value wins.
      {{"-d", "5", "-d", "7"}, kBanner + depth_line("7"), 0},
      {{"-d", "5", "-d", "30"}, kBanner, 0},
      {{"-n", "10", "-n", "1000000"}, kBanner, 0},
      // The signed 32-bit range.
      {{"-n", "2147483647"}, kBanner + number_line("2147483647"), 0},
      {{"-n", "-2147483648"}, kBanner + number_line("-2147483648"), 0},
      {{"-da", "2147483647"}, kBanner + after_line("2147483647"), 0},
      {{"-n", "2147483648"}, invalid("-n", "2147483648"), 1},
      {{"-n", "-2147483649"}, invalid("-n", "-2147483649"), 1},
      {{"-d", "99999999999999999999"}, invalid("-d", "99999999999999999999"), 1},
      {{"-da", "4294967296"}, invalid("-da", "4294967296"), 1},
      // Values without a readable integer.
      {{"-n", "abc"}, invalid("-n", "abc"), 1},
      {{"-n", "-"}, invalid("-n", "-"), 1},
      {{"-n", "+"}, invalid("-n", "+"), 1},
      {{"-n", ""}, invalid("-n", ""), 1},
      {{"-n", "- 5"}, invalid("-n", "- 5"), 1},
      {{"-d", "x5"}, invalid("-d", "x5"), 1},
      {{"-n", "-d"}, invalid("-n", "-d"), 1},
      {{"-n", "--help"}, invalid("-n", "--help"), 1},
      {{"-da", "--silent"}, invalid("-da", "--silent"), 1},
      {{"--max-number-of-sequences", "abc"}, invalid("--max-number-of-sequences", "abc"), 1},
      {{"--max-depth-after-first-match", "?"}, invalid("--max-depth-after-first-match", "?"), 1},
      {{"--silent", "-n", "abc"}, invalid("-n", "abc"), 1},
      {{"-n", "abc", "-x"}, invalid("-n", "abc"), 1},
      // Unknown arguments: exact words only.
      {{"-x"}, unknown("-x"), 1},
      {{"--silent2"}, unknown("--silent2"), 1},
      {{"--max"}, unknown("--max"), 1},
      {{"--SILENT"}, unknown("--SILENT"), 1},
      {{"-silent"}, unknown("-silent"), 1},
      {{"-D"}, unknown("-D"), 1},
      {{"-d5"}, unknown("-d5"), 1},
      {{"5"}, unknown("5"), 1},
      {{""}, unknown(""), 1},
      {{"-d", "5", "-x"}, unknown("-x"), 1},
      {{"--silent", "-x"}, unknown("-x"), 1},
      {{"-x", "-n", "abc"}, unknown("-x"), 1},
      // A value option as the last argument.
      {{"-n"}, missing("-n"), 1},
      {{"-d"}, missing("-d"), 1},
      {{"-d", "5", "-da"}, missing("-da"), 1},
      {{"--silent", "--max-depth-of-search"}, missing("--max-depth-of-search"), 1},
      {{"--max-number-of-sequences"}, missing("--max-number-of-sequences"), 1},
      {{"--max-depth-after-first-match"}, missing("--max-depth-after-first-match"), 1},
      // --version.
      {{"--version"}, "Tessel 1.0.6\n", 0},
      {{"-n", "5", "--silent", "--version"}, "Tessel 1.0.6\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.args));
    const test::RunResult r = test::run("", c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Options, HelpPrintsUsageOnStandardOutputAndExitsZero) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"-d", "5", "--help"}, {"--silent", "-h"}, {"--help", "-x"}}) {
    SCOPED_TRACE(describe(args));
    // The input is not read: the unknown word would end with status 1.
    const test::RunResult r = test::run("R2' print", args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(r.err, "");
  }
  const std::string usage = usage_text();
  EXPECT_EQ(usage.rfind("Usage: tessel", 0), 0u);
  EXPECT_EQ(usage.back(), '\n');
  for (const char* option : {"--max-number-of-sequences", "-n,", "--max-depth-of-search", "-d,",
                             "--max-depth-after-first-match", "-da,", "--silent", "--help", "-h,",
                             "--version"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(Options, FailingOptionsReadNoInput) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-x"}, {"-n", "abc"}, {"-n"}, {"--version"}}) {
    SCOPED_TRACE(describe(args));
    const test::RunResult r = test::run("print", args);
    EXPECT_EQ(r.err, "");  // print would have written a picture
    EXPECT_EQ(r.out.find("INFO"), std::string::npos);
  }
}

struct StoredCase {
  std::vector<std::string> args;
  int number;
  int after_first;
  int depth;
};

TEST(Options, StoredParameters) {
  const std::vector<StoredCase> cases = {
      {{}, 1000000, -1, 22},
      {{"-d", "5", "--silent"}, 1000000, -1, 5},
      {{"-d", "30"}, 1000000, -1, 22},
      {{"-d", "-3"}, 1000000, -1, -3},
      {{"-d", "5", "-n", "10", "-da", "2"}, 10, 2, 5},
      {{"-n", "12abc"}, 12, -1, 22},
      {{"-da", "-100"}, 1000000, -100, 22},
      {{"-da", "500"}, 1000000, 500, 22},
      {{"-n", "-2147483648", "-d", "2147483647"}, -2147483647 - 1, -1, 22},
      {{"-d", "3", "-d", "9", "-n", "4", "-n", "8"}, 8, -1, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.args));
    std::istringstream in("");
    std::ostringstream out, err;
    Interpreter interpreter(in, out, err);
    ASSERT_EQ(interpreter.run(c.args), 0);
    EXPECT_EQ(interpreter.parameters().max_number_of_sequences, c.number);
    EXPECT_EQ(interpreter.parameters().max_depth_after_first_match, c.after_first);
    EXPECT_EQ(interpreter.parameters().max_depth_of_search, c.depth);
  }
}

TEST(Options, SilentAlsoSilencesLaterInfoButNotErrorsOrPictures) {
  const test::RunResult r = test::run("set d 5 set n 3 set da 1 R calculate_repetitions print foo", {"--silent"});
  EXPECT_EQ(r.out, "\nERROR: Unknown command foo\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("<img"), std::string::npos);
}

}  // namespace
}  // namespace tessel
