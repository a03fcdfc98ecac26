// The processes of one run spread over several machines. Every process
// (rank) runs the same commands on the same state; a search's joins are
// split between them by key, and what each finds is gathered in rank order.
// A run of one process has no Ranks at all.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/failure.h"

namespace tessel {

class Ranks {
 public:
  virtual ~Ranks() = default;
  virtual int rank() const = 0;  // 0 .. size() - 1; rank 0 alone writes
  virtual int size() const = 0;
  // Every rank's `mine`, in rank order, on every rank. Every rank must call
  // it at the same point of the run.
  virtual std::vector<std::string> all_gather(const std::string& mine) = 0;
  // Every rank's part of `data` on every rank: rank r has written bytes
  // [bounds[r], bounds[r + 1]), and afterwards every rank holds all of
  // [bounds[0], bounds[size()]). `bounds` (size() + 1 offsets, increasing)
  // is the same on every rank; so is the point of the call. Through
  // all_gather, unless a kind of ranks has a way that copies less.
  virtual void share_parts(char* data, std::span<const std::uint64_t> bounds) {
    const auto own = static_cast<std::size_t>(rank());
    const std::vector<std::string> all =
        all_gather(std::string(data + bounds[own], data + bounds[own + 1]));
    for (std::size_t r = 0; r < all.size(); ++r) {
      if (all[r].size() != bounds[r + 1] - bounds[r])
        fail("ERROR: Bug found, a shared part is not the size of its place\n");
      if (r != own && !all[r].empty()) std::memcpy(data + bounds[r], all[r].data(), all[r].size());
    }
  }
};

// Whether `mine` is true on every rank: for decisions every rank must take
// alike. Every rank must call it at the same point of the run.
inline bool all_agree(Ranks& ranks, bool mine) {
  for (const std::string& part : ranks.all_gather(mine ? "1" : "0"))
    if (part != "1") return false;
  return true;
}

}  // namespace tessel
