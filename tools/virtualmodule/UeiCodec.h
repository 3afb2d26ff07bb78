#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "ErrorCode.h"
#include "WirePacket.h"

namespace virtualmodule {

constexpr uint8_t kReadBit = 0x40;
constexpr uint8_t kWriteBit = 0x80;
constexpr uint8_t kRequestMarker = 0x20;
constexpr uint8_t kErrorBit = 0x80;

// One UEI request as the module sees it.
struct UeiRequest {
  uint8_t command = 0;
  uint8_t option = 0;  // bare option code
  uint8_t index = 0;
  bool read = false;
  bool write = false;
  std::vector<uint8_t> rest;  // subindex and value bytes

  // Read replies carry the bare option, write and call replies the option with both top bits.
  uint8_t replyOption() const { return write ? uint8_t(option | 0xC0) : option; }
};

// A payload is a UEI request when it has the three header bytes and the request marker.
std::optional<UeiRequest> parseUeiRequest(const std::vector<uint8_t>& payload);

Packet ueiValueReply(uint8_t address, const UeiRequest& request, uint32_t value, unsigned width);
Packet ueiErrorReply(uint8_t address, const UeiRequest& request, ErrorCode error);

}  // namespace virtualmodule
