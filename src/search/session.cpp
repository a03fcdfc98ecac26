#include "search/session.h"

#include <string>

#include "core/failure.h"

namespace tessel {

bool SearchSession::count_line() {
  ++lines_written_;
  if (lines_to_pass_ == 0) return true;
  --lines_to_pass_;
  return false;
}

void SearchSession::info(std::string_view text) {
  if (!print_info_ || !count_line()) return;
  std::string line = "INFO: ";
  line += text;
  line += '\n';
  out_ << line;
}

void SearchSession::write_line(std::string_view line) {
  if (!count_line()) return;
  if (progress_) progress_->clear();
  out_ << line;
  out_.flush();
  if (!out_) fail(kOutputFailed);
}

}  // namespace tessel
