#include <cstring>

#include "Entity.h"
#include "EntityImpl.h"
#include "aPacket.h"
#include "aUEI.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr size_t BYTE_ADJUST = 4;
constexpr uint8_t kHeader = 3;    // command, option, index
constexpr uint8_t kOverhead = 4;  // the header and the closing sequence byte

// The record handed to the link's receive: what is expected, and room for the packet the
// filter takes, since the link frees the packet itself.
struct BytesReply : uei {
  uint8_t sequence = 0;
  uint8_t length = 0;
  uint8_t payload[aPACKET_MAX_DATA] = {};
};

// Takes the next packet of the sequence, or an error reply for this option.
bool sBytesFilter(const aPacket* packet, const void* reference) {
  BytesReply* wanted = const_cast<BytesReply*>(
      static_cast<const BytesReply*>(static_cast<const uei*>(reference)));
  if (packet->address != wanted->module || packet->length < kOverhead) return false;
  if (packet->data[0] != wanted->command || packet->data[1] != wanted->option) return false;
  if ((packet->data[2] & ueiSPECIFIER_INDEX_MASK) != wanted->specifier) return false;
  bool error = (packet->data[2] & ueiSPECIFIER_ERROR) != 0;
  if (!error &&
      EntityClass::getUEIBytesSequence(packet->data[packet->length - 1]) != wanted->sequence)
    return false;
  wanted->length = packet->length;
  std::memcpy(wanted->payload, packet->data, packet->length);
  return true;
}
}  // namespace

aErr EntityClass::getUEIBytes8(uint8_t option, uint8_t* buffer, size_t capacity,
                               size_t* count) {
  aErr err = bound();
  if (err != aErrNone) return err;
  if (!buffer || !count || capacity == 0) return aErrParam;
  Module& module = *m_impl->module;
  Link& link = *module.getLink();
  uei request;
  request.module = module.getModuleAddress();
  request.command = m_impl->command;
  request.option = option | ueiOPTION_GET;
  request.specifier = m_impl->index | ueiSPECIFIER_REQUEST;
  err = link.sendUEI(request);
  if (err != aErrNone) return err;

  BytesReply reply;
  reply.module = request.module;
  reply.command = m_impl->command;
  reply.option = option;
  reply.specifier = m_impl->index;
  for (;;) {
    err = link.receiveUEI(reply.module, reply.command, reply.option, reply.specifier, &reply,
                          sBytesFilter);
    if (err != aErrNone) return err;
    if (reply.payload[2] & ueiSPECIFIER_ERROR) return static_cast<aErr>(reply.payload[kHeader]);
    size_t data = reply.length - kOverhead;
    if (*count + data > capacity) return aErrMemory;
    std::memcpy(buffer + *count, reply.payload + kHeader, data);
    *count += data;
    if (!getUEIBytesContinue(reply.payload[reply.length - 1])) return aErrNone;
    reply.sequence = (reply.sequence + 1) & 0x7F;
  }
}

aErr EntityClass::getUEIBytes32(uint8_t option, uint32_t* buffer, size_t capacity,
                                size_t* count) {
  if (!count) return aErrParam;
  size_t bytes = 0;
  aErr err = getUEIBytes8(option, reinterpret_cast<uint8_t*>(buffer), capacity * BYTE_ADJUST,
                          &bytes);
  *count = 0;
  if (err != aErrNone) return err;
  if (bytes % BYTE_ADJUST != 0) return aErrParse;
  *count = bytes / BYTE_ADJUST;
  aUEI_ModifyIntBuffer(buffer, *count);
  return aErrNone;
}

}  // namespace Zepric
}  // namespace Halvik
