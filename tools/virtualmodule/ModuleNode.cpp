#include "ModuleNode.h"

#include "EchoCommand.h"
#include "FactoryData.h"
#include "ModuleQuery.h"
#include "StoreSlots.h"
#include "SystemEntity.h"
#include "UeiCodec.h"

namespace virtualmodule {

ModuleNode::ModuleNode(DeviceModel device) : device_(std::move(device)) {
  install(kSystemCommand, std::make_unique<SystemEntity>());
  install(kStoreCommand, std::make_unique<StoreSlots>());
  install(kEchoCommand, std::make_unique<EchoCommand>());
  install(kModuleQueryCommand, std::make_unique<ModuleQuery>());
  install(kFactoryCommand, std::make_unique<FactoryData>());
}

void ModuleNode::install(uint8_t command, std::unique_ptr<CommandHandler> handler) {
  handlers_[command] = std::move(handler);
}

const CommandHandler* ModuleNode::handler(uint8_t command) const {
  auto found = handlers_.find(command);
  return found == handlers_.end() ? nullptr : found->second.get();
}

Outcome ModuleNode::handle(const std::vector<uint8_t>& payload) {
  if (payload.empty()) return {};
  auto found = handlers_.find(payload[0]);
  if (found != handlers_.end()) return found->second->handle(*this, payload);
  // A request for an entity class this module lacks still deserves an answer, so the host
  // learns the difference between "no such entity" and "no such module".
  Outcome outcome;
  if (auto request = parseUeiRequest(payload))
    outcome.replies.push_back(ueiErrorReply(address(), *request, ErrorCode::InvalidEntity));
  return outcome;
}

void ModuleNode::restart() {
  device_.routeToMe = false;
  for (auto& entry : handlers_) entry.second->restart();
}

}  // namespace virtualmodule
