// The three search settings as one table: the options -d, -n and -da (and
// their long spellings) and the command "set NAME N" both change them
// through it, so each bound and each message exists once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "search/drivers.h"

namespace tessel {

// A message with a number in the middle: before, the number, after.
struct NumberText {
  std::string_view before;
  std::string_view after;

  std::string with(std::int32_t value) const;
};

inline constexpr std::int32_t kNoCeiling = std::numeric_limits<std::int32_t>::max();

struct SearchSetting {
  // The name after "set"; with "-" in front, the command-line option.
  std::string_view short_name;
  // The long name after "set"; with "--" in front, the long option.
  std::string_view long_name;
  std::int32_t search_parameters::*field;
  // Larger values are stored as this (kNoCeiling: none).
  std::int32_t ceiling;
  // What "set" prints (an info message) after storing a value.
  NumberText confirmation;
  // What the start-up prints (an info message) for a value other than the
  // default.
  NumberText banner_line;
  // What "set" prints when no number follows the name (line end added).
  std::string_view set_error;
  // The option's line in the usage text; the ceiling and the default
  // follow it.
  std::string_view help;

  std::string short_option() const { return std::string("-").append(short_name); }
  std::string long_option() const { return std::string("--").append(long_name); }
  bool is_option(std::string_view arg) const {
    return arg == short_option() || arg == long_option();
  }

  std::int32_t bounded(std::int32_t value) const { return std::min(value, ceiling); }
  // Stores the bounded value and returns it.
  std::int32_t store(search_parameters& parameters, std::int32_t value) const {
    return parameters.*field = bounded(value);
  }
  // Whether the start-up shows a line for the stored value. A value that
  // the bound brings back to the default counts as the default.
  bool differs_from_default(const search_parameters& parameters) const {
    return bounded(parameters.*field) != search_parameters{}.*field;
  }
};

// In the order of the start-up lines: depth, number, additional depth.
std::span<const SearchSetting> search_settings();

// The setting "set" means by `name` (short or long), or null.
const SearchSetting* setting_named(std::string_view name);
// The setting a command-line argument (-d, --max-depth-of-search, ...)
// spells, or null.
const SearchSetting* setting_of_option(std::string_view arg);

}  // namespace tessel
