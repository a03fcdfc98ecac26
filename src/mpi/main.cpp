// tessel-mpi: tessel as the ranks of an MPI run. Rank 0 reads the options
// and standard input and alone writes; every rank runs the same commands on
// the same state, and each join is split between the ranks by key.
#include <mpi.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/interpreter.h"
#include "core/parallel.h"
#include "mpi/mpi_ranks.h"
#include "mpi/rank_input.h"
#include "search/drivers.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Where the ranks other than 0 write: nowhere, never failing.
class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Rank 0's arguments, one per line, on every rank.
std::vector<std::string> shared_arguments(tessel::MpiRanks& ranks, int argc, char** argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    joined += std::to_string(std::string(argv[i]).size());
    joined += ':';
    joined += argv[i];
  }
  joined = ranks.broadcast(joined);
  std::vector<std::string> args;
  for (std::size_t at = 0; at < joined.size();) {
    const std::size_t colon = joined.find(':', at);
    const std::size_t n = std::stoul(joined.substr(at, colon - at));
    args.push_back(joined.substr(colon + 1, n));
    at = colon + 1 + n;
  }
  return args;
}

// One line per level shared, then one for all the gatherings and one for
// all the exchanges of positions routed to the ranks that test them.
void report_exchanges(const tessel::MpiRanks& ranks) {
  std::uint64_t gatherings = 0, gathered = 0, moved = 0;
  std::uint64_t routings = 0, routed = 0, routed_moved = 0;
  for (const auto& e : ranks.exchanges()) {
    if (e.level) {
      std::cerr << "tessel-mpi: level shared: " << e.bytes << " bytes, " << e.moved
                << " bytes moved\n";
    } else if (e.routed) {
      ++routings;
      routed += e.bytes;
      routed_moved += e.moved;
    } else {
      ++gatherings;
      gathered += e.bytes;
      moved += e.moved;
    }
  }
  std::cerr << "tessel-mpi: gathered " << gatherings << " times: " << gathered << " bytes, "
            << moved << " bytes moved\n";
  if (routings > 0)
    std::cerr << "tessel-mpi: routed " << routings << " times: " << routed << " bytes, "
              << routed_moved << " bytes moved\n";
}

}  // namespace

int main(int argc, char** argv) {
  int provided = 0;
  // Only the main thread calls MPI; the search's own threads never do.
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 1);
#endif
  int status = 0;
  {
    tessel::MpiRanks ranks(MPI_COMM_WORLD);
    const std::vector<std::string> args = shared_arguments(ranks, argc, argv);
    const bool writer = ranks.rank() == 0;
    tessel::RankInput input_buffer(ranks, STDIN_FILENO);
    std::istream in(&input_buffer);
    Discard discard;
    std::ostream nowhere(&discard);
    tessel::Interpreter interpreter(in, writer ? std::cout : nowhere, writer ? std::cerr : nowhere);
    tessel::SearchSession& session = interpreter.session();
    session.set_ranks(&ranks);
    // The ranks on one machine share its memory and its processors; a
    // --max-memory given applies to each rank.
    const int local = ranks.on_this_machine();
    session.budget().set_limit(session.budget().limit() / static_cast<std::size_t>(local));
    const unsigned threads = tessel::work_threads() / static_cast<unsigned>(local);
    tessel::set_work_threads(threads == 0 ? 1 : threads);
    if (writer && isatty(STDERR_FILENO) == 1) interpreter.show_progress();
    // Less memory per rank for more time: both sides' last stored levels
    // held in shares (the environment is the same on every rank).
    tessel::set_hold_both_levels(std::getenv("TESSEL_MPI_HOLD_BOTH") != nullptr);
    status = interpreter.run(args);
    // For measurements: with TESSEL_MPI_EXCHANGES set, rank 0 tells on
    // standard error what went between the ranks.
    if (writer && std::getenv("TESSEL_MPI_EXCHANGES") != nullptr) report_exchanges(ranks);
    // A failure of this rank alone (its output, or the system's memory)
    // leaves the other ranks where no gathering will meet them: the whole
    // run ends here, with this status.
    if (interpreter.ended_alone()) MPI_Abort(MPI_COMM_WORLD, status == 0 ? 1 : status);
    // Rank 0 has written all it writes before any rank ends: a rank that
    // ends with a failing status may get the run stopped at once.
    std::cout.flush();
    MPI_Barrier(MPI_COMM_WORLD);
  }
  MPI_Finalize();
  return status;
}
