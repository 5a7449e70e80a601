// Failures raised by the numeric core. Plain C++: the Python glue translates them at the
// boundary of every call (see frame.hpp), so the core never sees the interpreter.
#pragma once

#include <cstddef>
#include <source_location>
#include <string>

namespace quernel {

// The caller passed a value the class refuses (a ValueError in Python).
struct InvalidArgument {
  const char* message;
};

// An unrecoverable condition inside the module's own code, such as a size computation that
// overflows. Python sees it as InternalPanic, which derives from BaseException.
struct InternalFailure {
  std::string message;
  std::source_location where;
};

[[noreturn]] inline void fail_internally(
    std::string message, std::source_location where = std::source_location::current()) {
  throw InternalFailure{std::move(message), where};
}

// Every period is at least 1.
inline std::size_t checked_period(std::size_t period) {
  if (period == 0)
    throw InvalidArgument{"Period cannot be 0."};
  return period;
}

}  // namespace quernel
