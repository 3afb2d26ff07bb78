#pragma once
#include <cstdint>
#include <vector>

namespace virtualmodule {

constexpr uint8_t kMaxPayload = 28;
constexpr uint8_t kAddressQuery = 0xAD;
constexpr uint8_t kLinkControl = 0xAF;

// One packet as it travels: address, length, payload.
struct Packet {
  uint8_t address = 0;
  std::vector<uint8_t> payload;

  std::vector<uint8_t> serialize() const;
  bool operator==(const Packet& other) const {
    return address == other.address && payload == other.payload;
  }
};

// Multi-byte values inside payloads travel most significant byte first.
void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, unsigned width);
uint32_t readBigEndian(const uint8_t* bytes, unsigned width);

}  // namespace virtualmodule
