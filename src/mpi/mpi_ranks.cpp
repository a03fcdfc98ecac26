#include "mpi/mpi_ranks.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "core/failure.h"

namespace tessel {

namespace {

// MPI counts are ints: larger gatherings are refused rather than cut.
int count_of(std::uint64_t bytes) {
  if (bytes > static_cast<std::uint64_t>(INT_MAX)) fail(kOutOfMemory);
  return static_cast<int>(bytes);
}

}  // namespace

MpiRanks::MpiRanks(MPI_Comm comm) : comm_(comm) {
  MPI_Comm_rank(comm_, &rank_);
  MPI_Comm_size(comm_, &size_);
  MPI_Comm local;
  MPI_Comm_split_type(comm_, MPI_COMM_TYPE_SHARED, rank_, MPI_INFO_NULL, &local);
  MPI_Comm_size(local, &local_size_);
  MPI_Comm_free(&local);
}

std::vector<std::string> MpiRanks::all_gather(const std::string& mine) {
  // Every rank's size first, then the bytes; a total too large for one
  // gathering is found by every rank alike.
  const auto n = static_cast<unsigned long long>(mine.size());
  std::vector<unsigned long long> sizes(static_cast<std::size_t>(size_));
  MPI_Allgather(&n, 1, MPI_UNSIGNED_LONG_LONG, sizes.data(), 1, MPI_UNSIGNED_LONG_LONG, comm_);
  std::uint64_t total = 0;
  std::vector<int> counts(sizes.size()), offsets(sizes.size());
  for (std::size_t r = 0; r < sizes.size(); ++r) {
    offsets[r] = count_of(total);
    counts[r] = count_of(sizes[r]);
    total += sizes[r];
  }
  count_of(total);
  std::string all(static_cast<std::size_t>(total), '\0');
  MPI_Allgatherv(mine.data(), counts[static_cast<std::size_t>(rank_)], MPI_CHAR, all.data(),
                 counts.data(), offsets.data(), MPI_CHAR, comm_);
  exchanges_.push_back({false, false, total, total * static_cast<std::uint64_t>(size_ - 1)});
  std::vector<std::string> parts;
  parts.reserve(sizes.size());
  for (std::size_t r = 0; r < sizes.size(); ++r)
    parts.push_back(all.substr(static_cast<std::size_t>(offsets[r]), sizes[r]));
  return parts;
}

void MpiRanks::share_parts(char* data, std::span<const std::uint64_t> bounds) {
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 30;
  for (int r = 0; r < size_; ++r) {
    const auto i = static_cast<std::size_t>(r);
    for (std::uint64_t at = bounds[i]; at < bounds[i + 1]; at += kPiece) {
      const std::uint64_t n = std::min(kPiece, bounds[i + 1] - at);
      MPI_Bcast(data + at, count_of(n), MPI_BYTE, r, comm_);
    }
  }
  const std::uint64_t bytes = bounds[static_cast<std::size_t>(size_)] - bounds[0];
  exchanges_.push_back({true, false, bytes, bytes * static_cast<std::uint64_t>(size_ - 1)});
}

std::vector<std::string> MpiRanks::exchange(const std::vector<std::string>& to_each) {
  const auto n = static_cast<std::size_t>(size_);
  if (to_each.size() != n) fail("ERROR: Bug found, an exchange without a part for each rank\n");
  std::vector<unsigned long long> sizes(n), received(n);
  for (std::size_t r = 0; r < n; ++r) sizes[r] = to_each[r].size();
  MPI_Alltoall(sizes.data(), 1, MPI_UNSIGNED_LONG_LONG, received.data(), 1, MPI_UNSIGNED_LONG_LONG,
               comm_);
  std::vector<int> send_counts(n), send_offsets(n), counts(n), offsets(n);
  std::uint64_t sent_total = 0, total = 0;
  for (std::size_t r = 0; r < n; ++r) {
    send_offsets[r] = count_of(sent_total);
    send_counts[r] = count_of(sizes[r]);
    sent_total += sizes[r];
    offsets[r] = count_of(total);
    counts[r] = count_of(received[r]);
    total += received[r];
  }
  count_of(sent_total);
  count_of(total);
  std::string out_bytes;
  out_bytes.reserve(static_cast<std::size_t>(sent_total));
  for (const std::string& part : to_each) out_bytes += part;
  std::string in_bytes(static_cast<std::size_t>(total), '\0');
  MPI_Alltoallv(out_bytes.data(), send_counts.data(), send_offsets.data(), MPI_CHAR,
                in_bytes.data(), counts.data(), offsets.data(), MPI_CHAR, comm_);
  const std::uint64_t moved = sent_total - sizes[static_cast<std::size_t>(rank_)];
  exchanges_.push_back({false, true, sent_total, moved});
  std::vector<std::string> from_each;
  from_each.reserve(n);
  for (std::size_t r = 0; r < n; ++r)
    from_each.push_back(in_bytes.substr(static_cast<std::size_t>(offsets[r]), received[r]));
  return from_each;
}

std::string MpiRanks::broadcast(const std::string& text) {
  unsigned long long n = text.size();
  MPI_Bcast(&n, 1, MPI_UNSIGNED_LONG_LONG, 0, comm_);
  std::string out = rank_ == 0 ? text : std::string(static_cast<std::size_t>(n), '\0');
  MPI_Bcast(out.data(), count_of(n), MPI_CHAR, 0, comm_);
  return out;
}

}  // namespace tessel
