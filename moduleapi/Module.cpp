#include "Module.h"

#include "unix_time.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr int kAddressQueries = 4;
constexpr uint32_t kAddressRetryMS = 5;
}  // namespace

Module::Module(uint8_t address, uint8_t model) : Module(address, true, model) {}

Module::Module(uint8_t address, bool automaticNetworking, uint8_t model)
    : m_link(new Link("Link")),
      m_address(address),
      m_automaticNetworking(automaticNetworking),
      m_model(model) {}

Module::~Module() = default;

void Module::queryAddress() {
  if (!m_automaticNetworking) return;
  uint8_t answered = 0;
  for (int attempt = 0; attempt < kAddressQueries; ++attempt) {
    if (m_link->getModuleAddress(&answered) != aErrNotReady) break;
    aTime_MSSleep(kAddressRetryMS);
  }
  if (answered != 0 && answered != m_address) m_address = answered;
}

aErr Module::connect(linkType type, uint32_t serialNumber) {
  if (serialNumber == 0) return aErrParam;
  return discoverAndConnect(type, serialNumber);
}

aErr Module::discoverAndConnect(linkType type, uint32_t serialNumber) {
  aErr err = m_link->discoverAndConnect(type, serialNumber, m_model);
  if (err == aErrNone) queryAddress();
  return err;
}

aErr Module::connectFromSpec(const linkSpec& spec) {
  if (isConnected()) return aErrBusy;
  aErr err = m_link->setLinkSpecifier(spec);
  if (err != aErrNone) return err;
  err = m_link->connect();
  if (err == aErrNone) queryAddress();
  return err;
}

aErr Module::connectThroughLinkModule(Module& router) {
  if (isConnected()) return aErrBusy;
  linkSpec spec;
  aErr err = router.getLinkSpecifier(&spec);
  if (err != aErrNone) return err;
  err = m_link->setLinkSpecifier(spec);
  if (err != aErrNone) return err;
  return m_link->connect();
}

aErr Module::reconnect() {
  aErr err = m_link->connect();
  if (err == aErrNone) queryAddress();
  return err;
}

aErr Module::disconnect() { return m_link->disconnect(); }

bool Module::isConnected() const { return m_link->isConnected(); }

int32_t Module::getStatus() const { return m_link->getStatus(); }

aErr Module::getLinkSpecifier(linkSpec* spec) const { return m_link->getLinkSpecifier(spec); }

aErr Module::enablePacketLog(const char* path) { return m_link->enablePacketLog(path); }

aErr Module::disablePacketLog() { return m_link->disablePacketLog(); }

}  // namespace Zepric
}  // namespace Halvik
