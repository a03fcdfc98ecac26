// Memory sizes on the command line: a decimal number of bytes, or of KiB,
// MiB or GiB with the suffix K, M or G (either case).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tessel {

// The smallest memory a search may be given: enough for the first levels
// of both sides and their bookkeeping.
inline constexpr std::size_t kLeastSearchMemory = std::size_t{4} << 20;

// The size the text names, or nothing when it is not one: empty, a sign, a
// character other than the digits and one final suffix, a value below
// kLeastSearchMemory or one that overflows.
std::optional<std::size_t> parse_memory_size(std::string_view text);

}  // namespace tessel
