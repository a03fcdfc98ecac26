#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/interpreter.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char** argv) {
  // A closed standard output shows up as a failed write, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
#if defined(__GLIBC__)
  // The threads that build large levels allocate next to nothing; sharing
  // one malloc arena spares each of them a reserve of 64 MiB of address
  // space, which counts against a lowered address-space limit.
  mallopt(M_ARENA_MAX, 1);
#endif
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The progress line is for a person watching a terminal; elsewhere
  // standard error carries pictures only.
  const bool terminal = isatty(STDERR_FILENO) == 1;
  return tessel::run_tessel(args, std::cin, std::cout, std::cerr, terminal);
}
