// Golden transcripts: every case in the golden folder is run in-process and
// through the built binary; standard output and the exit status must match
// byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct GoldenCase {
  std::string name;
  std::string input;
  std::vector<std::string> args;
  std::string out;
  int status = 0;
};

std::vector<GoldenCase> load_cases() {
  std::vector<GoldenCase> cases;
  const fs::path dir = TESSEL_GOLDEN_DIR;
  if (!fs::is_directory(dir)) return cases;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".in") continue;
    GoldenCase c;
    c.name = entry.path().stem().string();
    const fs::path base = dir / c.name;
    c.input = read_file(entry.path());
    c.out = read_file(base.string() + ".out");
    c.status = std::stoi(read_file(base.string() + ".status"));
    if (fs::exists(base.string() + ".args")) {
      std::istringstream lines(read_file(base.string() + ".args"));
      for (std::string line; std::getline(lines, line);) c.args.push_back(line);
    }
    cases.push_back(std::move(c));
  }
  std::sort(cases.begin(), cases.end(),
            [](const GoldenCase& a, const GoldenCase& b) { return a.name < b.name; });
  return cases;
}

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

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, InProcess) {
  const GoldenCase& c = GetParam();
  const auto r = tessel::test::run(c.input, c.args);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.status, c.status);
}

TEST_P(Golden, Binary) {
  const GoldenCase& c = GetParam();
  const fs::path tmp = fs::temp_directory_path() / ("tessel_golden_" + c.name);
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
  command += " 2> /dev/null";
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), c.status);
  EXPECT_EQ(read_file(tmp / "out"), c.out);
  fs::remove_all(tmp);
}

INSTANTIATE_TEST_SUITE_P(Transcripts, Golden, ::testing::ValuesIn(load_cases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(GoldenFolder, HasCases) { EXPECT_GE(load_cases().size(), 16u); }

}  // namespace
