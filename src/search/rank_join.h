// A join split between the processes of a run: each joins the meetings of
// its share of the positions, and every process then hands on all the
// sequences found, in rank order, which is the order of one process's join.
#pragma once

#include <cstdint>

#include "core/ranks.h"
#include "search/join.h"
#include "search/search_side.h"

namespace tessel {

// The share of rank `rank` of `ranks` in the join of the two sides' newest
// levels: cut at keys of the larger stored one (or of the larger parent
// level, when both are range-built) so that the shares hold about as many
// of its entries. The same on every rank.
KeyShare share_of_rank(const search_side& forward, const search_side& backward, int rank,
                       int ranks);

// join_newest over the ranks: this rank joins its share, the sequences of
// all ranks are gathered, and `sink` receives them on every rank, in rank
// order, up to max_count as join_newest would. Returns the number handed
// on, the same on every rank.
std::int64_t join_over_ranks(Ranks& ranks, const search_side& forward, const search_side& backward,
                             std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                             RangeJoinOptions options);

}  // namespace tessel
