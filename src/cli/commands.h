// The command words of the language, one record each: the word, what it
// reads after it, a one-line summary for --help, and the code it runs.
// The interpreter looks a word up here; the handlers call the cube and
// search code on the interpreter's registers.
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

// What a command handler may read and change: the interpreter's streams,
// registers, history and settings.
struct CommandContext {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  SearchSession& session;
  Cube& current_state;
  Cube& starting_position;
  std::vector<int>& move_history;
  search_parameters& parameters;
  int depth_cap;  // caps every search's depth
};

enum class CommandArgument {
  none,      // nothing
  word,      // one word
  setting,   // set's setting name, then (for a known name) a number
  choice,    // one word of a fixed few (set_auf: off, pre, post, both)
  stickers,  // one word of 54 sticker letters
};

struct Command {
  std::string_view word;
  CommandArgument argument;
  // How --help shows the argument ("EDGE", "NAME N"); empty without one.
  std::string_view argument_label;
  std::string_view summary;
  // Runs the command; `argument` is the word read after the command word
  // (empty for CommandArgument::none).
  void (*run)(CommandContext& context, const std::string& argument);
};

// Every command word, in the order --help lists them.
std::span<const Command> commands();

// The command spelled exactly `word`, or null.
const Command* find_command(std::string_view word);

}  // namespace tessel
