// How the core reports a failure: a message and the exit status the program
// ends with. The core throws it; only the interpreter's top level prints it
// and turns it into the exit status, so the interpreter can run in-process
// under tests and fuzzers.
#pragma once

#include <string>
#include <utility>

namespace tessel {

struct Failure {
  std::string message;  // written to standard output exactly as held
  int status = 1;
};

[[noreturn]] inline void fail(std::string message, int status = 1) {
  throw Failure{std::move(message), status};
}

inline constexpr const char* kOutOfMemory = "ERROR: not enough memory\n";
// Standard output failed (closed pipe, full disk): nothing more can be shown.
inline constexpr const char* kOutputFailed = "ERROR: cannot write to standard output\n";

}  // namespace tessel
