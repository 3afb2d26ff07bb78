#pragma once

#include <cstdint>
#include <string>

#include "aDiscovery.h"

enum COMMANDS : uint32_t {
  CMD_DISCOVER = 0x00000001,
  CMD_UPDATE = 0x00000002,
  CMD_BUILD_LIST = 0x00000004,
  CMD_GET_BUILD = 0x00000008,
  CMD_INFO = 0x00000010,
  CMD_CHECK = 0x00000020,
  CMD_FINGERPRINT = 0x00000040,
  CMD_Z = 0x00000080,
  CMD_HELP = 0x80000000,
};

// Any of these bits means a command was given (help is not a command).
constexpr uint32_t kAnyCommand = 0x000305FF;

// The transport value that stands for recovery through a chip's boot ROM.
constexpr uint32_t kTransportRecover = 255;

class CommandsClass {
 public:
  void Set(uint32_t bits) { commands |= bits; }
  bool IsSet(uint32_t mask) const { return (commands & mask) != 0; }

 private:
  uint32_t commands = 0;
};

// Everything the command line asked for, with the defaults of an empty command line.
struct Parameters {
  CommandsClass commands;
  uint32_t serialNumber = 0;
  uint32_t routerSerialNumber = 0;
  uint32_t transport = USB;  // 0 after an invalid -t, kTransportRecover for RECOVER
  bool transportGiven = false;
  std::string serialPort;
  uint32_t baudRate = 115200;
  uint8_t moduleAddress = 0;
  std::string birdFile;
  std::string logMessage;
  std::string build;  // decimal text, empty for "let the updater choose"
  bool echo = false;
  std::string serverURL = UPDATER_DEFAULT_SERVER_URL;
  bool nFlag = false;
  std::string appName;
  std::string homeDirectory;
  std::string logFileName = "Updater.log";
  bool override = false;
  uint32_t logMask = 0;
  bool helpRequested = false;
};
