#include "search/drivers.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "cube/masks.h"
#include "cube/moves.h"
#include "search/join.h"
#include "search/kept_sides.h"
#include "search/packed_cube.h"
#include "search/rank_join.h"
#include "search/search_side.h"

namespace tessel {

namespace {

// Two sides of one search, forward first.
struct Sides {
  std::unique_ptr<search_side> side[2];
  std::uint64_t generated_before = 0;  // by kept sides, in earlier searches

  search_side& operator[](std::size_t i) { return *side[i]; }
  std::uint64_t generated() const {
    return side[0]->cache.generated() + side[1]->cache.generated() - generated_before;
  }
};

void record(const search_side& forward, const search_side& backward, std::uint64_t generated,
            SearchStats& stats) {
  const std::uint64_t stored = forward.stored() + backward.stored();
  ++stats.searches;
  stats.generated += generated;
  stats.stored += stored;
  if (stored > stats.stored_peak) stats.stored_peak = stored;
}

constexpr std::uint64_t kMostShares = 64;

// Into how many key shares one process cuts a join with range-built
// levels, to be joined one after another as several ranks would join them
// at once, each with filters sized for its share alone. A join's filter
// (of the other side's stored level, or of the smaller range-built level's
// children) gets at most a quarter of what the budget has left; where that
// lets so many of the sifted children (the larger range-built level's)
// pass by chance that they do not fit in what is left after it, the join
// would walk the key space in many ranges, each passing over all the
// parents again. Cut into k shares, the filter holds a k-th of the
// positions in the same bytes and a k-th of the children is sifted: the
// fewest shares whose kept children fit, or 1 when the whole join's do.
std::uint64_t shares_of_join(const search_side& forward, const search_side& backward,
                             const MemoryBudget& budget) {
  if (!forward.range_built() && !backward.range_built()) return 1;
  std::uint64_t positions = 0, sifted = 0;
  if (forward.range_built() && backward.range_built()) {
    positions = std::min(forward.ranges->children(), backward.ranges->children());
    sifted = std::max(forward.ranges->children(), backward.ranges->children());
  } else {
    const search_side& stored = forward.range_built() ? backward : forward;
    const search_side& built = forward.range_built() ? forward : backward;
    positions = stored.newest_size();
    sifted = built.ranges->children();
  }
  const std::size_t filter_bytes = PositionFilter::most_bytes(budget);
  const double filter_bits = static_cast<double>(filter_bytes) * 8;
  const double room = static_cast<double>(kept_children_bytes(budget.remaining() - filter_bytes)) /
                      static_cast<double>(sizeof(PackedCube));
  for (std::uint64_t k = 1; k < kMostShares; ++k) {
    const double chance = PositionFilter::chance_of_passing(
        static_cast<double>(positions) / static_cast<double>(k), filter_bits);
    if (static_cast<double>(sifted) / static_cast<double>(k) * chance <= room) return k;
  }
  return kMostShares;
}

// join_newest in `shares` key shares, one after another: the sequences of
// each share follow those of the shares before, which is the order of one
// join of the whole.
std::int64_t join_in_shares(const search_side& forward, const search_side& backward,
                            std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                            RangeJoinOptions options, std::uint64_t shares) {
  // A join stops at its first sequence with a limit of 0 or less, like 1.
  const std::int64_t limit = std::max<std::int64_t>(max_count, 1);
  // No filter is carried to or from a join cut otherwise than the next.
  if (options.carried != nullptr) options.carried->reset();
  options.carried = nullptr;
  options.prepare = false;
  std::int64_t found = 0;
  bool go_on = true;
  const SequenceSink passed_on = [&sink, &go_on](std::span<const int> moves) {
    go_on = sink(moves);
    return go_on;
  };
  for (std::uint64_t s = 0; s < shares && go_on && found < limit; ++s) {
    options.share = share_of_rank(forward, backward, static_cast<int>(s), static_cast<int>(shares));
    found += join_newest(forward, backward, limit - found, passed_on, budget, options);
  }
  return found;
}

std::int64_t join(const search_side& forward, const search_side& backward, std::int64_t max_count,
                  const SequenceSink& sink, SearchSession& session,
                  PreparedFilter* carried = nullptr, bool prepare = false) {
  RangeJoinOptions options;
  options.carried = carried;
  options.prepare = prepare;
  options.most_per_range = session.most_per_range();
  options.filter_bits = session.filter_bits();
  options.filter_staging = session.filter_staging();
  options.ranges_used = &session.stats().ranges;
  options.range_joins = &session.stats().range_joins;
  options.slices = &session.stats().slices;
  options.kept = &session.stats().kept;
  options.prepared = &session.stats().prepared;
  options.near_parents = session.near_parents();
  options.near_joins = &session.stats().near_joins;
  options.routed_joins = &session.stats().routed;
  options.progress = session.progress();
  if (Ranks* ranks = session.ranks(); ranks != nullptr && ranks->size() > 1) {
    if (joins_by_parents(forward, backward)) ++session.stats().by_parents;
    // A filter of one rank's share serves its next join only when that is
    // cut alike (PreparedFilter::holds).
    return join_over_ranks(*ranks, forward, backward, max_count, sink, session.budget(), options);
  }
  if (const std::uint64_t shares = shares_of_join(forward, backward, session.budget());
      shares > 1) {
    session.stats().shared_joins += 1;
    return join_in_shares(forward, backward, max_count, sink, session.budget(), options, shares);
  }
  return join_newest(forward, backward, max_count, sink, session.budget(), options);
}

// The roots of one side of `solve`: its end cube and, when it may be
// turned, its distinct turned forms, in cube-state order, each with the
// text its sequences show for it ("(U2) ", or nothing for the unturned).
struct SideRoots {
  std::vector<PackedCube> packed;
  std::vector<std::string> text;
};

constexpr int kU1 = 3, kU2 = 4, kU3 = 5;  // U, U2, U'

// Sides kept between searches hold at most this share of the budget.
constexpr std::size_t kKeptShare = 16;

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

namespace {

std::atomic<bool> both_levels_held{false};

}  // namespace

void set_hold_both_levels(bool hold) { both_levels_held.store(hold); }
bool hold_both_levels() { return both_levels_held.load(); }

namespace {

// Sides kept for later searches give way once a search needs half the
// budget.
void give_way(SearchSession& session) {
  if (session.kept_sides().size() > 0 &&
      session.budget().remaining() < session.budget().limit() / 2)
    session.kept_sides().clear();
}

// The search of `solve` between two sides, each at level 0.
void search(Sides& sides, const SideRoots& from, const SideRoots& to, search_parameters parameters,
            SearchSession& session) {
  int levels = 0;
  std::int64_t found_total = 0;
  const std::int64_t wanted = parameters.max_number_of_sequences;
  // A filter one join makes for the next (see PreparedFilter).
  PreparedFilter carried;
  for (;;) {
    // The progress line of this length, erased however the length ends.
    struct ShownLength {
      Progress* progress;
      ~ShownLength() {
        if (progress != nullptr) progress->end();
      }
    } shown{session.progress()};
    if (shown.progress != nullptr) shown.progress->begin(levels + 1);
    // The last level a side grows is only joined (twice at the most): it
    // need not be stored. Sifting its children again for each join costs
    // less than storing them, in time and in memory.
    const bool last = levels + 2 >= parameters.max_depth_of_search;
    give_way(session);
    // On several ranks, the last level this search stores (both sides grow
    // only range-built levels after it) is held in shares, unless the other
    // side already holds one: each rank keeps its part of the level, and the
    // range-built level grown from it has each rank's part for parents. Its
    // joins send children to the ranks whose shares hold their keys, to be
    // tested there (rank_join).
    const std::size_t grown = static_cast<std::size_t>(levels % 2);
    Ranks* const ranks = session.ranks();
    search_side& other = sides[1 - grown];
    const bool hold = ranks != nullptr && ranks->size() > 1 && !last &&
                      levels + 3 >= parameters.max_depth_of_search && !other.held_share;
    // With hold_both_levels(), the other side's is held too where it is as
    // deep as this one (a
    // level shallower is a small part of what a rank holds, and held in
    // shares it would leave the deepest range-built level to be joined at
    // its owners) and its newest.
    std::optional<HeldBeside> beside;
    if (hold && hold_both_levels() && other.depth == sides[grown].depth + 1 &&
        !other.range_built() && other.levels_ahead() == 0) {
      const int rank = ranks->rank();
      beside = HeldBeside{other.cache.cubes(), other.level_start, other.level_end,
                          [&other, rank](const std::vector<KeyShare>& cuts) {
                            other.keep_share_of_newest(cuts, rank);
                          }};
    }
    if (sides[grown].grow_or_plan(session.legal(), last, ranks, hold,
                                  beside ? &*beside : nullptr))
      ++session.stats().regrown;
    if (beside && other.held_share) ++session.stats().held;
    if (sides[grown].held_share && !sides[grown].range_built()) ++session.stats().held;
    ++levels;
    session.info("Searching " + std::to_string(levels) + " move solutions...");
    // The next length, if any, grows the other side's last level.
    const bool next_is_last =
        levels < parameters.max_depth_of_search && levels + 2 >= parameters.max_depth_of_search;
    found_total += join(
        sides[0], sides[1], wanted - found_total,
        [&session, &from, &to](std::span<const int> moves) {
          const SequenceRoots roots = roots_of_sequence();
          session.write_line(from.text[roots.forward] + sequence_text(moves) +
                             to.text[roots.backward] + "\n");
          return true;
        },
        session, &carried, next_is_last);
    if (found_total >= wanted) break;
    if (found_total > 0 && parameters.max_depth_after_first_match >= 0 &&
        static_cast<std::int64_t>(parameters.max_depth_after_first_match) + levels <
            parameters.max_depth_of_search)
      parameters.max_depth_of_search = parameters.max_depth_after_first_match + levels;
    if (levels >= parameters.max_depth_of_search) break;
  }
  record(sides[0], sides[1], sides.generated(), session.stats());
}

// Runs `run` on a forward side from `forward_roots` and a backward side from
// `backward_roots`, each at level 0, and keeps both for later searches.
//
// A side kept from an earlier search, when this one has its roots,
// direction and legal moves, comes with its stored levels. The other kept
// sides stay, oldest given up first, in at most a sixteenth of the budget;
// one given up lends its memory to a new side of its direction.
void with_kept_sides(std::span<const PackedCube> forward_roots,
                     std::span<const PackedCube> backward_roots, SearchSession& session,
                     const std::function<void(Sides&)>& run) {
  SideKey keys[2] = {SideKey(forward_roots, kForward, session.legal()),
                     SideKey(backward_roots, kBackward, session.legal())};
  KeptSides& kept = session.kept_sides();
  Sides sides;
  for (std::size_t i = 0; i < 2; ++i) sides.side[i] = kept.take(keys[i]);
  for (auto& spare : kept.trim(session.budget().limit() / kKeptShare, KeptSides::kMostSides - 2)) {
    const std::size_t i = spare->direction == kForward ? 0 : 1;
    if (sides.side[i]) continue;
    spare->restart(keys[i].roots);
    sides.side[i] = std::move(spare);
  }
  for (std::size_t i = 0; i < 2; ++i)
    if (sides.side[i]) sides.generated_before += sides[i].cache.generated();
  const bool kept_memory = sides.side[0] || sides.side[1] || kept.size() > 0;
  Ranks* const ranks =
      session.ranks() != nullptr && session.ranks()->size() > 1 ? session.ranks() : nullptr;
  const auto add_new_sides = [&] {
    const auto add = [&] {
      for (std::size_t i = 0; i < 2; ++i)
        if (!sides.side[i])
          sides.side[i] =
              std::make_unique<search_side>(keys[i].roots, keys[i].direction, session.budget());
    };
    // A new side's room comes from this rank's budget alone.
    if (ranks != nullptr)
      all_or_none(*ranks, add);
    else
      add();
  };
  const std::uint64_t lines_before = session.lines_written();
  try {
    add_new_sides();
    run(sides);
  } catch (const Failure& failure) {
    // Kept sides, in use or not, may hold memory that a search of its own
    // would have. Out of memory, the search starts again from new sides with
    // nothing kept, passing over the lines it already wrote, so that it ends
    // as a search of its own would.
    //
    // On several ranks, every step that may run out of memory on one rank
    // alone (each has its own room) fails on all of them together, so all
    // come here at once; all start again when any has kept memory.
    if (std::string_view(failure.message) != kOutOfMemory) throw;
    if (ranks != nullptr ? all_agree(*ranks, !kept_memory) : !kept_memory) throw;
    sides = Sides();
    kept.clear();
    ++session.stats().restarted;
    session.pass_over_lines(session.lines_written() - lines_before);
    add_new_sides();
    run(sides);
    session.pass_over_lines(0);
  }
  for (std::size_t i = 0; i < 2; ++i) kept.keep(std::move(keys[i]), std::move(sides.side[i]));
}

}  // namespace

void solve(const Cube& first, const Cube& second, search_parameters parameters,
           SearchSession& session) {
  const bool pre = parameters.auf == Auf::pre || parameters.auf == Auf::both;
  const bool post = parameters.auf == Auf::post || parameters.auf == Auf::both;
  const SideRoots from = side_roots(first, pre, true);
  const SideRoots to = side_roots(second, post, false);
  with_kept_sides(from.packed, to.packed, session,
                  [&](Sides& sides) { search(sides, from, to, parameters, session); });
}

std::optional<std::vector<int>> solve_single_phase(const Cube& start, const Cube& target,
                                                   int side_depth_limit, SearchSession& session) {
  const PackedCube roots[2] = {pack_ce(start, 0), pack_ce(target, 0)};
  std::optional<std::vector<int>> result;
  with_kept_sides({&roots[0], 1}, {&roots[1], 1}, session, [&](Sides& sides) {
    result.reset();
    const auto keep_first = [&result](std::span<const int> moves) {
      result.emplace(moves.begin(), moves.end());
      return false;
    };
    for (int pass = 0; pass < side_depth_limit && !result; ++pass) {
      for (std::size_t i = 0; i < 2; ++i) {
        give_way(session);
        if (sides[i].grow_or_plan(session.legal(), false, session.ranks()))
          ++session.stats().regrown;
        if (join(sides[0], sides[1], 1, keep_first, session) > 0) break;
      }
    }
    record(sides[0], sides[1], sides.generated(), session.stats());
  });
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
