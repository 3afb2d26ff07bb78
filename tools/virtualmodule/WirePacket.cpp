#include "WirePacket.h"

namespace virtualmodule {

std::vector<uint8_t> Packet::serialize() const {
  std::vector<uint8_t> out;
  out.reserve(payload.size() + 2);
  out.push_back(address);
  out.push_back(static_cast<uint8_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, unsigned width) {
  for (unsigned shift = width * 8; shift > 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> (shift - 8)));
}

uint32_t readBigEndian(const uint8_t* bytes, unsigned width) {
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace virtualmodule
