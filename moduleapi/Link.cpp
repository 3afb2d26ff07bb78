#include "Link.h"

#include <cstring>

#include "LinkImpl.h"
#include "aPacket.h"
#include "unix_time.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr size_t kNameLimit = 1024;
constexpr int kStartPolls = 200;
constexpr uint32_t kStartPollMS = 10;

bool sEmptyPayload(const aPacket* packet, const void*) { return packet->length == 0; }

struct PacketMatch {
  const uint8_t* bytes;
  uint8_t count;
};

bool sLeadingBytesMatch(const aPacket* packet, const void* reference) {
  const PacketMatch* match = static_cast<const PacketMatch*>(reference);
  return packet->length >= match->count &&
         std::memcmp(packet->data, match->bytes, match->count) == 0;
}
}  // namespace

Link::Link(const char* name) : m_impl(new impl) {
  m_impl->name.assign(name ? name : "", 0, kNameLimit);
}

Link::Link(const linkSpec& spec, const char* name) : Link(name) {
  m_impl->spec.reset(new linkSpec(spec));
}

Link::~Link() {
  if (m_impl->logger) aLogger_Destroy(&m_impl->logger);
  disconnect();
}

aErr Link::connect() {
  if (m_impl->id == 0) {
    if (!m_impl->spec) return aErrConfiguration;
    const linkSpec& spec = *m_impl->spec;
    if (spec.type == USB)
      m_impl->id = aLink_CreateUSB(spec.serialNumber);
    else if (spec.type == TCPIP)
      m_impl->id = aLink_CreateTCPIP(spec.ipAddress, spec.port & 0xFFFF);
    if (m_impl->id == 0) return aErrConnection;
  }
  for (int poll = 0;; ++poll) {
    switch (aLink_GetStatus(m_impl->id)) {
      case aLinkRunning: return aErrNone;
      case aLinkStopping: return aErrBusy;
      case aLinkNoStream:
      case aLinkStreamError:
      case aLinkError: return aErrConnection;
      default: break;  // stopped, starting or syncing: the link may still come up
    }
    if (poll == kStartPolls) return aErrConnection;
    aTime_MSSleep(kStartPollMS);
  }
}

aErr Link::discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model) {
  linkSpec* found = serialNumber ? aDiscovery_FindModule(type, serialNumber)
                                 : aDiscovery_FindModuleByModel(type, model);
  if (!found) return aErrNotFound;
  m_impl->spec.reset(new linkSpec(*found));
  aLinkSpec_Destroy(&found);
  return connect();
}

aErr Link::disconnect() {
  if (m_impl->id != 0) aLink_Destroy(&m_impl->id);
  m_impl->id = 0;
  return aErrNone;
}

aErr Link::reset() {
  aLink_Reset(m_impl->id);
  return aErrNone;
}

bool Link::isConnected() const {
  if (m_impl->id == 0) return false;
  aLinkStatus status = aLink_GetStatus(m_impl->id);
  return status == aLinkRunning || status == aLinkStarting;
}

int32_t Link::getStatus() const {
  return m_impl->id == 0 ? aLinkError : aLink_GetStatus(m_impl->id);
}

aErr Link::getLinkSpecifier(linkSpec* spec) const {
  if (!m_impl->spec) return aErrNotFound;
  if (!spec) return aErrParam;
  *spec = *m_impl->spec;
  return aErrNone;
}

aErr Link::setLinkSpecifier(const linkSpec& spec) {
  if (isConnected()) return aErrBusy;
  m_impl->spec.reset(new linkSpec(spec));
  return aErrNone;
}

const char* Link::getName() const { return m_impl->name.c_str(); }

aLinkID Link::getLinkID() const { return m_impl->id; }

aErr Link::getModuleAddress(uint8_t* address) {
  if (!address) return aErrParam;
  if (!isConnected()) return aErrNotReady;
  aPacket* query = aPacket_CreateWithData(aLINK_ADDRESS_QUERY, 0, nullptr);
  if (!query) return aErrResource;
  aLink_PutPacket(m_impl->id, query);
  aPacket_Destroy(&query);
  aPacket* reply = aLink_AwaitFirst(m_impl->id, sEmptyPayload, nullptr, kReplyTimeoutMS);
  if (!reply) return aErrNotReady;
  *address = reply->address;
  aPacket_Destroy(&reply);
  return aErrNone;
}

aErr Link::checkTarget(uint8_t module) const {
  if (!isConnected()) return aErrConnection;
  if (module == 0 || (module & 1)) return aErrPacket;
  return aErrNone;
}

aErr Link::awaitPacket(aPacketFilter filter, const void* reference, uint32_t msTimeout,
                       aPacket** packet) {
  *packet = aLink_AwaitFirst(m_impl->id, filter, reference, msTimeout);
  return *packet ? aErrNone : aErrTimeout;
}

aErr Link::sendPacket(uint8_t module, uint8_t command, uint8_t length, const uint8_t* data) {
  aErr err = checkTarget(module);
  if (err != aErrNone) return err;
  if (length > aPACKET_MAX_DATA - 1) return aErrParam;
  if (length > 0 && !data) return aErrParam;
  uint8_t payload[aPACKET_MAX_DATA];
  payload[0] = command;
  if (length) std::memcpy(payload + 1, data, length);
  aPacket* packet = aPacket_CreateWithData(module, length + 1, payload);
  if (!packet) return aErrResource;
  // The module's reply tells whether it arrived; a failed put shows up as a time-out there.
  aLink_PutPacket(m_impl->id, packet);
  aPacket_Destroy(&packet);
  return aErrNone;
}

aErr Link::receivePacket(uint8_t module, const uint8_t* match, uint8_t* length,
                         uint8_t* payload) {
  aErr err = checkTarget(module);
  if (err != aErrNone) return err;
  if (!length || !payload || (*length && !match) || *length > aPACKET_MAX_DATA)
    return aErrParam;
  PacketMatch wanted{match, *length};
  aPacket* reply = nullptr;
  err = awaitPacket(sLeadingBytesMatch, &wanted, kReplyTimeoutMS, &reply);
  if (err != aErrNone) return err;
  *length = reply->length;
  std::memcpy(payload, reply->data, reply->length);
  aPacket_Destroy(&reply);
  return aErrNone;
}

}  // namespace Zepric
}  // namespace Halvik
