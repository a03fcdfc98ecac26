// Helpers shared by the tests: seeded scrambles and running the
// interpreter in-process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cube/cube_state.h"
#include "search/legal_moves.h"
#include "search/search_side.h"  // the sides the level and join tests grow
#include "search/session.h"

namespace tessel {
class Interpreter;
}

namespace tessel::test {

// A reproducible random move sequence of face turns (or of all 54 moves).
std::vector<int> random_moves(std::mt19937& rng, int count, bool all_moves = false);

// A random cube state whose bytes are any codes 0..7 (not a real cube).
Cube random_stickers(std::mt19937& rng);

Cube apply_sequence(Cube cube, const std::vector<int>& moves);

// Parses move names separated by blanks.
std::vector<int> parse_moves(const std::string& text);

struct RunResult {
  int status = 0;
  std::string out;
  std::string err;
  SearchStats stats;  // of the session's searches
};
// Runs the interpreter in-process on the input with the arguments.
RunResult run(const std::string& input, const std::vector<std::string>& args = {});

// Runs `run` once for each rank of a group of `ranks` in this process, each
// on a thread of its own (rank 0 on the calling one), and rethrows what any
// of them threw.
void on_ranks(int ranks, const std::function<void(Ranks&)>& run);

// Runs `ranks` copies of the interpreter in-process, one thread each, as the
// ranks of one run: joins are split between them. `setup`, when given,
// prepares each copy's interpreter before it runs. Returns every rank's
// result, rank 0 first.
std::vector<RunResult> run_on_ranks(const std::string& input, const std::vector<std::string>& args,
                                    int ranks, const std::function<void(Interpreter&)>& setup = {});

// ---- Transcripts ----

std::string read_file(const std::filesystem::path& p);

// One case of tests/transcripts: NAME.in, NAME.args (one argument per
// line), NAME.out, NAME.status and, when present, NAME.err (with the picture
// address of this build put in).
struct TranscriptCase {
  std::string name;
  std::string input;
  std::vector<std::string> args;
  std::string out;
  int status = 0;
  std::optional<std::string> err;
};
// Prints the case name in failure messages instead of its bytes.
void PrintTo(const TranscriptCase& c, std::ostream* os);

// Every case in `dir`, by name.
std::vector<TranscriptCase> load_transcripts(const std::filesystem::path& dir);

// ---- Search helpers ----

// Number of move sequences of exactly `length` moves taken from `moves`
// (distinct move indices) that turn `first` into `second`, counted by plain
// depth-first enumeration: no move may follow one of its own family, two
// moves about one axis (R L M r l / U D E u d / F B S f b) must come in
// decreasing move-index order, and a move that leaves the cube unchanged is
// never taken. This is what a forward search must report, sequence by
// sequence.
long long count_canonical_sequences(const Cube& first, const Cube& second, int length,
                                    const std::vector<int>& moves);

}  // namespace tessel::test
