#pragma once
#include <cstddef>

#include "CommandHandler.h"

namespace virtualmodule {

constexpr uint8_t kFactoryCommand = 0x5E;

// Command 0x5E: the areas of factory data, read and written in packets of up to 26 bytes and
// closed with the byte count, which the module checks against what actually travelled.
class FactoryData : public CommandHandler {
 public:
  Outcome handle(ModuleNode& node, const std::vector<uint8_t>& payload) override;
  void restart() override { transfer_ = Transfer{}; }

 private:
  struct Transfer {
    enum class Kind { None, Reading, Writing } kind = Kind::None;
    uint8_t area = 0;
    size_t count = 0;            // bytes sent so far when reading
    std::vector<uint8_t> data;   // bytes received so far when writing
  };

  Outcome close(ModuleNode& node, const std::vector<uint8_t>& payload);

  Transfer transfer_;
};

}  // namespace virtualmodule
