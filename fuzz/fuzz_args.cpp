// Fuzz target: arbitrary bytes as command-line arguments (split at NUL
// bytes; the part after the first 0xFF byte is standard input).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/interpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\xff');
  const std::string arg_text = bytes.substr(0, split);
  const std::string input = split == std::string::npos ? std::string() : bytes.substr(split + 1);
  std::vector<std::string> args;
  std::size_t start = 0;
  for (;;) {
    const std::size_t nul = arg_text.find('\0', start);
    args.push_back(arg_text.substr(start, nul - start));
    if (nul == std::string::npos) break;
    start = nul + 1;
  }
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  tessel::Interpreter interpreter(in, out, err);
  interpreter.set_depth_cap(4);
  const int status = interpreter.run(args);
  if (status != 0 && status != 1) __builtin_trap();
  return 0;
}
