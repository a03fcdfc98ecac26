// Reads the command language from a stream: whitespace-separated words of
// any length, and integers the way a " %d" conversion reads them.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace tessel {

class WordReader {
 public:
  explicit WordReader(std::istream& in) : in_(in) {}

  // Skips white space and reads the next word whole. False at end of input.
  bool next_word(std::string& word);

  enum class IntResult { ok, none, out_of_range };
  // Skips white space, then reads an optional sign and decimal digits. The
  // read stops at the first character that cannot continue the number; the
  // rest stays in the input. `none` when no digit follows.
  IntResult next_int(std::int32_t& value);

 private:
  void skip_space();
  std::istream& in_;
};

// Parses a command-line value as "%d" does: leading white space, optional
// sign, digits; anything after the digits is ignored.
WordReader::IntResult parse_int_prefix(const std::string& text, std::int32_t& value);

}  // namespace tessel
