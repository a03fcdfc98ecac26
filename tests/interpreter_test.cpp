// The command loop: move words, init commands, set, print,
// calculate_repetitions and the input errors, with exact output and exit
// status; in-process and through the built program.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "cli/options.h"
#include "cube/display.h"
#include "cube/moves.h"
#include "test_util.h"

namespace tessel {
namespace {

const std::string kBanner = "INFO: Tessel 1.0.6\n";

Cube after_on(const Cube& c, const std::string& moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}
Cube after(const std::string& moves) { return after_on(full_cube(), moves); }

std::string repeat_words(const std::string& word, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += word + "\n";
  return s;
}

// ---------------------------------------------------------------------------
// Exact standard output and exit status. The written-down cases are in
// tests/transcripts (interpreter_*); the computed ones are here.

std::string depth_line(const std::string& n) { return "INFO: Setting max search depth to " + n + " moves.\n\n"; }
std::string repetitions_line(int n) { return "INFO: Requires " + std::to_string(n) + " moves to repeat\n"; }

TEST(Interpreter, UnknownWordOfAHundredThousandCharacters) {
  std::string long_word(100001, 'a');
  long_word.front() = 'R';
  const test::RunResult r = test::run(long_word);
  EXPECT_EQ(r.out, kBanner + "ERROR: Unknown command " + long_word + "\n");
  EXPECT_EQ(r.status, 1);
}

// ---------------------------------------------------------------------------
// Registers, history and parameters after a run.

struct Final {
  int status;
  std::string out;
  std::string err;
  Cube current;
  Cube start;
  std::vector<int> history;
  search_parameters parameters;
};

Final run_session(const std::string& input, const std::vector<std::string>& args = {}) {
  std::istringstream in(input);
  std::ostringstream out, err;
  Interpreter interpreter(in, out, err);
  Final f;
  f.status = interpreter.run(args);
  f.out = out.str();
  f.err = err.str();
  f.current = interpreter.current_state();
  f.start = interpreter.starting_position();
  f.history = interpreter.move_history();
  f.parameters = interpreter.parameters();
  return f;
}

struct StateCase {
  std::string input;
  Cube current;
  Cube start;
  std::string history;  // move names
};

TEST(Interpreter, RegistersAndHistory) {
  const Cube solved = full_cube();
  const Cube empty = empty_cube();
  const std::vector<StateCase> cases = {
      {"", solved, solved, ""},
      {"R R'", solved, solved, "R R'"},
      {"R U2", after("R U2"), solved, "R U2"},
      {"R\nU2", after("R U2"), solved, "R U2"},
      {"\n\t R \r\n U2 \n", after("R U2"), solved, "R U2"},
      {"R\tU2\n", after("R U2"), solved, "R U2"},
      {"r", after("R M'"), solved, "r"},
      {"x y z x' y' z'", solved, solved, "x y z x' y' z'"},
      {"U init_full_cube", solved, solved, ""},
      {"R U init_to_current_state", after("R U"), after("R U"), ""},
      {"R U init_to_current_state F", after("R U F"), after("R U"), "F"},
      {"R init_empty_cube", empty, empty, ""},
      {"init_empty_cube R U", empty, empty, "R U"},
      {"init_empty_cube init_full_cube", solved, solved, ""},
      {"U add_cross", solved, solved, "U"},
      {"set n 10R", after("R"), solved, "R"},
      {"set foo R", after("R"), solved, "R"},
      {"R print calculate_repetitions set d 5 set_gen RU", after("R"), solved, "R"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("input: " + c.input);
    const Final f = run_session(c.input);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.current, c.current);
    EXPECT_EQ(f.start, c.start);
    EXPECT_EQ(f.history, test::parse_moves(c.history));
  }
}

TEST(Interpreter, SetStoresParameters) {
  struct Row {
    std::string input;
    int number, after_first, depth;
  };
  const std::vector<Row> rows = {
      {"", 1000000, -1, 22},
      {"set d 30", 1000000, -1, 22},
      {"set d -3", 1000000, -1, -3},
      {"set n 10R", 10, -1, 22},
      {"set da 4 set max-depth-after-first-match 6", 1000000, 6, 22},
      {"set max-number-of-sequences 7 set max-depth-of-search 9", 7, -1, 9},
      {"set n 2147483647 set da -2147483648", 2147483647, -2147483647 - 1, 22},
      {"set foo set d 3", 1000000, -1, 3},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("input: " + r.input);
    const Final f = run_session(r.input);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.parameters.max_number_of_sequences, r.number);
    EXPECT_EQ(f.parameters.max_depth_after_first_match, r.after_first);
    EXPECT_EQ(f.parameters.max_depth_of_search, r.depth);
  }
  // A failed read keeps the earlier value.
  const Final f = run_session("set d 5 set d x");
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.parameters.max_depth_of_search, 5);
}

