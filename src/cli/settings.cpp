#include "cli/settings.h"

#include <array>

namespace tessel {

namespace {

// "set" and the start-up say the same for these two.
constexpr NumberText kDepthLine = {"Setting max search depth to ", " moves.\n"};
constexpr NumberText kNumberLine = {"Setting max number of output sequences to ", ".\n"};

const std::array<SearchSetting, 3> kSettings = {{
    {
        .short_name = "d",
        .long_name = "max-depth-of-search",
        .field = &search_parameters::max_depth_of_search,
        .ceiling = kMaxSearchDepth,
        .confirmation = kDepthLine,
        .banner_line = kDepthLine,
        .set_error = "ERROR: wrong argument to set max-depth-of-search",
        .help = "longest sequence searched",
    },
    {
        .short_name = "n",
        .long_name = "max-number-of-sequences",
        .field = &search_parameters::max_number_of_sequences,
        .ceiling = kNoCeiling,
        .confirmation = kNumberLine,
        .banner_line = kNumberLine,
        .set_error = "ERROR: wrong argument to set",
        .help = "stop a search after N sequences",
    },
    {
        .short_name = "da",
        .long_name = "max-depth-after-first-match",
        .field = &search_parameters::max_depth_after_first_match,
        .ceiling = kNoCeiling,
        .confirmation = {"Will search sequences longer by at most ",
                         " moves than the shortest found sequence.\n"},
        .banner_line = {"Setting additional depth search after first find to ", ".\n"},
        .set_error = "ERROR: wrong argument to set max-additional-depth-of-search",
        .help = "at most N moves past the first match, negative: no limit",
    },
}};

}  // namespace

std::string NumberText::with(std::int32_t value) const {
  std::string text(before);
  text += std::to_string(value);
  text += after;
  return text;
}

std::span<const SearchSetting> search_settings() { return kSettings; }

const SearchSetting* setting_named(std::string_view name) {
  for (const SearchSetting& s : kSettings)
    if (name == s.short_name || name == s.long_name) return &s;
  return nullptr;
}

const SearchSetting* setting_of_option(std::string_view arg) {
  for (const SearchSetting& s : kSettings)
    if (s.is_option(arg)) return &s;
  return nullptr;
}

}  // namespace tessel
