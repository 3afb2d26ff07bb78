#include "Reports.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "aDefs.h"
#include "aVersion.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::INFO;

const char kApplication[] = "Updater";
const char kApplicationVersion[] = "Version: 1.1 Jan 21 2023";
const char kCopyright[] = "Copyright (c) Halvik Inc.";

const char* _transport_name(uint32_t transport) {
  switch (transport) {
    case USB: return "USB";
    case TCPIP: return "TCPIP";
    default: return "Unknown";
  }
}

void _display_device(UpdaterDisplayInterface& display, const DeviceInfo& device) {
  const char* modelName = aDefs_GetModelName(device.model);
  if (device.type == TCPIP) {
    // The address is kept in network order, so its bytes in memory read a.b.c.d.
    const auto* octet = reinterpret_cast<const uint8_t*>(&device.ipAddress);
    char address[20];
    snprintf(address, sizeof address, "[%d.%d.%d.%d]", octet[0], octet[1], octet[2], octet[3]);
    display.message(INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%u) %s",
                    device.serialNumber, device.moduleAddress, device.routerAddress, modelName,
                    device.major, device.minor, device.patch, device.buildNumber, address);
  } else if (device.error != aErrNone) {
    display.message(INFO, "    %08X  [Error (%d): Is someone else connected to this device?]",
                    device.serialNumber, static_cast<int>(device.error));
  } else {
    display.message(INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%u)",
                    device.serialNumber, device.moduleAddress, device.routerAddress, modelName,
                    device.major, device.minor, device.patch, device.buildNumber);
  }
}

}  // namespace

void _display_app_version(UpdaterDisplayInterface& display) {
  display.message(INFO, "%s (%s)", kApplication, kApplicationVersion);
}

void _display_zp_version(UpdaterDisplayInterface& display) {
  display.message(INFO, "[Zepric Release: %d.%d.%d]", aVersion_GetMajor(), aVersion_GetMinor(),
                  aVersion_GetPatch());
}

void _display_copyright(UpdaterDisplayInterface& display) {
  display.message(INFO, "(%s)", kCopyright);
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint) {
  display.message(INFO, "[ %08X %08X %08X %08X ]", fingerprint.word[0], fingerprint.word[1],
                  fingerprint.word[2], fingerprint.word[3]);
}

void _display_builds(UpdaterDisplayInterface& display,
                     const std::map<std::string, std::string>& builds, uint32_t serialNumber) {
  if (builds.empty()) {
    display.message(INFO, "No builds found for device [%08X]", serialNumber);
    return;
  }
  display.message(INFO, "Build List for device [%08X]:\n", serialNumber);
  display.message(INFO, "%-15.15s\t%-15.15s", "Build", "Version");
  std::vector<std::pair<std::string, std::string>> ordered(builds.begin(), builds.end());
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [build, version] : ordered) {
    display.message(INFO, "%-15.15s\t%-15.15s", build.c_str(), version.c_str());
  }
}

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          uint32_t transport) {
  display.message(INFO, "Discovered Devices: (%s)", _transport_name(transport));
  if (devices.empty()) {
    display.message(INFO, "    No devices found.");
    return;
  }
  if (transport == USB) {
    display.message(INFO, "    Device    Module   Router  Model          Firmware Version (Build)");
  } else {
    display.message(INFO,
                    "    Device    Module   Router  Model          Firmware Version (Build)   "
                    "[IP address]");
  }
  for (const DeviceInfo& device : devices) _display_device(display, device);
}
