#include "cli/options.h"

#include <algorithm>

#include "cli/commands.h"
#include "cli/memory_size.h"
#include "cli/settings.h"
#include "cli/word_reader.h"

namespace tessel {

namespace {

constexpr const char* kSilent = "--silent";
constexpr const char* kHelpShort = "-h";
constexpr const char* kHelp = "--help";
constexpr const char* kVersionOption = "--version";
constexpr const char* kMaxMemory = "--max-memory";

OptionsResult finish(std::string text, int status) { return {std::move(text), status}; }

// Lines of "  LABEL  TEXT", the texts lined up in one column.
std::string columns(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  std::string text;
  for (const auto& [label, summary] : rows)
    text += "  " + label + std::string(width - label.size() + 2, ' ') + summary + "\n";
  return text;
}

std::string options_section() {
  const search_parameters defaults;
  std::vector<std::pair<std::string, std::string>> rows;
  for (const SearchSetting& s : search_settings()) {
    std::string help(s.help);
    if (s.ceiling != kNoCeiling) help += ", at most " + std::to_string(s.ceiling);
    help += " (default " + std::to_string(defaults.*s.field) + ")";
    rows.emplace_back(s.short_option() + ", " + s.long_option() + " N", help);
  }
  rows.emplace_back(std::string(kMaxMemory) + " SIZE",
                    "the most memory a search may hold: bytes, or with K, M or G (at least 4M;"
                    " default seven eighths of the physical memory)");
  rows.emplace_back(kSilent, "no informational (INFO:) messages");
  rows.emplace_back(std::string(kHelpShort) + ", " + kHelp, "this text");
  rows.emplace_back(kVersionOption, "the version");
  return columns(rows);
}

std::string commands_section() {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const Command& c : commands()) {
    std::string label(c.word);
    if (!c.argument_label.empty()) label.append(" ").append(c.argument_label);
    rows.emplace_back(label, c.summary);
  }
  // "d, n or da"
  std::string names;
  const auto settings = search_settings();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    if (i > 0) names.append(i + 1 < settings.size() ? ", " : " or ");
    names.append(settings[i].short_name);
  }
  return columns(rows) + "NAME of set: " + names +
         ", or an option's long name without the dashes.\n";
}

}  // namespace

std::string usage_text() {
  return "Usage: tessel [OPTIONS] < COMMANDS\n"
         "\n"
         "Reads whitespace-separated words from standard input: move names (R U' F2 x M r ...)\n"
         "change the current cube; commands build targets and search for move sequences.\n"
         "Found sequences go to standard output, cube pictures to standard error. The README\n"
         "and tessel(1) describe the whole command language.\n"
         "\n"
         "Options:\n" +
         options_section() +
         "\n"
         "Commands:\n" +
         commands_section() +
         "\n"
         "Exit status: 0 at the end of input, 1 after an error.\n";
}

OptionsResult parse_options(std::span<const std::string> args, search_parameters& parameters,
                            SearchSession& session) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == kHelp || arg == kHelpShort) return finish(usage_text(), 0);
    if (arg == kVersionOption) return finish(std::string(kVersion) + "\n", 0);
    if (arg == kSilent) {
      session.disable_info_messages();
      continue;
    }
    if (arg == kMaxMemory) {
      if (i + 1 == args.size()) return finish("ERROR: missing argument to " + arg + ".\n", 1);
      const std::string& text = args[++i];
      const auto bytes = parse_memory_size(text);
      if (!bytes) return finish("ERROR: invalid argument to " + arg + " (" + text + ").\n", 1);
      session.budget().set_limit(*bytes);
      continue;
    }
    const SearchSetting* setting = setting_of_option(arg);
    if (setting == nullptr) return finish("ERROR: unknown argument " + arg + ".\n", 1);
    if (i + 1 == args.size()) return finish("ERROR: missing argument to " + arg + ".\n", 1);
    const std::string& text = args[++i];
    std::int32_t value = 0;
    if (parse_int_prefix(text, value) != WordReader::IntResult::ok)
      return finish("ERROR: invalid argument to " + arg + " (" + text + ").\n", 1);
    setting->store(parameters, value);
  }
  return {};
}

void print_banner(const search_parameters& parameters, SearchSession& session) {
  session.info(kVersion);
  for (const SearchSetting& s : search_settings())
    if (s.differs_from_default(parameters)) session.info(s.banner_line.with(parameters.*s.field));
}

}  // namespace tessel
