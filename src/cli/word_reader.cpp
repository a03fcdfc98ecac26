#include "cli/word_reader.h"

#include <limits>

namespace tessel {

namespace {

// White space as the C locale defines it.
bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Accumulates digits into a magnitude, remembering overflow.
struct IntBuilder {
  bool negative = false;
  bool digits = false;
  bool overflow = false;
  std::int64_t magnitude = 0;

  void add(int digit) {
    digits = true;
    if (overflow) return;
    magnitude = magnitude * 10 + digit;
    if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) overflow = true;
  }
  WordReader::IntResult result(std::int32_t& value) const {
    if (!digits) return WordReader::IntResult::none;
    const std::int64_t v = negative ? -magnitude : magnitude;
    if (overflow || v > std::numeric_limits<std::int32_t>::max() ||
        v < std::numeric_limits<std::int32_t>::min())
      return WordReader::IntResult::out_of_range;
    value = static_cast<std::int32_t>(v);
    return WordReader::IntResult::ok;
  }
};

}  // namespace

void WordReader::skip_space() {
  auto* buf = in_.rdbuf();
  if (buf == nullptr) return;
  for (;;) {
    const int c = buf->sgetc();
    if (c == std::char_traits<char>::eof() || !is_space(c)) return;
    buf->sbumpc();
  }
}

bool WordReader::next_word(std::string& word) {
  word.clear();
  skip_space();
  auto* buf = in_.rdbuf();
  if (buf == nullptr) return false;
  for (;;) {
    const int c = buf->sgetc();
    if (c == std::char_traits<char>::eof() || is_space(c)) break;
    word.push_back(static_cast<char>(c));
    buf->sbumpc();
  }
  return !word.empty();
}

WordReader::IntResult WordReader::next_int(std::int32_t& value) {
  skip_space();
  auto* buf = in_.rdbuf();
  if (buf == nullptr) return IntResult::none;
  IntBuilder b;
  int c = buf->sgetc();
  if (c == '+' || c == '-') {
    b.negative = c == '-';
    buf->sbumpc();
    c = buf->sgetc();
  }
  while (c != std::char_traits<char>::eof() && is_digit(c)) {
    b.add(c - '0');
    buf->sbumpc();
    c = buf->sgetc();
  }
  return b.result(value);
}

WordReader::IntResult parse_int_prefix(const std::string& text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && is_space(static_cast<unsigned char>(text[i]))) ++i;
  IntBuilder b;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) b.negative = text[i++] == '-';
  for (; i < text.size() && is_digit(static_cast<unsigned char>(text[i])); ++i) b.add(text[i] - '0');
  return b.result(value);
}

}  // namespace tessel
