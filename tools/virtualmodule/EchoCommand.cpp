#include "EchoCommand.h"

#include "ModuleNode.h"

namespace virtualmodule {

Outcome EchoCommand::handle(ModuleNode& node, const std::vector<uint8_t>& payload) {
  Outcome outcome;
  outcome.replies.push_back(Packet{node.address(), payload});
  return outcome;
}

}  // namespace virtualmodule
