#include "cli/memory_size.h"

#include <limits>

namespace tessel {

std::optional<std::size_t> parse_memory_size(std::string_view text) {
  if (text.empty()) return std::nullopt;
  unsigned shift = 0;
  switch (text.back()) {
    case 'K':
    case 'k':
      shift = 10;
      break;
    case 'M':
    case 'm':
      shift = 20;
      break;
    case 'G':
    case 'g':
      shift = 30;
      break;
    default:
      break;
  }
  if (shift != 0) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  constexpr std::size_t kMost = std::numeric_limits<std::size_t>::max();
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::size_t>(c - '0');
    if (value > (kMost - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (value > (kMost >> shift)) return std::nullopt;
  value <<= shift;
  if (value < kLeastSearchMemory) return std::nullopt;
  return value;
}

}  // namespace tessel
