#pragma once
#include "CommandHandler.h"

namespace virtualmodule {

constexpr uint8_t kSystemCommand = 3;

// System option codes the module implements.
namespace systemOption {
constexpr uint8_t module = 1;
constexpr uint8_t router = 2;
constexpr uint8_t heartbeatInterval = 3;
constexpr uint8_t led = 4;
constexpr uint8_t bootSlot = 6;
constexpr uint8_t version = 7;
constexpr uint8_t model = 8;
constexpr uint8_t serialNumber = 9;
constexpr uint8_t save = 10;
constexpr uint8_t reset = 11;
constexpr uint8_t routeToMe = 20;
constexpr uint8_t name = 32;
constexpr uint8_t uniqueIdentifier = 39;
}  // namespace systemOption

// The system entity (one, at index 0): identity, addresses, reset and routing.
class SystemEntity : public CommandHandler {
 public:
  Outcome handle(ModuleNode& node, const std::vector<uint8_t>& payload) override;
  uint8_t entityCount() const override { return 1; }
  ErrorCode checkUEI(uint8_t option, uint8_t index, uint8_t access) const override;
};

}  // namespace virtualmodule
