// Command-line options: search limits, --silent, --help and --version.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "search/drivers.h"
#include "search/session.h"

namespace tessel {

inline constexpr const char* kVersion = "Tessel 1.0.6";

struct OptionsResult {
  // Set when the program ends right after the options: the text to print
  // on standard output and the exit status (--help, --version, errors).
  std::optional<std::string> finish_text;
  int status = 0;
};

// Applies the arguments (without the program name) left to right.
OptionsResult parse_options(std::span<const std::string> args, search_parameters& parameters,
                            SearchSession& session);

// The banner and the lines for settings that differ from the defaults.
void print_banner(const search_parameters& parameters, SearchSession& session);

std::string usage_text();

}  // namespace tessel
