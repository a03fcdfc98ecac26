// Helpers shared by the tests: seeded scrambles and running the
// interpreter in-process.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cube/cube_state.h"

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

}  // namespace tessel::test
