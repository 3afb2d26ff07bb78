#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "ErrorCode.h"
#include "WirePacket.h"

namespace virtualmodule {

class ModuleNode;

// What one request made the module do.
struct Outcome {
  std::vector<Packet> replies;
  bool sequenced = false;  // the replies are one multi-packet value, numbered by their last byte
  bool restart = false;    // the module restarts once the replies are out

  static Outcome single(Packet reply) {
    Outcome outcome;
    outcome.replies.push_back(std::move(reply));
    return outcome;
  }
};

// The code behind one command byte of one module. Each module holds its own handler objects,
// so handlers may keep per-module session state (open slots, transfers in progress).
class CommandHandler {
 public:
  virtual ~CommandHandler() = default;
  virtual Outcome handle(ModuleNode& node, const std::vector<uint8_t>& payload) = 0;
  // Drops session state when the module restarts.
  virtual void restart() {}
  // Entity description for the module query command; raw commands have no entities.
  virtual uint8_t entityCount() const { return 0; }
  virtual ErrorCode checkUEI(uint8_t /*option*/, uint8_t /*index*/, uint8_t /*access*/) const {
    return ErrorCode::InvalidEntity;
  }
};

}  // namespace virtualmodule
