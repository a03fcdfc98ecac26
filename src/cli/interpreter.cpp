#include "cli/interpreter.h"

#include <new>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/word_reader.h"
#include "core/failure.h"
#include "cube/moves.h"

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
    if (show_progress_ && session_.info_enabled()) session_.enable_progress();
    loop();
    out_.flush();
    if (!out_) fail(kOutputFailed);
    return 0;
  } catch (const Failure& failure) {
    out_ << failure.message;
    out_.flush();
    if (failure.message == kOutputFailed) {
      err_ << failure.message;
      ended_alone_ = true;
    }
    return failure.status;
  } catch (const std::bad_alloc&) {
    ended_alone_ = true;
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

std::string Interpreter::read_argument(std::string_view command) {
  WordReader reader(in_);
  std::string word;
  if (!reader.next_word(word)) fail("ERROR: missing argument to " + std::string(command) + "\n");
  return word;
}

bool Interpreter::run_command(const std::string& word) {
  const Command* command = find_command(word);
  if (command == nullptr) return false;
  const std::string argument =
      command->argument == CommandArgument::none ? std::string() : read_argument(command->word);
  CommandContext context{in_,           out_,           err_,
                         session_,      current_state_, starting_position_,
                         move_history_, parameters_,    depth_cap_};
  command->run(context, argument);
  return true;
}

int run_tessel(std::span<const std::string> args, std::istream& in, std::ostream& out,
               std::ostream& err, bool progress) {
  Interpreter interpreter(in, out, err);
  if (progress) interpreter.show_progress();
  return interpreter.run(args);
}

}  // namespace tessel
