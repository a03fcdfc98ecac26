// Transcripts: every case in tests/transcripts is run in-process and through
// the built binary; standard output and the exit status must match byte for
// byte, and standard error too where the case has a NAME.err file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cube/display.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// The cases present when this runner last changed: a folder with fewer
// means cases were lost (or the folder was not found).
constexpr std::size_t kCasesAtLeast = 181;

using tessel::test::read_file;
using tessel::test::TranscriptCase;

const fs::path kDir = TESSEL_TRANSCRIPTS_DIR;

std::vector<TranscriptCase> load_cases() { return tessel::test::load_transcripts(kDir); }

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  q += '\'';
  return q;
}

class Golden : public ::testing::TestWithParam<TranscriptCase> {};

TEST_P(Golden, InProcess) {
  const TranscriptCase& c = GetParam();
  const auto r = tessel::test::run(c.input, c.args);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.status, c.status);
  if (c.err) {
    EXPECT_EQ(r.err, *c.err);
  }
}

TEST_P(Golden, Binary) {
  const TranscriptCase& c = GetParam();
  const fs::path tmp = fs::temp_directory_path() /
                       ("tessel_transcript_" + std::to_string(::getpid()) + "_" + c.name);
  fs::create_directories(tmp);
  {
    std::ofstream in(tmp / "in", std::ios::binary);
    in << c.input;
  }
  std::string command = shell_quote(TESSEL_BINARY);
  for (const auto& a : c.args) {
    command += ' ';
    command += shell_quote(a);
  }
  command += " < ";
  command += shell_quote((tmp / "in").string());
  command += " > ";
  command += shell_quote((tmp / "out").string());
  command += " 2> ";
  command += shell_quote((tmp / "err").string());
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), c.status);
  EXPECT_EQ(read_file(tmp / "out"), c.out);
  if (c.err) {
    EXPECT_EQ(read_file(tmp / "err"), *c.err);
  }
  fs::remove_all(tmp);
}

INSTANTIATE_TEST_SUITE_P(Transcripts, Golden, ::testing::ValuesIn(load_cases()),
                         [](const ::testing::TestParamInfo<TranscriptCase>& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(GoldenFolder, HasCases) { EXPECT_GE(load_cases().size(), kCasesAtLeast); }

// Every file is part of a complete case: a misspelt name or extension would
// otherwise be a case that silently never runs.
TEST(GoldenFolder, CompleteCases) {
  const std::set<std::string> parts = {".in", ".args", ".out", ".status", ".err"};
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(kDir)) {
    const fs::path& p = entry.path();
    if (p.filename() == "README.md") continue;
    EXPECT_TRUE(entry.is_regular_file()) << p;
    EXPECT_TRUE(parts.count(p.extension().string())) << "not part of a case: " << p;
    names.insert(p.stem().string());
  }
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string base = (kDir / name).string();
    EXPECT_TRUE(fs::exists(base + ".in"));
    EXPECT_TRUE(fs::exists(base + ".out"));
    ASSERT_TRUE(fs::exists(base + ".status"));
    const std::string status = read_file(base + ".status");
    // One decimal number and a line end.
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back(), '\n');
    EXPECT_EQ(status.find_first_not_of("0123456789"), status.size() - 1) << status;
    // Names are also test names: letters, digits and '_' only, lower case
    // so that no two differ only by case.
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos);
  }
}

}  // namespace
