#pragma once
#include <cstdint>

namespace virtualmodule {

// The error numbers a module puts into its error replies. Kept here on purpose instead of
// borrowing the host library's table: a wrong number on either side must show up in tests.
enum class ErrorCode : uint8_t {
  None = 0,
  Param = 2,
  NotFound = 3,
  Busy = 5,
  Mode = 7,
  Range = 13,
  Size = 14,
  Overrun = 15,
  Unimplemented = 21,
  IndexRange = 26,
  ShortCommand = 27,
  InvalidEntity = 28,
  InvalidOption = 29,
};

inline uint8_t code(ErrorCode e) { return static_cast<uint8_t>(e); }

}  // namespace virtualmodule
