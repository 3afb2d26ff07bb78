#include <algorithm>
#include <cstring>

#include "Link.h"
#include "LinkImpl.h"
#include "aPacket.h"
#include "aUEI.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr uint8_t kCmdFactory = 0x5E;  // '^'
constexpr uint8_t kFirstRead = 0x40;
constexpr uint8_t kWrite = 0x10;
constexpr uint8_t kFirstWrite = 0x50;
constexpr uint8_t kEnd = 0x20;
constexpr uint8_t kErrorBit = 0x80;
constexpr uint8_t COMMAND_OVERHEAD = 2;
constexpr size_t kDataPerPacket = aPACKET_MAX_DATA - COMMAND_OVERHEAD;

// Replies echo the low four bits of the request's control byte, plus the error bit.
bool sFactoryReplyFilter(const aPacket* packet, const void* reference) {
  uint8_t control = *static_cast<const uint8_t*>(reference) & 0x0F;
  return packet->length >= 2 && packet->data[0] == kCmdFactory &&
         (packet->data[1] == control || packet->data[1] == (control | kErrorBit));
}

bool sIsError(const aPacket* reply) { return (reply->data[1] & kErrorBit) != 0; }

aErr sErrorCode(const aPacket* reply) {
  return reply->length > 2 ? static_cast<aErr>(reply->data[2]) : aErrUnknown;
}
}  // namespace

aErr Link::endFactoryTransfer(uint8_t module, uint16_t count) {
  uint8_t request[3] = {kEnd};
  aUEI_StoreShort(request + 1, count);
  aErr err = sendPacket(module, kCmdFactory, sizeof request, request);
  if (err != aErrNone) return err;
  aPacket* reply = nullptr;
  err = awaitPacket(sFactoryReplyFilter, &request[0], kReplyTimeoutMS, &reply);
  if (err != aErrNone) return err;
  if (reply->length == 3 && sIsError(reply)) err = sErrorCode(reply);
  aPacket_Destroy(&reply);
  return err;
}

aErr Link::getFactoryData(uint8_t module, uint8_t control, uint8_t* buffer, size_t capacity,
                          size_t* length) {
  aErr err = checkTarget(module);
  if (err != aErrNone) return err;
  if (!length || (capacity && !buffer)) return aErrParam;
  size_t total = 0;
  bool more = true;
  for (bool first = true; more && err == aErrNone; first = false) {
    uint8_t request = first ? (control | kFirstRead) : control;
    err = sendPacket(module, kCmdFactory, 1, &request);
    if (err != aErrNone) break;
    aPacket* reply = nullptr;
    err = awaitPacket(sFactoryReplyFilter, &control, kReplyTimeoutMS, &reply);
    if (err != aErrNone) break;
    size_t count = reply->length - COMMAND_OVERHEAD;
    if (sIsError(reply))
      err = sErrorCode(reply);
    else if (total + count > capacity)
      err = aErrOverrun;
    else
      std::memcpy(buffer + total, reply->data + COMMAND_OVERHEAD, count);
    total += count;
    more = reply->length == aPACKET_MAX_DATA;
    aPacket_Destroy(&reply);
  }
  if (err != aErrNone) return err;
  err = endFactoryTransfer(module, static_cast<uint16_t>(total));
  if (err == aErrNone) *length = total;
  return err;
}

aErr Link::setFactoryData(uint8_t module, uint8_t control, const uint8_t* data,
                          size_t length) {
  aErr err = checkTarget(module);
  if (err != aErrNone) return err;
  if (length && !data) return aErrParam;
  size_t sent = 0;
  bool first = true;
  do {
    size_t count = std::min(kDataPerPacket, length - sent);
    uint8_t request[1 + kDataPerPacket];
    request[0] = control | (first ? kFirstWrite : kWrite);
    if (count) std::memcpy(request + 1, data + sent, count);
    err = sendPacket(module, kCmdFactory, static_cast<uint8_t>(1 + count), request);
    if (err != aErrNone) return err;
    aPacket* reply = nullptr;
    err = awaitPacket(sFactoryReplyFilter, &control, kReplyTimeoutMS, &reply);
    if (err != aErrNone) return err;
    if (reply->length != 2) err = aErrSize;
    aPacket_Destroy(&reply);
    if (err != aErrNone) return err;
    sent += count;
    first = false;
  } while (sent < length);
  return endFactoryTransfer(module, static_cast<uint16_t>(length));
}

}  // namespace Zepric
}  // namespace Halvik
