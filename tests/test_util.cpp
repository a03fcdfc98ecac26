#include "test_util.h"

#include <sstream>
#include <unordered_map>

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

namespace {

// Axis letter of a move, as the pruning rule groups the families.
char axis_of(int m) {
  static constexpr char kAxes[] = "RUFRUFxyzRUFRRUUFF";  // one letter per family
  return kAxes[m / 3];
}

bool canonical_pair(int earlier, int later) {
  if (earlier / 3 == later / 3) return false;
  if (axis_of(earlier) != axis_of(later)) return true;
  return later < earlier;
}

std::string key_of(const Cube& c) { return std::string(c.s.begin(), c.s.end()); }

struct CanonicalCounter {
  const Cube& target;
  const std::vector<int>& moves;
  std::unordered_map<std::string, int> near;  // distance to target, up to kRadius
  static constexpr int kRadius = 4;

  CanonicalCounter(const Cube& t, const std::vector<int>& m) : target(t), moves(m) {
    // Breadth-first ball of the cubes within kRadius moves of the target.
    // Stepping back from the target needs the inverses; the moves themselves
    // are added too, which only enlarges the ball and keeps pruning sound.
    std::vector<int> both = moves;
    for (int mv : moves) both.push_back(mv - 2 * (mv % 3) + 2);
    std::vector<Cube> frontier = {target};
    near[key_of(target)] = 0;
    for (int d = 1; d <= kRadius; ++d) {
      std::vector<Cube> next;
      for (const Cube& c : frontier)
        for (int mv : both) {
          const Cube n = apply_move(mv, c);
          if (near.emplace(key_of(n), d).second) next.push_back(n);
        }
      frontier = std::move(next);
    }
  }

  long long count(const Cube& c, int last, int remaining) const {
    if (remaining == 0) return c == target ? 1 : 0;
    if (remaining <= kRadius) {
      const auto it = near.find(key_of(c));
      if (it == near.end() || it->second > remaining) return 0;
    }
    long long total = 0;
    for (int m : moves) {
      if (last >= 0 && !canonical_pair(last, m)) continue;
      const Cube n = apply_move(m, c);
      if (n == c) continue;
      total += count(n, m, remaining - 1);
    }
    return total;
  }
};

}  // namespace

long long count_canonical_sequences(const Cube& first, const Cube& second, int length,
                                    const std::vector<int>& moves) {
  const CanonicalCounter counter(second, moves);
  return counter.count(first, -1, length);
}

}  // namespace tessel::test
