// Joining the newest levels of the two sides of a search, and rebuilding
// the move sequences behind a matched position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "search/level_cache.h"

namespace tessel {

// One level of a cache: entries [start, end), preceded by their marker.
// Or a part of a level built apart from its cache (a key range of a level
// too large to store): then `parents` is the cache, and the entries' parents
// lie in its level [parent_start, parent_end).
struct LevelRange {
  const PackedCube* cubes;
  std::size_t start;
  std::size_t end;
  const PackedCube* parents = nullptr;
  std::size_t parent_start = 0;
  std::size_t parent_end = 0;
  // A slice of level 0 that need not start at index 0.
  bool level_zero = false;
  // Parents held apart too (entries of a level gathered from the processes
  // holding them, every entry of each of their positions, in level order):
  // then their own parents are the level [lower_start, lower_end) of the
  // cache `lower`.
  const PackedCube* lower = nullptr;
  std::size_t lower_start = 0;
  std::size_t lower_end = 0;

  // Whether entry i is a side's root: level 0 is the level that starts at
  // index 0, and every entry of it is a root (whose last move means nothing).
  bool is_root(std::size_t) const { return parents == nullptr && (start == 0 || level_zero); }
};

// The entries of a sorted level that lie in the share: a level of its own,
// whose paths are those of the same entries of the whole level.
LevelRange share_of_level(const LevelRange& level, const KeyShare& share);

// Paths of one length, stored one after another in application order,
// each with the root it starts from (its index in level 0).
struct sequence_list {
  int length = 0;
  std::size_t count = 0;
  std::vector<int> moves;
  std::vector<std::size_t> roots;

  std::span<const int> path(std::size_t k) const {
    const auto n = static_cast<std::size_t>(length);
    return {moves.data() + k * n, n};
  }
  std::size_t root(std::size_t k) const { return roots[k]; }
  // Appends a path given last move first, from the root at index `root`.
  // All paths must be equally long.
  void add_reverse_sequence(std::span<const int> reversed, std::size_t root = 0);
  // Empties the list; the moves keep their room for the next paths.
  void clear() {
    length = 0;
    count = 0;
    moves.clear();
    roots.clear();
  }
};

// The smallest index in [left, right) holding the key's position, or right
// when the level does not hold it.
std::size_t find_index_in_cache_level(const PackedCube* cubes, std::size_t left, std::size_t right,
                                      const PackedCube& key);

// Appends to `list` every path from the root to entry `index`, which lies in
// the level starting at `level_start`, that obeys the pruning rule of the
// side's direction.
void find_cache_sequence(sequence_list& list, const PackedCube* cubes, std::size_t level_start,
                         std::size_t index, int direction);

// find_cache_sequence for entry `index` of a level, stored or built apart;
// `path` is scratch.
void find_level_sequence(sequence_list& list, std::vector<int>& path, const LevelRange& level,
                         std::size_t index, int direction);

// Receives each accepted sequence; returns false to stop the join.
using SequenceSink = std::function<bool(std::span<const int>)>;

// The roots a sequence joins, as indices into level 0 of the forward and
// the backward side (a side with one root: 0).
struct SequenceRoots {
  std::size_t forward = 0;
  std::size_t backward = 0;
};
// The roots of the sequence a sink is being handed: valid while the sink
// runs, on the thread that runs it (the join hands every sequence on from
// the thread that called it).
SequenceRoots roots_of_sequence();
// Where a sequence a join hands on meets: the position (with the last move
// of the forward entry), and which of the position's forward entries it
// follows (0 for the first). Valid as roots_of_sequence() is, in a join.
struct SequenceMeeting {
  PackedCube position;
  std::size_t forward_entry = 0;
};
SequenceMeeting meeting_of_sequence();
// Hands a sequence to `sink` as a join does, with `roots` as what
// roots_of_sequence() tells while the sink runs; returns what it returns.
bool hand_on(const SequenceSink& sink, std::span<const int> moves, SequenceRoots roots);

// Joins two levels: every position in both is rebuilt into its forward and
// backward paths; each forward path followed by the reversed, inverted
// backward path is a sequence from the forward root to the backward root.
// Sequences that break the pruning rule are dropped; the others go to
// `sink` in output order. Stops after max_count accepted sequences (tested
// after each acceptance) or when the sink says so; returns the number
// accepted.
//
// Large joins look for meetings on several threads; each notes at most
// `meetings_per_part` before leaving the rest of its slice to the calling
// thread (tests lower it). The result never depends on either.
inline constexpr std::size_t kJoinMeetingsPerPart = std::size_t{1} << 14;
std::int64_t find_sequence(const LevelRange& forward, const LevelRange& backward,
                           std::int64_t max_count, const SequenceSink& sink,
                           std::size_t meetings_per_part = kJoinMeetingsPerPart);

// Move names, each followed by one blank.
std::string sequence_text(std::span<const int> moves);

}  // namespace tessel
