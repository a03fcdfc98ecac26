// What a search shares with the command session that runs it: the legal
// move list, the info switch, the output streams and the memory budget.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string_view>

#include "core/ranks.h"
#include "search/kept_sides.h"
#include "search/legal_moves.h"
#include "search/level_cache.h"
#include "search/progress.h"

namespace tessel {

// Figures of the searches run in a session, for benchmarks.
struct SearchStats {
  std::uint64_t searches = 0;
  std::uint64_t generated = 0;     // children generated, all searches
  std::uint64_t stored = 0;        // entries stored, all searches
  std::uint64_t stored_peak = 0;   // entries stored by the largest search
  std::uint64_t ranges = 0;        // key ranges joined (1 per join of stored levels)
  std::uint64_t range_joins = 0;   // joins of range-built levels
  std::uint64_t slices = 0;        // key ranges cut finer than a bucket
  std::uint64_t kept = 0;          // children of range-built levels kept for their joins
  std::uint64_t prepared = 0;      // joins that took a filter the join before made
  std::uint64_t near_joins = 0;    // joins that passed over parents far from the kept
  std::uint64_t held = 0;          // levels held in shares on several ranks
  std::uint64_t by_parents = 0;    // joins of the children of each rank's parents
  std::uint64_t routed = 0;        // of those, joins that sent children to the ranks owning them
  std::uint64_t regrown = 0;       // levels grown again with ranks that had not kept them
  std::uint64_t restarted = 0;     // searches run again without kept sides, out of memory
  std::uint64_t shared_joins = 0;  // joins of one process made in key shares, short of memory
};

class SearchSession {
 public:
  SearchSession(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  LegalMoves& legal() { return legal_; }
  MemoryBudget& budget() { return budget_; }
  SearchStats& stats() { return stats_; }
  // Most children of one key range of range-built levels (0: as many as the
  // budget allows). Tests lower it to cut levels into many ranges.
  std::size_t most_per_range() const { return most_per_range_; }
  void set_most_per_range(std::size_t n) { most_per_range_ = n; }
  // Bits of the position filters of range-built levels (0: sized to the
  // level and the budget). Tests lower it so that many children pass.
  int filter_bits() const { return filter_bits_; }
  void set_filter_bits(int bits) { filter_bits_ = bits; }
  // As RangeJoinOptions::filter_staging (tests).
  int filter_staging() const { return filter_staging_; }
  void set_filter_staging(int staging) { filter_staging_ = staging; }
  // As RangeJoinOptions::near_parents (tests).
  bool near_parents() const { return near_parents_; }
  void set_near_parents(bool on) { near_parents_ = on; }

  // Informational messages: "INFO: ", the text and a line end, unless
  // switched off.
  void info(std::string_view text);
  bool info_enabled() const { return print_info_; }
  void disable_info_messages() { print_info_ = false; }

  // The progress line of long searches on the picture stream; off unless
  // switched on (when that stream is a terminal). Null when off.
  void enable_progress() { progress_ = std::make_unique<Progress>(err_, true); }
  Progress* progress() { return progress_.get(); }

  // Writes a whole line to standard output and flushes it; a closed or
  // failing output ends the run.
  void write_line(std::string_view line);

  // Lines written to standard output so far (sequences and info lines).
  std::uint64_t lines_written() const { return lines_written_; }
  // The next `n` lines are counted as written but not written: a search run
  // again from the start passes over what it already printed.
  void pass_over_lines(std::uint64_t n) { lines_to_pass_ = n; }

  // The sides of earlier searches, kept for later ones.
  KeptSides& kept_sides() { return kept_sides_; }

  // The processes this session runs on beside its copies, or null for a
  // process of its own: then every join is split between them.
  Ranks* ranks() const { return ranks_; }
  void set_ranks(Ranks* ranks) { ranks_ = ranks; }

 private:
  // Counts a line; false when it is to be passed over, not written.
  bool count_line();

  std::ostream& out_;
  std::ostream& err_;
  LegalMoves legal_;
  MemoryBudget budget_;
  SearchStats stats_;
  bool print_info_ = true;
  std::size_t most_per_range_ = 0;
  int filter_bits_ = 0;
  int filter_staging_ = 0;
  bool near_parents_ = true;
  std::unique_ptr<Progress> progress_;
  std::uint64_t lines_written_ = 0;
  std::uint64_t lines_to_pass_ = 0;
  KeptSides kept_sides_;  // after budget_, which they draw on
  Ranks* ranks_ = nullptr;
};

}  // namespace tessel
