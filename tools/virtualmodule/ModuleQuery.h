#pragma once
#include "CommandHandler.h"

namespace virtualmodule {

constexpr uint8_t kModuleQueryCommand = 0x49;
constexpr uint8_t kBuildQuery = 0xFF;

// Command 0x49: the firmware build number and what the module's entities offer.
class ModuleQuery : public CommandHandler {
 public:
  Outcome handle(ModuleNode& node, const std::vector<uint8_t>& payload) override;
};

}  // namespace virtualmodule
