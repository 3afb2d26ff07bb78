#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "WirePacket.h"

namespace virtualmodule {

// Splits the byte stream coming from the host into frames. The module never asks the host to
// resynchronise; it hunts for the next plausible frame start instead, and a partial frame that
// has waited too long for its remaining bytes is thrown away, since the host writes each packet
// in one piece.
class HostFramer {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Kind { Data, AddressQuery, LinkControl, Garbage };
  struct Frame {
    Kind kind;
    Packet packet;                // Data: the packet; LinkControl: address 0xAF and its payload
    std::vector<uint8_t> bytes;   // the frame's bytes as received
  };

  explicit HostFramer(Clock::duration staleAfter = std::chrono::milliseconds(100))
      : staleAfter_(staleAfter) {}

  void feed(const uint8_t* data, size_t count, Clock::time_point now, std::vector<Frame>& out);
  void reset() { partial_.clear(); }

 private:
  void emitGarbage(std::vector<Frame>& out);
  void consume(uint8_t byte, std::vector<Frame>& out);

  Clock::duration staleAfter_;
  Clock::time_point lastByte_{};
  std::vector<uint8_t> partial_;
};

}  // namespace virtualmodule
