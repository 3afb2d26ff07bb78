#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"
#include "aDiscovery.h"
#include "aError.h"

class BirdFile;

// One discovered module. It is a link specifier first (type, serial number, module and
// router address, router serial number, model, IP address, port: exactly how the module was
// reached), so it can be handed to anything that connects from a specifier.
struct DeviceInfo : linkSpec {
  DeviceInfo() : linkSpec{} {}
  explicit DeviceInfo(const linkSpec& spec) : linkSpec(spec) {}

  uint32_t buildNumber = 0;  // 0 when it can't be read
  uint8_t major = 0;
  uint8_t minor = 0;
  uint32_t patch = 0;
  std::string modelName;
  aErr error = aErrNone;  // of the connection or of a failed read
};

// The four words that identify one chip, word 0 first.
struct Fingerprint {
  uint32_t word[4] = {0, 0, 0, 0};
};

// The updater core: one per run, holding the update server's base URL, the per-user store
// root and the display every operation reports to. Operations answer booleans, build
// numbers (0 = none) or lists; they report to the operator only through the display.
//
// Each group of operations lives in its own source file:
//   Updater_Discovery.cpp  Discover_Devices, Discover_ZPNetwork_Devices
//   Updater_Builds.cpp     Download_Firmware (both forms), Get_BuildList
//   Updater_Update.cpp     Update_Firmware, load_bird
//   Updater_Recovery.cpp   Recover_Firmware, Get_Fingerprint
class Updater {
 public:
  Updater(const std::string& serverURL, const std::string& updaterDirectory,
          UpdaterDisplayInterface& display);
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // transport 1 or 2 searches that transport; 0 searches USB, then TCP/IP.
  std::vector<DeviceInfo> Discover_Devices(uint32_t transport);
  // The modules behind a router; transport 0 finds the router's transport first.
  std::vector<DeviceInfo> Discover_ZPNetwork_Devices(uint32_t routerSerialNumber,
                                                     uint32_t transport);

  // True when the new firmware was transferred and the module rebooted. build 0 lets the
  // updater choose; an empty birdFile uses the store; routerSerialNumber 0 = direct.
  bool Update_Firmware(uint32_t serialNumber, uint32_t build, const std::string& birdFile,
                       uint8_t moduleAddress, uint32_t routerSerialNumber, bool override);
  // The image to transfer: birdFile when given, else build BUILD.bird of the device's store
  // (downloaded first when missing and downloadIfMissing). action is the word shown in the
  // messages ("Updating", "Recovering"). Throws std::runtime_error when it can't be read.
  std::unique_ptr<BirdFile> load_bird(const char* action, const std::string& birdFile,
                                      uint32_t serialNumber, uint32_t build,
                                      bool downloadIfMissing);

  // The build number downloaded into the store, 0 on failure. build is decimal text, empty
  // for the server's current build.
  uint32_t Download_Firmware(uint32_t serialNumber, const std::string& build, bool override,
                             bool no_cal);
  // As above for the device the server associates with a chip fingerprint.
  uint32_t Download_Firmware(const Fingerprint& fingerprint, const std::string& build,
                             bool override);
  // Build number text to version text; empty when the server can't be asked.
  std::map<std::string, std::string> Get_BuildList(uint32_t serialNumber);

  // True when the chip answered; sets chipType.
  bool Get_Fingerprint(Fingerprint& fingerprint, const std::string& serialPort,
                       uint32_t serialNumber, const std::string& birdFile, uint32_t baudRate,
                       bool reset);
  // build 0 lets the server decide; override is accepted but not used.
  bool Recover_Firmware(const std::string& serialPort, uint32_t build, uint32_t baudRate,
                        uint32_t serialNumber, const std::string& birdFile, bool override);

  const std::string serverURL;
  const std::string updaterDirectory;
  UpdaterDisplayInterface& display;  // not owned; outlives the Updater
  uint8_t chipType = 0;              // of the last fingerprint read: 0 unknown, 1 i.MX RT, 2 LPC
};
