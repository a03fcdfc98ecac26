#include "cli/options.h"

#include "cli/word_reader.h"

namespace tessel {

namespace {

enum class ValueOption { none, number, depth, after_first };

ValueOption value_option(const std::string& arg) {
  if (arg == "--max-number-of-sequences" || arg == "-n") return ValueOption::number;
  if (arg == "--max-depth-of-search" || arg == "-d") return ValueOption::depth;
  if (arg == "--max-depth-after-first-match" || arg == "-da") return ValueOption::after_first;
  return ValueOption::none;
}

OptionsResult finish(std::string text, int status) { return {std::move(text), status}; }

}  // namespace

std::string usage_text() {
  return "Usage: tessel [OPTIONS] < COMMANDS\n"
         "\n"
         "Reads whitespace-separated words from standard input: move names (R U' F2 x M r ...)\n"
         "change the current cube; commands build targets and search for move sequences\n"
         "(init_full_cube, init_empty_cube, add_f2l, set_gen RUF, solve, reconstruct,\n"
         "solve_two_phase, print, ...). Found sequences go to standard output, cube pictures\n"
         "to standard error. The README and tessel(1) describe the whole command language.\n"
         "\n"
         "Options:\n"
         "  -n, --max-number-of-sequences N      stop after N sequences (default 1000000)\n"
         "  -d, --max-depth-of-search N          longest sequence searched (default and most 22)\n"
         "  -da, --max-depth-after-first-match N search at most N moves past the first match\n"
         "                                       (default -1: no such limit)\n"
         "  --silent                             no informational messages\n"
         "  -h, --help                           this text\n"
         "  --version                            the version\n"
         "\n"
         "Exit status: 0 at the end of input, 1 after an error.\n";
}

OptionsResult parse_options(std::span<const std::string> args, search_parameters& parameters,
                            SearchSession& session) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return finish(usage_text(), 0);
    if (arg == "--version") return finish(std::string(kVersion) + "\n", 0);
    if (arg == "--silent") {
      session.disable_info_messages();
      continue;
    }
    const ValueOption option = value_option(arg);
    if (option == ValueOption::none) return finish("ERROR: unknown argument " + arg + ".\n", 1);
    if (i + 1 == args.size()) return finish("ERROR: missing argument to " + arg + ".\n", 1);
    const std::string& text = args[++i];
    std::int32_t value = 0;
    if (parse_int_prefix(text, value) != WordReader::IntResult::ok)
      return finish("ERROR: invalid argument to " + arg + " (" + text + ").\n", 1);
    switch (option) {
      case ValueOption::number:
        parameters.max_number_of_sequences = value;
        break;
      case ValueOption::depth:
        parameters.max_depth_of_search = value > kMaxSearchDepth ? kMaxSearchDepth : value;
        break;
      case ValueOption::after_first:
        parameters.max_depth_after_first_match = value;
        break;
      case ValueOption::none:
        break;
    }
  }
  return {};
}

void print_banner(const search_parameters& parameters, SearchSession& session) {
  const search_parameters defaults;
  session.info(kVersion);
  if (parameters.max_depth_of_search < kMaxSearchDepth)
    session.info("Setting max search depth to " + std::to_string(parameters.max_depth_of_search) +
                 " moves.\n");
  if (parameters.max_number_of_sequences != defaults.max_number_of_sequences)
    session.info("Setting max number of output sequences to " +
                 std::to_string(parameters.max_number_of_sequences) + ".\n");
  if (parameters.max_depth_after_first_match != defaults.max_depth_after_first_match)
    session.info("Setting additional depth search after first find to " +
                 std::to_string(parameters.max_depth_after_first_match) + ".\n");
}

}  // namespace tessel