TEST(Interpreter, OptionsAndSetCombine) {
  const Final f = run_session("set d 30", {"-d", "5", "-n", "3"});
  EXPECT_EQ(f.out, kBanner + "INFO: Setting max search depth to 5 moves.\n\n" +
                       "INFO: Setting max number of output sequences to 3.\n\n" + depth_line("22"));
  EXPECT_EQ(f.parameters.max_depth_of_search, 22);
  EXPECT_EQ(f.parameters.max_number_of_sequences, 3);
}

TEST(Interpreter, HistoryHasNoLimit) {
  const Final f = run_session(repeat_words("R", 20001) + repeat_words("x'", 30000) + "calculate_repetitions");
  EXPECT_EQ(f.status, 0);
  ASSERT_EQ(f.history.size(), 50001u);
  EXPECT_EQ(f.history.front(), 0);
  EXPECT_EQ(f.history.back(), move_index("x'"));
  EXPECT_EQ(f.current, after("R x2"));
  // R^20001 x'^30000 is R x2: four applications bring the solved cube back.
  EXPECT_EQ(f.out, kBanner + repetitions_line(4));
}

TEST(Interpreter, LongWordsAreReadWhole) {
  // A word of a move name repeated is one unknown word, not many moves.
  const std::string word = std::string(5000, 'R');
  const Final f = run_session("U " + word + " F");
  EXPECT_EQ(f.out, kBanner + "ERROR: Unknown command " + word + "\n");
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.history, test::parse_moves("U"));
  EXPECT_EQ(f.current, after("U"));
}

// ---------------------------------------------------------------------------
// Pictures on standard error.

std::vector<std::string> captions_of(const std::string& err) {
  std::vector<std::string> captions;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    const std::string open = "\" /> ";
    const std::string close = " <br> ";
    const std::size_t at = line.find(open);
    if (at == std::string::npos || line.size() < at + open.size() + close.size()) continue;
    if (line.compare(line.size() - close.size(), close.size(), close) != 0) continue;
    captions.push_back(line.substr(at + open.size(), line.size() - at - open.size() - close.size()));
  }
  return captions;
}

TEST(Interpreter, PrintWritesThePictureOfTheCurrentCube) {
  const Final solved = run_session("print");
  EXPECT_EQ(solved.err, "<br><img src=\"" + std::string(picture_endpoint) +
                            "?size=100&stickers=wwwwwwwwwgggggggggrrrrrrrrr\" />\n<img src=\"" +
                            std::string(picture_endpoint) +
                            "?size=100&m=xy&fl=yyyyyyyyyooooooooobbbbbbbbb\" /> print <br> \n");

  const Final moved = run_session("R print U print init_empty_cube print");
  EXPECT_EQ(moved.err, link_text(after("R"), "print") + link_text(after("R U"), "print") +
                           link_text(empty_cube(), "print"));
  EXPECT_EQ(moved.out, kBanner + "\n\n\n");
}

