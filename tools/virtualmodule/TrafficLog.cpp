#include "TrafficLog.h"

#include <cstdio>

namespace virtualmodule {

std::string TrafficEntry::format() const {
  std::string line = direction == Direction::FromHost ? ">" : direction == Direction::ToHost ? "<" : "#";
  char hex[4];
  for (uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  if (!note.empty()) line += " " + note;
  return line;
}

void TrafficLog::add(TrafficEntry entry) {
  entries_.push_back(std::move(entry));
  if (observer_) observer_(entries_.back());
}

}  // namespace virtualmodule
