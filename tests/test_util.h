// Helpers shared by the tests: seeded scrambles and running the
// interpreter in-process.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cube/cube_state.h"
#include "search/legal_moves.h"
#include "search/search_side.h"  // the sides the level and join tests grow

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
};
// Runs the interpreter in-process on the input with the arguments.
RunResult run(const std::string& input, const std::vector<std::string>& args = {});

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
