#include "mpi/rank_input.h"

#include <unistd.h>

#include <cerrno>

namespace tessel {

RankInput::RankInput(MpiRanks& ranks, int fd) : ranks_(ranks), fd_(fd) {}

RankInput::int_type RankInput::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (ended_) return traits_type::eof();
  // What one read gives: a line as it is typed, or a block of a file.
  long n = 0;
  if (ranks_.rank() == 0) {
    do {
      n = static_cast<long>(read(fd_, buffer_.data(), buffer_.size()));
    } while (n < 0 && errno == EINTR);
    // An input that cannot be read ends like an input that ends.
    if (n < 0) n = 0;
  }
  MPI_Bcast(&n, 1, MPI_LONG, 0, ranks_.comm());
  if (n == 0) {
    ended_ = true;
    return traits_type::eof();
  }
  MPI_Bcast(buffer_.data(), static_cast<int>(n), MPI_CHAR, 0, ranks_.comm());
  setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
  return traits_type::to_int_type(*gptr());
}

}  // namespace tessel
