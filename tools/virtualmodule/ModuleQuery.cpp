#include "ModuleQuery.h"

#include <cstdint>

#include "ModuleNode.h"

namespace virtualmodule {

namespace {

constexpr uint8_t kHasUEI = 1;
constexpr uint8_t kClassQuantity = 4;
constexpr uint8_t kSubClassQuantity = 5;
constexpr uint8_t kEntityGroup = 6;

// Requests carry the sub-command and a fixed number of argument bytes; replies echo them.
size_t argumentCount(uint8_t subCommand) {
  switch (subCommand) {
    case kBuildQuery: return 0;
    case kHasUEI: return 4;
    case kClassQuantity: return 1;
    case kSubClassQuantity:
    case kEntityGroup: return 2;
    default: return SIZE_MAX;
  }
}

}  // namespace

Outcome ModuleQuery::handle(ModuleNode& node, const std::vector<uint8_t>& payload) {
  if (payload.size() < 2 || payload.size() != 2 + argumentCount(payload[1])) return {};
  Packet reply{node.address(), payload};
  const uint8_t sub = payload[1];
  if (sub == kBuildQuery) {
    appendBigEndian(reply.payload, node.device().build, 4);
  } else {
    const CommandHandler* entity = node.handler(payload[2]);
    if (sub == kHasUEI) {
      // The answer takes the place of the access byte.
      reply.payload.pop_back();
      reply.payload.push_back(
          code(entity ? entity->checkUEI(payload[3], payload[4], payload[5]) : ErrorCode::InvalidEntity));
    } else if (sub == kClassQuantity) {
      reply.payload.push_back(entity ? entity->entityCount() : 0);
    } else {
      // No entity of this module has sub-classes or belongs to a group.
      reply.payload.push_back(0);
    }
  }
  return Outcome::single(std::move(reply));
}

}  // namespace virtualmodule
