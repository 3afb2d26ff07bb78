#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace virtualmodule {

struct TrafficEntry {
  enum class Direction { FromHost, ToHost, Event };
  Direction direction;
  std::vector<uint8_t> bytes;
  std::string note;
  std::chrono::steady_clock::time_point time;

  // One line: "> 06 03 03 48 20" from the host, "< ..." to the host, "# note" for events.
  std::string format() const;
};

// Everything that crossed the link and what the module made of it, for assertions.
class TrafficLog {
 public:
  void add(TrafficEntry entry);
  std::vector<TrafficEntry> entries() const { return entries_; }
  void clear() { entries_.clear(); }
  void setObserver(std::function<void(const TrafficEntry&)> observer) { observer_ = std::move(observer); }

 private:
  std::vector<TrafficEntry> entries_;
  std::function<void(const TrafficEntry&)> observer_;
};

}  // namespace virtualmodule
