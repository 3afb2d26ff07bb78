#pragma once
#include "CommandHandler.h"

namespace virtualmodule {

constexpr uint8_t kEchoCommand = 0x17;

// Command 0x17 sends its data bytes straight back.
class EchoCommand : public CommandHandler {
 public:
  Outcome handle(ModuleNode& node, const std::vector<uint8_t>& payload) override;
};

}  // namespace virtualmodule
