// The ranks of an MPI run, over one communicator.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/ranks.h"

namespace tessel {

class MpiRanks : public Ranks {
 public:
  explicit MpiRanks(MPI_Comm comm);

  int rank() const override { return rank_; }
  int size() const override { return size_; }
  std::vector<std::string> all_gather(const std::string& mine) override;
  // Each part broadcast from its rank straight into its place, in pieces
  // of at most 1 GiB.
  void share_parts(char* data, std::span<const std::uint64_t> bounds) override;
  // Each part straight to its rank (MPI_Alltoallv).
  std::vector<std::string> exchange(const std::vector<std::string>& to_each) override;

  // Rank 0's `text` on every rank.
  std::string broadcast(const std::string& text);
  // The ranks that share this rank's machine (its memory and processors).
  int on_this_machine() const { return local_size_; }

  MPI_Comm comm() const { return comm_; }

  // What went between the ranks: one record per level shared, per
  // gathering (of found sequences, or of the sizes of shared parts) and per
  // exchange, in the order of the run. `moved` counts every byte once for
  // each rank it went to; an exchange counts what this rank sent (`bytes`),
  // and of it what went to other ranks (`moved`).
  struct Exchange {
    bool level = false;       // a level shared, else a gathering or an exchange
    bool routed = false;      // parts sent each to one rank (exchange)
    std::uint64_t bytes = 0;  // the level's, what all ranks gave, or what this one sent
    std::uint64_t moved = 0;
  };
  const std::vector<Exchange>& exchanges() const { return exchanges_; }

 private:
  MPI_Comm comm_;
  int rank_ = 0;
  int size_ = 1;
  int local_size_ = 1;
  std::vector<Exchange> exchanges_;
};

}  // namespace tessel
