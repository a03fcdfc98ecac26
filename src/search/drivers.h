// Whole searches: all sequences by increasing length, one shortest
// sequence, and the two-phase solution of a move history.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cube/cube_state.h"
#include "search/session.h"

namespace tessel {

inline constexpr int kMaxSearchDepth = 22;

// Which ends of a sequence `solve` may adjust by a U-layer turn (U, U2 or
// U'), which is not part of the sequence: before it (the first cube turned
// first), after it (the sequence reaches the second cube turned back), or
// both.
enum class Auf : std::int32_t { off, pre, post, both };

struct search_parameters {
  std::int32_t max_number_of_sequences = 1000000;
  std::int32_t max_depth_after_first_match = -1;  // negative: no limit
  std::int32_t max_depth_of_search = kMaxSearchDepth;
  Auf auf = Auf::off;
};

// Prints, shortest first, every sequence of legal moves that turns `first`
// into `second`, with a progress line per length, within the limits.
//
// With parameters.auf, a side whose end cube a U turn changes starts from
// the distinct cubes among it and its turned forms (the unturned first), all
// in level 0: a sequence is printed once for each pair of roots, one per
// side, that it joins, between the turns that make them: "(U2) R U R' (U') "
// takes `first`, turned by U2, by R U R' and then U' to `second`. Lengths
// count the sequence's moves only; a sequence of no moves is never printed.
// On several ranks, whether a search holds both sides' last stored levels
// in shares where they are as deep (each rank then keeps about half of
// both, and the joins after them are made by the ranks owning their
// meetings: less memory per rank, more time), or only the last one. Off
// unless set; tessel-mpi sets it with TESSEL_MPI_HOLD_BOTH in its
// environment.
void set_hold_both_levels(bool hold);
bool hold_both_levels();

void solve(const Cube& first, const Cube& second, search_parameters parameters,
           SearchSession& session);

// A shortest sequence from start to target within 2 * side_depth_limit
// moves, or nothing. Prints nothing.
std::optional<std::vector<int>> solve_single_phase(const Cube& start, const Cube& target,
                                                   int side_depth_limit, SearchSession& session);

// Solves the cube that the move history makes from the solved cube: to the
// domino target with all face turns, then home with R2 L2 F2 B2 U D. Prints
// both phases on one line and leaves the legal moves at the phase-2 set.
void solve_two_phase(std::span<const int> history, int side_depth_limit, SearchSession& session);

}  // namespace tessel
