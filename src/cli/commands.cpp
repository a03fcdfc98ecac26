#include "cli/commands.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "cli/settings.h"
#include "cli/word_reader.h"
#include "core/failure.h"
#include "cube/display.h"
#include "cube/masks.h"
#include "cube/moves.h"
#include "cube/stickers.h"
#include "search/packed_cube.h"

namespace tessel {

namespace {

// A mask command: the new target, which the current cube then equals.
void set_target(CommandContext& c, const Cube& cube) {
  c.starting_position = cube;
  c.current_state = cube;
}

void reset_target(CommandContext& c, const Cube& cube) {
  set_target(c, cube);
  c.move_history.clear();
}

search_parameters capped(const CommandContext& c) {
  search_parameters p = c.parameters;
  p.max_depth_of_search = std::min(p.max_depth_of_search, c.depth_cap);
  return p;
}

void calculate_repetitions(CommandContext& c, const std::string&) {
  // The whole history as one permutation and relabelling.
  MoveTable whole = identity_move_table();
  for (int m : c.move_history)
    whole = compose_moves(whole, move_tables[static_cast<std::size_t>(m)]);

  Cube w = c.starting_position;
  long count = 0;
  do {
    ++count;
    Cube next;
    apply_table(whole, next, w);
    w = next;
    link(c.err, w, "print");
  } while (cube_compare(w, c.starting_position) != 0);
  link(c.err, w, "position");
  link(c.err, c.starting_position, "starting position");
  c.session.info("Requires " + std::to_string(count) + " moves to repeat");
}

void print(CommandContext& c, const std::string&) {
  link(c.err, c.current_state, "print");
  Cube unpacked;
  switch (check_packing(c.current_state, 17, &unpacked)) {
    case PackingCheck::ok:
      break;
    case PackingCheck::wrong_cube:
      link(c.err, unpacked, "print");
      fail("ERROR: Bug found, WRONG pack of cube\n");
    case PackingCheck::wrong_move:
      fail("ERROR: Bug found, WRONG pack of last move\n");
  }
  c.out << '\n';
}

void set(CommandContext& c, const std::string& name) {
  const SearchSetting* setting = setting_named(name);
  // An unknown name is consumed and nothing more is read: a number after
  // it is the next word.
  if (setting == nullptr) return;
  WordReader reader(c.in);
  std::int32_t value = 0;
  if (reader.next_int(value) != WordReader::IntResult::ok)
    fail(std::string(setting->set_error) + "\n");
  c.session.info(setting->confirmation.with(setting->store(c.parameters, value)));
}

// The words of set_auf, by the Auf value they stand for.
constexpr std::array<std::string_view, 4> kAufWords = {"off", "pre", "post", "both"};

void set_auf(CommandContext& c, const std::string& word) {
  const auto* it = std::find(kAufWords.begin(), kAufWords.end(), word);
  if (it == kAufWords.end()) fail("ERROR: wrong argument to set_auf\n");
  c.parameters.auf = static_cast<Auf>(it - kAufWords.begin());
}

using A = CommandArgument;
using Args = const std::string&;

const std::array<Command, 23> kCommands = {{
    {"calculate_repetitions", A::none, "", "count the runs of the move history back to the target",
     calculate_repetitions},
    {"print", A::none, "", "show the current cube (pictures on standard error)", print},
    {"set", A::setting, "NAME N", "change a search setting (NAME below)", set},
    {"set_gen", A::word, "MOVES", "the moves searches may use (RUF, R2L2F2B2DU, ...)",
     [](CommandContext& c, Args moves) { c.session.legal().set_3gen(moves); }},
    {"set_auf", A::choice, "off|pre|post|both",
     "let searches turn U before and/or after a sequence (default off)", set_auf},
    {"init_full_cube", A::none, "", "target := solved cube, current := target, history emptied",
     [](CommandContext& c, Args) { reset_target(c, full_cube()); }},
    {"init_empty_cube", A::none, "", "target := empty cube, current := target, history emptied",
     [](CommandContext& c, Args) { reset_target(c, empty_cube()); }},
    {"set_stickers", A::stickers, "STICKERS",
     "current := the cube of 54 sticker letters (U R F D L B faces; X empty), history emptied",
     [](CommandContext& c, Args text) {
       c.current_state = cube_from_stickers(text);
       c.move_history.clear();
     }},
    {"init_to_current_state", A::none, "", "target := current cube, history emptied",
     [](CommandContext& c, Args) {
       c.starting_position = c.current_state;
       c.move_history.clear();
     }},
    {"add_edge", A::word, "EDGE", "colour the named edge of the target (DF, FR, ...)",
     [](CommandContext& c, Args name) { set_target(c, add_edge(c.starting_position, name)); }},
    {"add_corner", A::word, "CORNER", "colour the named corner of the target (UFR, DBL, ...)",
     [](CommandContext& c, Args name) { set_target(c, add_corner(c.starting_position, name)); }},
    {"add_corners_orientation", A::none, "", "orientation markers on the empty corners",
     [](CommandContext& c, Args) {
       set_target(c, add_missing_corner_orientation(c.starting_position));
     }},
    {"add_corners_permutation", A::none, "", "numbered markers on the empty corners (at most 6)",
     [](CommandContext& c, Args) {
       set_target(c, add_missing_corner_permutation(c.starting_position));
     }},
    {"add_corners", A::none, "", "home colours on the empty corners",
     [](CommandContext& c, Args) { set_target(c, add_missing_corners(c.starting_position)); }},
    {"add_edges_orientation", A::none, "", "orientation markers on the empty edges",
     [](CommandContext& c, Args) {
       set_target(c, add_missing_edges_orientation(c.starting_position));
     }},
    {"add_edges_permutation", A::none, "", "numbered markers on the empty edges (at most 8)",
     [](CommandContext& c, Args) {
       set_target(c, add_missing_edges_permutation(c.starting_position));
     }},
    {"add_edges", A::none, "", "home colours on the empty edges",
     [](CommandContext& c, Args) { set_target(c, add_missing_edges(c.starting_position)); }},
    {"set_domino_cube", A::none, "", "target := the domino target",
     [](CommandContext& c, Args) { set_target(c, add_domino_elements(empty_cube())); }},
    {"add_f2l", A::none, "", "colour the first two layers of the target",
     [](CommandContext& c, Args) { set_target(c, add_f2l(c.starting_position)); }},
    {"add_cross", A::none, "", "colour the four D edges of the target",
     [](CommandContext& c, Args) { set_target(c, add_cross(c.starting_position)); }},
    {"solve", A::none, "", "print the sequences from the current cube to the target",
     [](CommandContext& c, Args) {
       solve(c.current_state, c.starting_position, capped(c), c.session);
     }},
    {"reconstruct", A::none, "", "print the sequences from the target to the current cube",
     [](CommandContext& c, Args) {
       solve(c.starting_position, c.current_state, capped(c), c.session);
     }},
    {"solve_two_phase", A::none, "", "solve the cube of the move history in two phases",
     [](CommandContext& c, Args) {
       solve_two_phase(c.move_history, std::min(11, (c.depth_cap + 1) / 2), c.session);
     }},
}};

}  // namespace

std::span<const Command> commands() { return kCommands; }

const Command* find_command(std::string_view word) {
  for (const Command& command : kCommands)
    if (command.word == word) return &command;
  return nullptr;
}

}  // namespace tessel