TEST(Interpreter, CalculateRepetitionsPictures) {
  struct Row {
    std::string history;
    int count;  // 0: found here by applying the moves one by one
  };
  for (Row row : std::vector<Row>{{"", 1}, {"R", 4}, {"R U", 105}, {"R U R' U'", 6}, {"F2 y", 0},
                                  {"r U x' E2 b", 0}}) {
    SCOPED_TRACE("history: " + row.history);
    if (row.count == 0) {
      Cube w = after(row.history);
      for (row.count = 1; w != full_cube(); ++row.count) w = after_on(w, row.history);
    }
    const Final f = run_session(row.history + " calculate_repetitions");
    EXPECT_EQ(f.out, kBanner + repetitions_line(row.count));

    std::vector<std::string> expected_captions(static_cast<std::size_t>(row.count), "print");
    expected_captions.push_back("position");
    expected_captions.push_back("starting position");
    EXPECT_EQ(captions_of(f.err), expected_captions);

    // The exact pictures: the cube after each application, then the
    // starting position twice.
    std::string expected;
    Cube w = full_cube();
    for (int k = 0; k < row.count; ++k) {
      w = after_on(w, row.history);
      expected += link_text(w, "print");
    }
    expected += link_text(w, "position") + link_text(full_cube(), "starting position");
    EXPECT_EQ(f.err, expected);
    // Registers and history are unchanged by the count.
    EXPECT_EQ(f.current, after(row.history));
    EXPECT_EQ(f.history, test::parse_moves(row.history));
  }
}

TEST(Interpreter, CalculateRepetitionsStartsFromTheStartingPosition) {
  // The history applies to the starting position, not to the current cube.
  const Final f = run_session("R init_to_current_state U calculate_repetitions");
  EXPECT_EQ(f.out, kBanner + repetitions_line(4));
  const std::vector<std::string> captions = captions_of(f.err);
  ASSERT_EQ(captions.size(), 6u);
  EXPECT_NE(f.err.find(link_text(after("R"), "starting position")), std::string::npos);
  EXPECT_NE(f.err.find(link_text(after("R U"), "print")), std::string::npos);
}

// ---------------------------------------------------------------------------
// The built program: main, the real standard streams and exit statuses.

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

test::RunResult run_binary(const std::string& input, const std::vector<std::string>& args) {
  static int counter = 0;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("tessel_interpreter_test_" + std::to_string(::getpid()) + "_" +
                                     std::to_string(counter++));
  std::filesystem::create_directories(dir);
  {
    std::ofstream in(dir / "in", std::ios::binary);
    in << input;
  }
  std::string command = shell_quote(TESSEL_BINARY);
  for (const auto& a : args) command.append(" ").append(shell_quote(a));
  command.append(" < ").append(shell_quote((dir / "in").string()));
  command.append(" > ").append(shell_quote((dir / "out").string()));
  command.append(" 2> ").append(shell_quote((dir / "err").string()));
  const int raw = std::system(command.c_str());
  test::RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_file(dir / "out");
  r.err = read_file(dir / "err");
  std::filesystem::remove_all(dir);
  return r;
}

// The other rows of standard output, standard error and status through the
// program are in tests/transcripts (streams_*), run both ways.
TEST(Binary, HelpOnStandardOutputOnly) {
  const std::vector<std::string> args = {"--help"};
  const test::RunResult r = run_binary("print", args);
  EXPECT_EQ(r.out, usage_text());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The program and the in-process run agree byte for byte.
  const test::RunResult in_process = test::run("print", args);
  EXPECT_EQ(r.out, in_process.out);
  EXPECT_EQ(r.err, in_process.err);
  EXPECT_EQ(r.status, in_process.status);
}

TEST(Binary, PrintPictureOfTheMovedCube) {
  const test::RunResult r = run_binary("R U\nprint", {"--silent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n");
  EXPECT_EQ(r.err, link_text(after("R U"), "print"));
}

}  // namespace
}  // namespace tessel
