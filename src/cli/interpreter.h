// The command interpreter: cube registers, move history and the word loop.
// Callable in-process: streams in, output on the given streams, exit status
// back.
#pragma once

#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cube/cube_state.h"
#include "search/drivers.h"
#include "search/session.h"

namespace tessel {

class Interpreter {
 public:
  Interpreter(std::istream& in, std::ostream& out, std::ostream& err);

  // Options, banner, then the word loop until input ends or a command
  // fails. Returns the exit status.
  int run(std::span<const std::string> args);
  // Shows the progress line of long searches on `err` (unless --silent):
  // for a terminal.
  void show_progress() { show_progress_ = true; }

  // Test hooks: the state after run().
  const Cube& current_state() const { return current_state_; }
  const Cube& starting_position() const { return starting_position_; }
  const std::vector<int>& move_history() const { return move_history_; }
  const search_parameters& parameters() const { return parameters_; }
  SearchSession& session() { return session_; }

  // Whether run() ended on something that another run of the same input
  // need not meet at the same point: a failing output, or the system
  // refusing memory outside the budget.
  bool ended_alone() const { return ended_alone_; }

  // Caps every search's depth whatever the input says (fuzzing).
  void set_depth_cap(int cap) { depth_cap_ = cap; }

 private:
  void loop();
  // Runs the command `word` names (commands.h); false for no such command.
  bool run_command(const std::string& word);
  std::string read_argument(std::string_view command);

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  SearchSession session_;
  Cube current_state_;
  Cube starting_position_;
  std::vector<int> move_history_;
  search_parameters parameters_;
  int depth_cap_ = kMaxSearchDepth;
  bool show_progress_ = false;
  bool ended_alone_ = false;
};

// Runs a whole session: what main does with the standard streams.
// With `progress`, long searches show a progress line on `err`.
int run_tessel(std::span<const std::string> args, std::istream& in, std::ostream& out,
               std::ostream& err, bool progress = false);

}  // namespace tessel
