#include "test_util.h"

#include <sstream>

#include "cli/interpreter.h"
#include "cube/moves.h"

namespace tessel::test {

std::vector<int> random_moves(std::mt19937& rng, int count, bool all_moves) {
  std::uniform_int_distribution<int> pick(0, all_moves ? kMoveCount - 1 : kFaceMoveCount - 1);
  std::vector<int> moves;
  for (int i = 0; i < count; ++i) moves.push_back(pick(rng));
  return moves;
}

Cube random_stickers(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 7);
  Cube c;
  for (auto& b : c.s) b = static_cast<std::uint8_t>(pick(rng));
  return c;
}

Cube apply_sequence(Cube cube, const std::vector<int>& moves) {
  for (int m : moves) cube = apply_move(m, cube);
  return cube;
}

std::vector<int> parse_moves(const std::string& text) {
  std::istringstream in(text);
  std::vector<int> moves;
  std::string word;
  while (in >> word) moves.push_back(move_index(word));
  return moves;
}

RunResult run(const std::string& input, const std::vector<std::string>& args) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  RunResult r;
  r.status = run_tessel(args, in, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

}  // namespace tessel::test
