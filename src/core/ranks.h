// The processes of one run spread over several machines. Every process
// (rank) runs the same commands on the same state; a search's joins are
// split between them by key, and what each finds is gathered in rank order.
// A run of one process has no Ranks at all.
#pragma once

#include <string>
#include <vector>

namespace tessel {

class Ranks {
 public:
  virtual ~Ranks() = default;
  virtual int rank() const = 0;  // 0 .. size() - 1; rank 0 alone writes
  virtual int size() const = 0;
  // Every rank's `mine`, in rank order, on every rank. Every rank must call
  // it at the same point of the run.
  virtual std::vector<std::string> all_gather(const std::string& mine) = 0;
};

}  // namespace tessel
