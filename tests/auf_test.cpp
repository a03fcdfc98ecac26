// Searches that may turn the U layer before and after a sequence (set_auf).
// What a search prints is compared with a plain depth-first enumeration
// over every pair of turned cubes, and with ordinary searches between the
// turned cubes; sides with several roots are compared level by level with
// one side per root.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cube/masks.h"
#include "cube/moves.h"
#include "search/drivers.h"
#include "search/join.h"
#include "search/packed_cube.h"
#include "search/search_side.h"
#include "test_util.h"

namespace tessel {
namespace {

Cube moved(const Cube& c, const std::string& moves) {
  return test::apply_sequence(c, test::parse_moves(moves));
}

// A printed line taken apart: the turn before, the moves, the turn after
// ("" when none).
struct Line {
  std::string pre;
  std::vector<int> moves;
  std::string post;
  auto key() const { return std::tie(pre, moves, post); }
  friend bool operator<(const Line& a, const Line& b) { return a.key() < b.key(); }
  friend bool operator==(const Line& a, const Line& b) { return a.key() == b.key(); }
};

std::string show(const Line& l) {
  return (l.pre.empty() ? "" : "(" + l.pre + ") ") + sequence_text(l.moves) +
         (l.post.empty() ? "" : "(" + l.post + ") ");
}

bool is_turn_word(const std::string& w) { return w == "(U)" || w == "(U2)" || w == "(U')"; }

// Splits the sequence lines of a silent search; every line must be the
// turn before, each move followed by a blank, the turn after, as shown.
std::vector<Line> parse_lines(const std::string& out) {
  std::vector<Line> lines;
  std::istringstream in(out);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    Line l;
    std::size_t from = 0, to = w.size();
    if (to > 0 && is_turn_word(w[0])) l.pre = w[from++].substr(1, w[0].size() - 2);
    if (to > from && is_turn_word(w[to - 1])) {
      l.post = w[to - 1].substr(1, w[to - 1].size() - 2);
      --to;
    }
    for (std::size_t k = from; k < to; ++k) {
      const int m = move_index(w[k]);
      EXPECT_GE(m, 0) << "not a move: " << w[k] << " in " << text;
      l.moves.push_back(m);
    }
    EXPECT_EQ(show(l), text) << "line layout";
    EXPECT_FALSE(l.moves.empty()) << text;
    lines.push_back(l);
  }
  return lines;
}

// The turned cubes of one end, by the word of their turn ("" for none):
// each distinct cube once, the unturned first, then U, U2, U'. Before the
// sequences (`pre`), the cube turned; after them, the cube the turn takes
// to `end`.
std::vector<std::pair<std::string, Cube>> turned(const Cube& end, bool allowed, bool pre) {
  std::vector<std::pair<std::string, Cube>> roots = {{"", end}};
  if (!allowed) return roots;
  const std::map<std::string, std::string> undo = {{"U", "U'"}, {"U2", "U2"}, {"U'", "U"}};
  for (const std::string turn : {"U", "U2", "U'"}) {
    const Cube c = moved(end, pre ? turn : undo.at(turn));
    if (!pre) {
      EXPECT_EQ(moved(c, turn), end);
    }
    if (std::none_of(roots.begin(), roots.end(), [&c](const auto& r) { return r.second == c; }))
      roots.emplace_back(turn, c);
  }
  return roots;
}

// Axis of a face turn family (R U F L D B).
int axis(int m) { return (m / 3) % 3; }

// Every sequence of 1..depth moves from `moves` in the canonical form
// (no two moves of a family in a row, two moves of one axis in decreasing
// index order, no move that leaves the cube as it is) from a turned first
// cube to a turned second cube, with its turns.
void enumerate(const Cube& c, const std::string& pre, std::vector<int>& path, int depth,
               const std::vector<int>& moves, const std::vector<std::pair<std::string, Cube>>& ends,
               std::multiset<Line>& out) {
  if (!path.empty())
    for (const auto& [post, end] : ends)
      if (c == end) out.insert({pre, path, post});
  if (static_cast<int>(path.size()) == depth) return;
  for (int m : moves) {
    if (!path.empty()) {
      const int last = path.back();
      if (m / 3 == last / 3 || (axis(m) == axis(last) && m > last)) continue;
    }
    const Cube next = apply_move(m, c);
    if (next == c) continue;
    path.push_back(m);
    enumerate(next, pre, path, depth, moves, ends, out);
    path.pop_back();
  }
}

std::multiset<Line> brute_force(const Cube& first, const Cube& second, Auf auf, int depth,
                                const std::vector<int>& moves) {
  const bool pre = auf == Auf::pre || auf == Auf::both;
  const bool post = auf == Auf::post || auf == Auf::both;
  std::multiset<Line> out;
  const auto ends = turned(second, post, false);
  for (const auto& [turn, start] : turned(first, pre, true)) {
    std::vector<int> path;
    enumerate(start, turn, path, depth, moves, ends, out);
  }
  return out;
}

std::string run_solve(const Cube& first, const Cube& second, Auf auf, int depth,
                      const std::string& generator, int max_count = 1000000) {
  std::ostringstream out, err;
  SearchSession session(out, err);
  session.disable_info_messages();
  session.legal().set_3gen(generator);
  search_parameters p;
  p.max_depth_of_search = depth;
  p.max_number_of_sequences = max_count;
  p.auf = auf;
  solve(first, second, p, session);
  return out.str();
}

std::vector<int> moves_of(const std::string& generator) {
  LegalMoves legal;
  legal.set_3gen(generator);
  std::vector<int> v(legal.moves().begin(), legal.moves().end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

Cube turn_word(const Cube& c, const std::string& word) { return word.empty() ? c : moved(c, word); }

const Cube kOll =
    add_missing_edges_orientation(add_missing_corner_orientation(add_f2l(empty_cube())));
// The last-layer orientation case with two pairs of corners twisted alike:
// a U2 turn leaves it as it is, a U turn does not.
const Cube kHeadlights = moved(kOll, "R U R' U R U' R' U R U2 R'");

struct AufCase {
  std::string name;
  Cube first, second;
  Auf auf;
  std::string generator;
  int depth;
  std::size_t first_roots, second_roots;  // distinct turned cubes
};

std::vector<AufCase> auf_cases() {
  const Cube solved = full_cube();
  const Cube f2l = add_f2l(empty_cube());
  return {
      {"full_post", moved(solved, "R U R' U'"), solved, Auf::post, "RUF", 6, 1, 4},
      {"full_pre", moved(solved, "R U2 F'"), solved, Auf::pre, "RUF", 6, 4, 1},
      {"full_both", moved(solved, "F U R U'"), solved, Auf::both, "RUF", 5, 4, 4},
      {"full_reconstruct_post", solved, moved(solved, "U R' F U"), Auf::post, "RUF", 5, 1, 4},
      {"oll_post_one_root", moved(kOll, "R U R'"), kOll, Auf::post, "RU", 7, 1, 1},
      {"oll_pre", moved(kOll, "R U2 R'"), kOll, Auf::pre, "RU", 7, 4, 1},
      {"oll_both", moved(kOll, "F R U R'"), kOll, Auf::both, "RUF", 6, 4, 1},
      {"headlights_two_roots_post", moved(kHeadlights, "R U"), kHeadlights, Auf::post, "RUF", 6, 1,
       2},
      {"headlights_two_roots_pre", kHeadlights, moved(kHeadlights, "F U R"), Auf::pre, "RUF", 6, 2,
       1},
      {"f2l_both", moved(f2l, "R U' R' U"), f2l, Auf::both, "RUF", 6, 4, 1},
      {"f2l_post_one_root", moved(f2l, "R U R'"), f2l, Auf::post, "RUF", 6, 1, 1},
      {"slices_both", moved(solved, "M U r"), solved, Auf::both, "RUMr", 5, 4, 4},
  };
}

void PrintTo(const AufCase& c, std::ostream* os) { *os << c.name; }

class AufSearch : public ::testing::TestWithParam<AufCase> {};

// Every sequence, with its turns, once: exactly those a plain enumeration
// finds, each taking the first cube to the second, shortest first.
TEST_P(AufSearch, PrintsWhatAnEnumerationFindsOnce) {
  const AufCase& c = GetParam();
  const bool pre = c.auf == Auf::pre || c.auf == Auf::both;
  const bool post = c.auf == Auf::post || c.auf == Auf::both;
  ASSERT_EQ(turned(c.first, pre, true).size(), c.first_roots);
  ASSERT_EQ(turned(c.second, post, false).size(), c.second_roots);

  const std::vector<Line> printed =
      parse_lines(run_solve(c.first, c.second, c.auf, c.depth, c.generator));
  const std::multiset<Line> expected =
      brute_force(c.first, c.second, c.auf, c.depth, moves_of(c.generator));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(std::multiset<Line>(printed.begin(), printed.end()), expected);
  EXPECT_EQ(std::set<Line>(printed.begin(), printed.end()).size(), printed.size())
      << "a sequence printed twice";

  bool some_pre = false, some_post = false;
  for (std::size_t k = 0; k < printed.size(); ++k) {
    const Line& l = printed[k];
    some_pre = some_pre || !l.pre.empty();
    some_post = some_post || !l.post.empty();
    EXPECT_EQ(turn_word(test::apply_sequence(turn_word(c.first, l.pre), l.moves), l.post), c.second)
        << show(l);
    if (k > 0) {
      EXPECT_LE(printed[k - 1].moves.size(), l.moves.size()) << show(l);
    }
  }
  EXPECT_EQ(some_pre, c.first_roots > 1);
  EXPECT_EQ(some_post, c.second_roots > 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, AufSearch, ::testing::ValuesIn(auf_cases()),
                         [](const auto& info) { return info.param.name; });

// Deeper than the enumeration goes: the lines of each length are those of
// ordinary searches between every pair of turned cubes, and within a length
// they come in the order of their meeting positions.
TEST(AufSearch, UnionOfOrdinarySearchesBetweenTheTurnedCubes) {
  const Cube solved = full_cube();
  const Cube first = moved(solved, "R U R' U R U2 R'");
  const int depth = 10;
  const std::vector<Line> printed = parse_lines(run_solve(first, solved, Auf::both, depth, "RU"));
  std::multiset<Line> expected;
  for (const auto& [pre, start] : turned(first, true, true))
    for (const auto& [post, end] : turned(solved, true, false)) {
      std::vector<Line> plain = parse_lines(run_solve(start, end, Auf::off, depth, "RU"));
      for (Line& l : plain) {
        EXPECT_TRUE(l.pre.empty() && l.post.empty());
        expected.insert({pre, l.moves, post});
      }
    }
  ASSERT_GT(expected.size(), 10u);
  EXPECT_EQ(std::multiset<Line>(printed.begin(), printed.end()), expected);

  // Meeting position: where the forward half of the sequence, from the
  // turned first cube, ends.
  const auto meeting = [&first](const Line& l) {
    const std::size_t half = l.moves.size() - l.moves.size() / 2;
    const std::vector<int> head(l.moves.begin(), l.moves.begin() + static_cast<long>(half));
    return pack_ce(test::apply_sequence(turn_word(first, l.pre), head), 0);
  };
  for (std::size_t k = 1; k < printed.size(); ++k) {
    if (printed[k - 1].moves.size() != printed[k].moves.size()) continue;
    EXPECT_FALSE(cube_state_less(meeting(printed[k]), meeting(printed[k - 1])))
        << show(printed[k - 1]) << " before " << show(printed[k]);
  }
}

// Targets that a U turn leaves as they are keep one root: the search is an
// ordinary one, line for line.
TEST(AufSearch, TargetsAUTurnKeepGiveThePlainOutput) {
  const Cube f2l = add_f2l(empty_cube());
  struct Plain {
    Cube first, second;
    Auf auf;
  };
  for (const Plain& p : {Plain{moved(f2l, "R U R' U' F"), f2l, Auf::post},
                         Plain{moved(kOll, "F R U R' U' F'"), kOll, Auf::post},
                         Plain{f2l, moved(f2l, "R U' R'"), Auf::pre}, Plain{f2l, f2l, Auf::both}}) {
    const std::string plain = run_solve(p.first, p.second, Auf::off, 7, "RUF");
    EXPECT_EQ(run_solve(p.first, p.second, p.auf, 7, "RUF"), plain);
    if (!(p.first == p.second)) {
      EXPECT_FALSE(plain.empty());
    }
  }
}

// The count limit counts lines, whatever their turns.
TEST(AufSearch, CountLimitCountsLines) {
  const Cube first = moved(full_cube(), "R U R' U'");
  const std::string all = run_solve(first, full_cube(), Auf::both, 6, "RUF");
  const std::vector<Line> lines = parse_lines(all);
  ASSERT_GT(lines.size(), 10u);
  for (int n : {1, 2, 7}) {
    const std::vector<Line> some =
        parse_lines(run_solve(first, full_cube(), Auf::both, 6, "RUF", n));
    ASSERT_EQ(some.size(), static_cast<std::size_t>(n));
    EXPECT_TRUE(std::equal(some.begin(), some.end(), lines.begin()));
  }
}

// The algorithm set of the README, line for line.
TEST(AufSearch, ReadmeAlgorithmSet) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"R U R' U R U2 R'", "R U2 R' U' R U' R' (U') \n"},
      {"R U2 R' U' R U' R'", "R U R' U R U2 R' (U') \n"},
      {"F R U R' U' F'", "F U R U' R' F' (U') \n"},
      {"R U R' U R U' R' U R U2 R'", "R U2 R' U' R U R' U' R U' R' (U') \n"},
  };
  for (const auto& [c, line] : cases) {
    const auto r = test::run("U " + c + " set_gen RUF set_auf post set da 0 solve", {"--silent"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, line) << c;
  }
  const auto r = test::run(
      "init_empty_cube add_f2l add_corners_orientation add_edges_orientation R U R' U R U2 R' "
      "set_gen RU set_auf pre set d 7 solve",
      {"--silent"});
  EXPECT_EQ(r.out, "(U') R' U' R U' R' U2 R \nR U2 R' U' R U' R' \n");
}

// A side with several roots holds, at every level, the union of the levels
// of one side per root: the same (position, last move) entries, in
// cube-state order.
TEST(SeveralRoots, LevelsAreTheUnionOfOneSidePerRoot) {
  MemoryBudget budget;
  LegalMoves legal;
  legal.set_3gen("RUF");
  const Cube base = moved(kOll, "R U2 R' F");
  std::vector<Cube> roots = {base, moved(base, "U"), moved(base, "U2"), moved(base, "U'")};
  std::vector<PackedCube> packed;
  for (const Cube& r : roots) packed.push_back(pack_ce(r, 0));
  std::sort(packed.begin(), packed.end(), cube_state_less);
  for (int direction : {kForward, kBackward}) {
    search_side joint(packed, direction, budget);
    EXPECT_EQ(joint.level_end, 4u);
    std::vector<std::unique_ptr<search_side>> single;
    for (const Cube& r : roots)
      single.push_back(std::make_unique<search_side>(r, direction, budget));
    for (int level = 1; level <= 4; ++level) {
      joint.grow(legal);
      std::set<std::pair<std::uint64_t, std::uint64_t>> expected;
      for (auto& s : single) {
        s->grow(legal);
        for (std::size_t i = s->level_start; i < s->level_end; ++i)
          expected.emplace(s->cache.cubes()[i].hi, s->cache.cubes()[i].lo);
      }
      std::vector<std::pair<std::uint64_t, std::uint64_t>> got;
      for (std::size_t i = joint.level_start; i < joint.level_end; ++i)
        got.emplace_back(joint.cache.cubes()[i].hi, joint.cache.cubes()[i].lo);
      EXPECT_TRUE(std::is_sorted(got.begin(), got.end(),
                                 [](const auto& a, const auto& b) {
                                   return cube_state_less({a.second, a.first}, {b.second, b.first});
                                 }))
          << "level " << level;
      EXPECT_EQ(got.size(), expected.size()) << "level " << level;
      EXPECT_EQ(std::set(got.begin(), got.end()), expected) << "level " << level;
    }
  }
}

// Rebuilt paths start at any root, with any move, and know their root.
TEST(SeveralRoots, PathsEndAtTheirRoots) {
  MemoryBudget budget;
  LegalMoves legal;
  legal.set_3gen("RU");
  const Cube base = moved(full_cube(), "R U R'");
  std::vector<PackedCube> packed;
  for (const char* t : {"", "U", "U2", "U'"}) packed.push_back(pack_ce(moved(base, t), 0));
  std::sort(packed.begin(), packed.end(), cube_state_less);
  search_side side(packed, kForward, budget);
  for (int level = 0; level < 3; ++level) side.grow(legal);
  std::size_t paths = 0, first_moves_u = 0;
  for (std::size_t i = side.level_start; i < side.level_end; ++i) {
    sequence_list list;
    find_cache_sequence(list, side.cache.cubes(), side.level_start, i, kForward);
    ASSERT_GT(list.count, 0u);
    for (std::size_t k = 0; k < list.count; ++k) {
      const auto path = list.path(k);
      ASSERT_LT(list.root(k), packed.size());
      const Cube root = unpack_cube(packed[list.root(k)]);
      EXPECT_TRUE(
          same_cube_state(pack_ce(test::apply_sequence(root, {path.begin(), path.end()}), 0),
                          side.cache.cubes()[i]));
      first_moves_u += path[0] / 3 == 1 ? 1 : 0;
      ++paths;
    }
  }
  // Every root, any of the 6 moves, then 3 of the other face twice.
  EXPECT_EQ(paths, 4u * 6 * 3 * 3);
  EXPECT_EQ(first_moves_u, 4u * 3 * 3 * 3);
}

}  // namespace
}  // namespace tessel
