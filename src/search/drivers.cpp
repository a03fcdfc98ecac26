#include "search/drivers.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "cube/masks.h"
#include "cube/moves.h"
#include "search/join.h"
#include "search/packed_cube.h"
#include "search/search_side.h"

namespace tessel {

namespace {

void record(const std::array<search_side, 2>& sides, SearchStats& stats) {
  const std::uint64_t stored = sides[0].stored() + sides[1].stored();
  ++stats.searches;
  stats.generated += sides[0].cache.generated() + sides[1].cache.generated();
  stats.stored += stored;
  if (stored > stats.stored_peak) stats.stored_peak = stored;
}

std::int64_t join(const std::array<search_side, 2>& sides, std::int64_t max_count,
                  const SequenceSink& sink, SearchSession& session) {
  RangeJoinOptions options;
  options.most_per_range = session.most_per_range();
  options.filter_bits = session.filter_bits();
  options.ranges_used = &session.stats().ranges;
  options.range_joins = &session.stats().range_joins;
  options.kept = &session.stats().kept;
  options.progress = session.progress();
  return join_newest(sides[0], sides[1], max_count, sink, session.budget(), options);
}

// The roots of one side of `solve`: its end cube and, when it may be
// turned, its distinct turned forms, in cube-state order, each with the
// text its sequences show for it ("(U2) ", or nothing for the unturned).
struct SideRoots {
  std::vector<PackedCube> packed;
  std::vector<std::string> text;
};

constexpr int kU1 = 3, kU2 = 4, kU3 = 5;  // U, U2, U'

// `before`: the sequences start from the end cube turned; otherwise they
// end at it turned back, so that the turn after them reaches it.
SideRoots side_roots(const Cube& end, bool turned, bool before) {
  std::vector<std::pair<PackedCube, std::string>> roots = {{pack_ce(end, 0), std::string()}};
  if (turned) {
    for (int turn : {kU1, kU2, kU3}) {
      const Cube root = apply_move(before ? turn : reverse_rotation(turn), end);
      const PackedCube packed = pack_ce(root, 0);
      if (std::any_of(roots.begin(), roots.end(),
                      [&packed](const auto& r) { return same_cube_state(r.first, packed); }))
        continue;
      std::string text = "(";
      text += all_rotations_s[static_cast<std::size_t>(turn)];
      text += ") ";
      roots.emplace_back(packed, std::move(text));
    }
    std::sort(roots.begin(), roots.end(),
              [](const auto& a, const auto& b) { return cube_state_less(a.first, b.first); });
  }
  SideRoots side;
  for (auto& [packed, text] : roots) {
    side.packed.push_back(packed);
    side.text.push_back(std::move(text));
  }
  return side;
}

}  // namespace

void solve(const Cube& first, const Cube& second, search_parameters parameters,
           SearchSession& session) {
  const bool pre = parameters.auf == Auf::pre || parameters.auf == Auf::both;
  const bool post = parameters.auf == Auf::post || parameters.auf == Auf::both;
  const SideRoots from = side_roots(first, pre, true);
  const SideRoots to = side_roots(second, post, false);
  std::array<search_side, 2> sides = {search_side(from.packed, kForward, session.budget()),
                                      search_side(to.packed, kBackward, session.budget())};
  int levels = 0;
  std::int64_t found_total = 0;
  const std::int64_t wanted = parameters.max_number_of_sequences;
  for (;;) {
    // The progress line of this length, erased however the length ends.
    struct ShownLength {
      Progress* progress;
      ~ShownLength() {
        if (progress != nullptr) progress->end();
      }
    } shown{session.progress()};
    if (shown.progress != nullptr) shown.progress->begin(levels + 1);
    // The last level the search grows is only joined, once: it need not
    // be stored. (An earlier one would be joined again with the other
    // side's next level, which sifts better against a stored level.)
    const bool last = levels + 2 > parameters.max_depth_of_search;
    sides[static_cast<std::size_t>(levels % 2)].grow_or_plan(session.legal(), last);
    ++levels;
    session.info("Searching " + std::to_string(levels) + " move solutions...");
    found_total += join(
        sides, wanted - found_total,
        [&session, &from, &to](std::span<const int> moves) {
          const SequenceRoots roots = roots_of_sequence();
          session.write_line(from.text[roots.forward] + sequence_text(moves) +
                             to.text[roots.backward] + "\n");
          return true;
        },
        session);
    if (found_total >= wanted) break;
    if (found_total > 0 && parameters.max_depth_after_first_match >= 0 &&
        static_cast<std::int64_t>(parameters.max_depth_after_first_match) + levels <
            parameters.max_depth_of_search)
      parameters.max_depth_of_search = parameters.max_depth_after_first_match + levels;
    if (levels >= parameters.max_depth_of_search) break;
  }
  record(sides, session.stats());
}

std::optional<std::vector<int>> solve_single_phase(const Cube& start, const Cube& target,
                                                   int side_depth_limit, SearchSession& session) {
  std::array<search_side, 2> sides = {search_side(start, kForward, session.budget()),
                                      search_side(target, kBackward, session.budget())};
  std::optional<std::vector<int>> result;
  const auto keep_first = [&result](std::span<const int> moves) {
    result.emplace(moves.begin(), moves.end());
    return false;
  };
  for (int pass = 0; pass < side_depth_limit && !result; ++pass) {
    for (auto& side : sides) {
      side.grow_or_plan(session.legal());
      if (join(sides, 1, keep_first, session) > 0) break;
    }
  }
  record(sides, session.stats());
  return result;
}

void solve_two_phase(std::span<const int> history, int side_depth_limit, SearchSession& session) {
  const Cube domino = add_domino_elements(empty_cube());
  Cube start = domino;
  for (int m : history) start = apply_move(m, start);

  session.legal().set_3gen("RLFBDU");
  const auto phase1 = solve_single_phase(start, domino, side_depth_limit, session);
  std::string line = phase1 ? sequence_text(*phase1) : std::string();
  line += "  ";
  session.legal().set_3gen("R2L2F2B2DU");
  if (phase1) {
    Cube scrambled = full_cube();
    for (int m : history) scrambled = apply_move(m, scrambled);
    for (int m : *phase1) scrambled = apply_move(m, scrambled);
    const auto phase2 = solve_single_phase(scrambled, full_cube(), side_depth_limit, session);
    if (phase2) line += sequence_text(*phase2);
  }
  line += '\n';
  session.write_line(line);
}

}  // namespace tessel
