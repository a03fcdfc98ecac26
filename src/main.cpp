#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/interpreter.h"

int main(int argc, char** argv) {
  // A closed standard output shows up as a failed write, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return tessel::run_tessel(args, std::cin, std::cout, std::cerr);
}
