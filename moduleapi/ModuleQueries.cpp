#include <cstring>

#include "Module.h"
#include "aPacket.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr uint8_t kCmdDebug = 0x17;
constexpr uint8_t kCmdQuery = 0x49;
constexpr uint8_t kQueryHasUEI = 1;
constexpr uint8_t kQueryClassQuantity = 4;
constexpr uint8_t kQuerySubClassQuantity = 5;
constexpr uint8_t kQueryEntityGroup = 6;
constexpr uint8_t kAccessRead = 0x40;
constexpr uint8_t kAccessWrite = 0x80;
}  // namespace

aErr Module::debug(const uint8_t* bytes, uint8_t length) {
  if (!isConnected()) return aErrConnection;
  aErr err = m_link->sendPacket(m_address, kCmdDebug, length, bytes);
  if (err != aErrNone) return err;
  uint8_t replyLength = 1;
  uint8_t reply[aPACKET_MAX_DATA];
  err = m_link->receivePacket(m_address, &kCmdDebug, &replyLength, reply);
  if (err != aErrNone) return err;
  if (replyLength != length + 1 || (length && std::memcmp(reply + 1, bytes, length) != 0))
    return aErrIO;
  return aErrNone;
}

// Sends one module query and takes the answer byte that ends a reply of the expected
// length. The reply is picked by its query number; it must then echo the first `echoed`
// request bytes, or it is not an answer to this question.
aErr Module::query(const uint8_t* request, uint8_t length, uint8_t echoed, uint8_t replyLength,
                   uint8_t* answer) {
  if (!isConnected()) return aErrConnection;
  aErr err = m_link->sendPacket(m_address, kCmdQuery, length, request);
  if (err != aErrNone) return err;
  const uint8_t match[] = {kCmdQuery, request[0]};
  uint8_t received = sizeof match;
  uint8_t reply[aPACKET_MAX_DATA];
  err = m_link->receivePacket(m_address, match, &received, reply);
  if (err != aErrNone) return err;
  if (received != replyLength || std::memcmp(reply + 1, request, echoed) != 0) return aErrUnknown;
  *answer = reply[replyLength - 1];
  return aErrNone;
}

aErr Module::hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t access) {
  if ((access & 0x3F) || (access & (kAccessRead | kAccessWrite)) == (kAccessRead | kAccessWrite))
    return aErrParam;
  const uint8_t request[] = {kQueryHasUEI, command, option, index, access};
  uint8_t answer = 0;
  // The reply echoes all but the access byte, which its answer takes the place of.
  aErr err = query(request, sizeof request, sizeof request - 1, 6, &answer);
  if (err != aErrNone) return err;
  return static_cast<aErr>(answer);
}

aErr Module::classQuantity(uint8_t command, uint8_t* count) {
  if (!count) return aErrParam;
  const uint8_t request[] = {kQueryClassQuantity, command};
  return query(request, sizeof request, sizeof request, 4, count);
}

aErr Module::subClassQuantity(uint8_t command, uint8_t entityClass, uint8_t* count) {
  if (!count) return aErrParam;
  const uint8_t request[] = {kQuerySubClassQuantity, command, entityClass};
  return query(request, sizeof request, sizeof request, 5, count);
}

aErr Module::entityGroup(uint8_t command, uint8_t entityClass, uint8_t* group) {
  if (!group) return aErrParam;
  const uint8_t request[] = {kQueryEntityGroup, command, entityClass};
  return query(request, sizeof request, sizeof request, 5, group);
}

}  // namespace Zepric
}  // namespace Halvik
