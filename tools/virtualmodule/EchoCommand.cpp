#include "EchoCommand.h"

#include "ModuleNode.h"

namespace virtualmodule {

Outcome EchoCommand::handle(ModuleNode& node, const std::vector<uint8_t>& payload) {
  return Outcome::single(Packet{node.address(), payload});
}

}  // namespace virtualmodule
