// Standard input of an MPI run: rank 0 reads it, and every rank receives
// each piece it reads, so that all ranks read the same words at the same
// points of the run.
#pragma once

#include <array>
#include <streambuf>

#include "mpi/mpi_ranks.h"

namespace tessel {

class RankInput : public std::streambuf {
 public:
  // On rank 0, reads file descriptor `fd`.
  RankInput(MpiRanks& ranks, int fd);

 protected:
  int_type underflow() override;

 private:
  MpiRanks& ranks_;
  int fd_;
  bool ended_ = false;
  std::array<char, 1 << 16> buffer_{};
};

}  // namespace tessel
