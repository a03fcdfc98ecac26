// The processes of one run spread over several machines. Every process
// (rank) runs the same commands on the same state; a search's joins are
// split between them by key, and what each finds is gathered in rank order.
// A run of one process has no Ranks at all.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
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
  // What every rank sent this one: to_each[r] goes to rank r, and rank r's
  // part for this rank comes back at [r]. Every rank must call it at the
  // same point of the run, with size() parts. Through all_gather, unless a
  // kind of ranks has a way that copies less.
  virtual std::vector<std::string> exchange(const std::vector<std::string>& to_each) {
    if (to_each.size() != static_cast<std::size_t>(size()))
      fail("ERROR: Bug found, an exchange without a part for each rank\n");
    std::string mine;
    for (const std::string& part : to_each) {
      const std::uint64_t n = part.size();
      mine.append(reinterpret_cast<const char*>(&n), sizeof n);
      mine += part;
    }
    const std::vector<std::string> all = all_gather(mine);
    std::vector<std::string> from_each;
    for (const std::string& sent : all) {
      // Rank r's parts, one per rank in order: this rank's is the rank()-th.
      std::size_t at = 0;
      for (int r = 0;; ++r) {
        std::uint64_t n = 0;
        if (sent.size() - at < sizeof n) fail("ERROR: Bug found, an exchanged part is cut short\n");
        std::memcpy(&n, sent.data() + at, sizeof n);
        at += sizeof n;
        if (sent.size() - at < n) fail("ERROR: Bug found, an exchanged part is cut short\n");
        if (r == rank()) {
          from_each.push_back(sent.substr(at, static_cast<std::size_t>(n)));
          break;
        }
        at += static_cast<std::size_t>(n);
      }
    }
    return from_each;
  }
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

// all_gather, for a gathering that ends a step some ranks may fail alone
// (each rank has its own room): `failed` tells how this rank's step ended.
// When it failed on any rank, every rank throws the failure of the lowest
// such rank, so all end the step alike and meet at the same gatherings
// after it; otherwise every rank's `mine`, in rank order. A rank whose step
// failed must not have skipped a gathering the others made in it.
inline std::vector<std::string> all_gather_or_fail(Ranks& ranks, const std::string& mine,
                                                   const std::optional<Failure>& failed) {
  std::string sent;
  if (failed) {
    sent.push_back('F');
    const auto status = static_cast<std::uint32_t>(failed->status);
    sent.append(reinterpret_cast<const char*>(&status), sizeof status);
    sent += failed->message;
  } else {
    sent.push_back('-');
    sent += mine;
  }
  std::vector<std::string> all = ranks.all_gather(sent);
  for (std::string& part : all) {
    if (part.empty()) fail("ERROR: Bug found, a rank's gathered part is missing\n");
    if (part[0] == 'F') {
      std::uint32_t status = 1;
      if (part.size() < 1 + sizeof status)
        fail("ERROR: Bug found, a rank's failure is cut short\n");
      std::memcpy(&status, part.data() + 1, sizeof status);
      fail(part.substr(1 + sizeof status), static_cast<int>(status));
    }
    part.erase(0, 1);
  }
  return all;
}

// Runs `step` on this rank alone: the failure it ended with, if any.
template <typename Step>
std::optional<Failure> failure_of(Step&& step) {
  try {
    step();
  } catch (const Failure& failure) {
    return failure;
  }
  return std::nullopt;
}

// Runs `step` on every rank and ends it alike on all: when it fails on
// any, every rank throws the failure of the lowest that failed. `step`
// must not gather.
template <typename Step>
void all_or_none(Ranks& ranks, Step&& step) {
  all_gather_or_fail(ranks, std::string(), failure_of(step));
}

}  // namespace tessel
