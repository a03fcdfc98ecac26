#include "cli/interpreter.h"

#include <algorithm>
#include <new>

#include "cli/options.h"
#include "cli/word_reader.h"
#include "core/failure.h"
#include "cube/display.h"
#include "cube/masks.h"
#include "cube/moves.h"
#include "search/packed_cube.h"

namespace tessel {

Interpreter::Interpreter(std::istream& in, std::ostream& out, std::ostream& err)
    : in_(in),
      out_(out),
      err_(err),
      session_(out, err),
      current_state_(full_cube()),
      starting_position_(full_cube()) {}

int Interpreter::run(std::span<const std::string> args) {
  try {
    const OptionsResult options = parse_options(args, parameters_, session_);
    if (options.finish_text) {
      out_ << *options.finish_text;
      out_.flush();
      return options.status;
    }
    print_banner(parameters_, session_);
    loop();
    out_.flush();
    if (!out_) fail(kOutputFailed);
    return 0;
  } catch (const Failure& failure) {
    out_ << failure.message;
    out_.flush();
    if (failure.message == kOutputFailed) err_ << failure.message;
    return failure.status;
  } catch (const std::bad_alloc&) {
    out_ << kOutOfMemory;
    out_.flush();
    return 1;
  }
}

void Interpreter::loop() {
  WordReader reader(in_);
  std::string word;
  while (reader.next_word(word)) {
    const int m = move_index(word);
    if (m >= 0) {
      current_state_ = apply_move(m, current_state_);
      move_history_.push_back(m);
      continue;
    }
    if (!run_command(word)) fail("ERROR: Unknown command " + word + "\n");
    if (!out_) fail(kOutputFailed);
  }
}

std::string Interpreter::read_argument(const char* command) {
  WordReader reader(in_);
  std::string word;
  if (!reader.next_word(word)) fail(std::string("ERROR: missing argument to ") + command + "\n");
  return word;
}

search_parameters Interpreter::search_copy() const {
  search_parameters p = parameters_;
  p.max_depth_of_search = std::min(p.max_depth_of_search, depth_cap_);
  return p;
}

void Interpreter::set_mask(const Cube& cube) {
  starting_position_ = cube;
  current_state_ = cube;
}

bool Interpreter::run_command(const std::string& word) {
  if (word == "calculate_repetitions") {
    calculate_repetitions();
  } else if (word == "print") {
    print();
  } else if (word == "set") {
    set();
  } else if (word == "set_gen") {
    session_.legal().set_3gen(read_argument("set_gen"));
  } else if (word == "init_full_cube") {
    set_mask(full_cube());
    move_history_.clear();
  } else if (word == "init_empty_cube") {
    set_mask(empty_cube());
    move_history_.clear();
  } else if (word == "init_to_current_state") {
    starting_position_ = current_state_;
    move_history_.clear();
  } else if (word == "add_edge") {
    set_mask(add_edge(starting_position_, read_argument("add_edge")));
  } else if (word == "add_corner") {
    set_mask(add_corner(starting_position_, read_argument("add_corner")));
  } else if (word == "add_corners_orientation") {
    set_mask(add_missing_corner_orientation(starting_position_));
  } else if (word == "add_corners_permutation") {
    set_mask(add_missing_corner_permutation(starting_position_));
  } else if (word == "add_corners") {
    set_mask(add_missing_corners(starting_position_));
  } else if (word == "add_edges_orientation") {
    set_mask(add_missing_edges_orientation(starting_position_));
  } else if (word == "add_edges_permutation") {
    set_mask(add_missing_edges_permutation(starting_position_));
  } else if (word == "add_edges") {
    set_mask(add_missing_edges(starting_position_));
  } else if (word == "set_domino_cube") {
    set_mask(add_domino_elements(empty_cube()));
  } else if (word == "add_f2l") {
    set_mask(add_f2l(starting_position_));
  } else if (word == "add_cross") {
    set_mask(add_cross(starting_position_));
  } else if (word == "solve") {
    solve(current_state_, starting_position_, search_copy(), session_);
  } else if (word == "reconstruct") {
    solve(starting_position_, current_state_, search_copy(), session_);
  } else if (word == "solve_two_phase") {
    solve_two_phase(move_history_, std::min(11, (depth_cap_ + 1) / 2), session_);
  } else {
    return false;
  }
  return true;
}

void Interpreter::calculate_repetitions() {
  // The whole history as one permutation and relabelling.
  MoveTable whole = identity_move_table();
  for (int m : move_history_) whole = compose_moves(whole, move_tables[static_cast<std::size_t>(m)]);

  Cube w = starting_position_;
  long count = 0;
  do {
    ++count;
    Cube next;
    apply_table(whole, next, w);
    w = next;
    link(err_, w, "print");
  } while (cube_compare(w, starting_position_) != 0);
  link(err_, w, "position");
  link(err_, starting_position_, "starting position");
  session_.info("Requires " + std::to_string(count) + " moves to repeat");
}

void Interpreter::print() {
  link(err_, current_state_, "print");
  Cube unpacked;
  switch (check_packing(current_state_, 17, &unpacked)) {
    case PackingCheck::ok:
      break;
    case PackingCheck::wrong_cube:
      link(err_, unpacked, "print");
      fail("ERROR: Bug found, WRONG pack of cube\n");
    case PackingCheck::wrong_move:
      fail("ERROR: Bug found, WRONG pack of last move\n");
  }
  out_ << '\n';
}

void Interpreter::set() {
  const std::string name = read_argument("set");
  WordReader reader(in_);
  std::int32_t value = 0;
  const auto read = [&](const char* error) {
    if (reader.next_int(value) != WordReader::IntResult::ok) fail(std::string(error) + "\n");
  };
  if (name == "d" || name == "max-depth-of-search") {
    read("ERROR: wrong argument to set max-depth-of-search");
    parameters_.max_depth_of_search = std::min(value, kMaxSearchDepth);
    session_.info("Setting max search depth to " +
                  std::to_string(parameters_.max_depth_of_search) + " moves.\n");
  } else if (name == "da" || name == "max-depth-after-first-match") {
    read("ERROR: wrong argument to set max-additional-depth-of-search");
    parameters_.max_depth_after_first_match = value;
    session_.info("Will search sequences longer by at most " + std::to_string(value) +
                  " moves than the shortest found sequence.\n");
  } else if (name == "n" || name == "max-number-of-sequences") {
    read("ERROR: wrong argument to set");
    parameters_.max_number_of_sequences = value;
    session_.info("Setting max number of output sequences to " + std::to_string(value) + ".\n");
  }
}

int run_tessel(std::span<const std::string> args, std::istream& in, std::ostream& out,
               std::ostream& err) {
  Interpreter interpreter(in, out, err);
  return interpreter.run(args);
}

}  // namespace tessel
