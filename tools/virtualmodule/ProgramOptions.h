#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "DeviceModel.h"
#include "Faults.h"

namespace virtualmodule {

struct ProgramOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 9000;
  DeviceModel primary;
  std::vector<DeviceModel> modules;  // behind the primary one, which then acts as router
  Faults faults;
  std::string discoveryInterface;    // empty: no discovery responder
  std::string logPath;               // empty: no traffic log file
  bool help = false;
};

// Throws std::invalid_argument naming the option at fault.
ProgramOptions parseProgramOptions(int argc, const char* const* argv);
const char* programUsage();

}  // namespace virtualmodule
