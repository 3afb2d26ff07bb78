#include <cstring>

#include "Link.h"
#include "LinkImpl.h"
#include "aPacket.h"
#include "aUEI.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr uint8_t kReplyHeader = 3;  // command, option, specifier

bool sUEIMatches(const aPacket* packet, const uei& record) {
  return packet->address == record.module && packet->length >= kReplyHeader &&
         packet->data[0] == record.command && packet->data[1] == record.option &&
         (packet->data[2] & ueiSPECIFIER_INDEX_MASK) == record.specifier;
}

bool sUEIDrainFilter(const aPacket* packet, const void* reference) {
  return sUEIMatches(packet, *static_cast<const uei*>(reference));
}

// Accepts the reply a UEI record expects and writes what it carries into the record.
bool sUEIFilter(const aPacket* packet, const void* reference) {
  uei* record = const_cast<uei*>(static_cast<const uei*>(reference));
  if (!sUEIMatches(packet, *record)) return false;

  if (packet->data[2] & ueiSPECIFIER_ERROR) {
    record->specifier = packet->data[2];
    // An error reply without its code byte still has to read as a failure.
    record->set8(packet->length > kReplyHeader ? packet->data[3] : uint8_t{aErrUnknown});
    return true;
  }
  const uint8_t* value = packet->data + kReplyHeader;
  switch (packet->length) {
    case 3: record->type = ueiTypeNone; break;
    case 4: record->set8(value[0]); break;
    case 5: record->set16(aUEI_RetrieveShort(value)); break;
    case 7: record->set32(aUEI_RetrieveInt(value)); break;
    default: break;  // taken as the reply, but its value can't be told
  }
  return true;
}

// Appends the record's value, most significant byte first; answers its byte count or -1
// for a type that has no wire form.
int sStoreValue(const uei& record, uint8_t* out) {
  switch (record.type) {
    case ueiTypeNone: return 0;
    case ueiTypeByte: out[0] = record.v.byteVal; return 1;
    case ueiTypeShort: aUEI_StoreShort(out, record.v.shortVal); return 2;
    case ueiTypeInt: aUEI_StoreInt(out, record.v.intVal); return 4;
  }
  return -1;
}
}  // namespace

static aErr sSendUEI(aLinkID id, const uei& record, const uint8_t* subindex) {
  uint8_t payload[aPACKET_MAX_DATA];
  uint8_t length = 0;
  payload[length++] = record.command;
  payload[length++] = record.option;
  payload[length++] = record.specifier;
  if (subindex) payload[length++] = *subindex;
  int valueBytes = sStoreValue(record, payload + length);
  // A record of an unknown type goes out as an empty packet, which the module ignores.
  length = valueBytes < 0 ? 0 : length + valueBytes;
  aPacket* packet = aPacket_CreateWithData(record.module, length, payload);
  if (!packet) return aErrResource;
  aErr err = aLink_PutPacket(id, packet);
  aPacket_Destroy(&packet);
  return err;
}

aErr Link::sendUEI(const uei& record) {
  aErr err = checkTarget(record.module);
  return err != aErrNone ? err : sSendUEI(m_impl->id, record, nullptr);
}

aErr Link::sendUEI(const uei& record, uint8_t subindex) {
  aErr err = checkTarget(record.module);
  return err != aErrNone ? err : sSendUEI(m_impl->id, record, &subindex);
}

aErr Link::receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t specifier,
                      uei* record) {
  return receiveUEI(module, command, option, specifier, record, sUEIFilter);
}

aErr Link::receiveUEI(uint8_t module, uint8_t, uint8_t, uint8_t, uei* record,
                      aPacketFilter filter) {
  aErr err = checkTarget(module);
  if (err != aErrNone) return err;
  if (!record || !filter) return aErrParam;
  aPacket* reply = nullptr;
  err = awaitPacket(filter, record, kReplyTimeoutMS, &reply);
  if (reply) aPacket_Destroy(&reply);
  return err;
}

aErr Link::dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option,
                                  uint8_t specifier) {
  aErr err = checkTarget(module);
  if (err != aErrNone) return err;
  uei record;
  record.module = module;
  record.command = command;
  record.option = option;
  record.specifier = specifier;
  aLink_DrainPackets(m_impl->id, sUEIDrainFilter, &record);
  return aErrNone;
}

}  // namespace Zepric
}  // namespace Halvik
