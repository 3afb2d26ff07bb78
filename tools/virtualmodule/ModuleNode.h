#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "CommandHandler.h"
#include "DeviceModel.h"

namespace virtualmodule {

// One addressed module: its device model and the handlers of its command bytes.
class ModuleNode {
 public:
  explicit ModuleNode(DeviceModel device);

  // Adds or replaces the handler of one command byte (the loader, for instance).
  void install(uint8_t command, std::unique_ptr<CommandHandler> handler);
  const CommandHandler* handler(uint8_t command) const;

  // Empty outcome for requests the module has nothing to say to.
  Outcome handle(const std::vector<uint8_t>& payload);
  void restart();

  DeviceModel& device() { return device_; }
  const DeviceModel& device() const { return device_; }
  uint8_t address() const { return device_.moduleAddress; }

 private:
  DeviceModel device_;
  std::map<uint8_t, std::unique_ptr<CommandHandler>> handlers_;
};

}  // namespace virtualmodule
