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
// of its entries. The same on every rank. When a side's newest level is
// held in shares, its share.
KeyShare share_of_rank(const search_side& forward, const search_side& backward, int rank,
                       int ranks);

// Whether the join of the two sides' newest levels is one whose sequences
// come from the parents each rank holds: a side's newest level is
// range-built from a level held in shares.
bool joins_by_parents(const search_side& forward, const search_side& backward);

// join_newest over the ranks: this rank joins its share, the sequences of
// all ranks are gathered, and `sink` receives them on every rank, in rank
// order, up to max_count as join_newest would. Returns the number handed
// on, the same on every rank.
//
// When joins_by_parents and the other side's newest level, or the level it
// grows from, is whole on every rank: every rank joins the children of the
// parents it holds with the other side's level, and the sequences of all
// ranks are handed on in the order of one process's join (by meeting
// position, then by the rank of the parent they come through). When both
// sides hold their last stored level in shares, cut alike: the children
// that may meet go, with their parents' entries, to the rank whose share
// holds their position, which joins them; the sequences of all ranks, in
// rank order, are those of one process.
std::int64_t join_over_ranks(Ranks& ranks, const search_side& forward, const search_side& backward,
                             std::int64_t max_count, const SequenceSink& sink, MemoryBudget& budget,
                             RangeJoinOptions options);

}  // namespace tessel
