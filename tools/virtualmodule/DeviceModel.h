#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace virtualmodule {

struct FirmwareVersion {
  uint8_t major = 1;
  uint8_t minor = 0;
  uint32_t patch = 0;

  // Major in the top 4 bits, minor in the next 4, patch in the low 24.
  uint32_t packed() const {
    return (uint32_t(major & 0xF) << 28) | (uint32_t(minor & 0xF) << 24) | (patch & 0xFFFFFF);
  }
};

struct StoreSlot {
  uint16_t capacity = 1024;
  std::vector<uint8_t> data;
};

// Everything a module knows about itself. Plain data, so tests can build one, hand it over and
// compare what the module made of it afterwards.
struct DeviceModel {
  uint32_t serialNumber = 0x1234ABCD;
  uint8_t model = 0x13;
  FirmwareVersion version;
  uint32_t build = 1;
  uint8_t moduleAddress = 2;
  uint8_t routerAddress = 2;
  std::string name = "virtual module";
  std::array<uint32_t, 4> uniqueIdentifier{};
  uint8_t heartbeatTenths = 0;  // heartbeat interval in tenths of a second; 0: none
  uint8_t led = 0;
  uint8_t bootSlot = 0;
  bool routeToMe = false;
  std::vector<std::vector<StoreSlot>> stores = {std::vector<StoreSlot>(4)};
  std::map<uint8_t, std::vector<uint8_t>> factoryData;
  size_t factoryCapacity = 256;
};

// A unique identifier that differs between modules without anyone having to choose one.
inline std::array<uint32_t, 4> identifierFromSerial(uint32_t serial) {
  return {serial ^ 0x0A1B2C3Du, serial * 3u + 1u, ~serial, 0x10500000u | (serial & 0xFFFFu)};
}

}  // namespace virtualmodule
