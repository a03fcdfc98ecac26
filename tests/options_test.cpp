// Command-line options: --help, input left unread after a failing option,
// the parameters stored, and --silent for the rest of the run.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "cli/options.h"
#include "test_util.h"

namespace tessel {
namespace {

// The written-down option cases (banner and setting lines, values, errors,
// --version, and an empty standard error) are in tests/transcripts
// (options_*); --help prints a text built from the option tables, so its
// cases are here.

std::string describe(const std::vector<std::string>& args) {
  std::string s = "args:";
  for (const auto& a : args) s += " [" + a + "]";
  return s;
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
