#include <algorithm>
#include <cstring>

#include "Link.h"
#include "LinkImpl.h"
#include "aPacket.h"
#include "aUEI.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr uint8_t kCmdStore = 4;
constexpr uint8_t kSubCapacity = 1;
constexpr uint8_t kSubSize = 2;
constexpr uint8_t kSubOpenRead = 3;
constexpr uint8_t kSubOpenWrite = 4;
constexpr uint8_t kSubRead = 6;
constexpr uint8_t kSubWrite = 7;
constexpr uint8_t kSubClose = 8;
constexpr uint8_t kErrorBit = 0x80;
constexpr uint8_t kNoHandle = 255;
constexpr size_t kChunk = 25;
constexpr uint32_t kOpenTimeoutMS = 3000;

// Sub-commands up to the opens name a store and slot; the later ones name a handle.
struct StoreReply {
  uint8_t subCommand;
  uint8_t store;  // or the handle
  uint8_t slot;
};

bool sBySlot(uint8_t subCommand) { return subCommand <= kSubOpenWrite; }

bool sStoreReplyFilter(const aPacket* packet, const void* reference) {
  const StoreReply* wanted = static_cast<const StoreReply*>(reference);
  if (packet->length < 3 || packet->data[0] != kCmdStore) return false;
  if ((packet->data[1] & ~kErrorBit) != wanted->subCommand) return false;
  if (packet->data[2] != wanted->store) return false;
  return !sBySlot(wanted->subCommand) || (packet->length >= 4 && packet->data[3] == wanted->slot);
}

bool sIsError(const aPacket* reply) { return (reply->data[1] & kErrorBit) != 0; }

// The code an error reply carries; one cut short is still an error.
aErr sErrorCode(const aPacket* reply) {
  uint8_t at = sBySlot(reply->data[1] & ~kErrorBit) ? 4 : 3;
  return reply->length > at ? static_cast<aErr>(reply->data[at]) : aErrUnknown;
}

uint8_t sSum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return sum;
}
}  // namespace

aErr Link::storeSlotValue(uint8_t module, uint8_t subCommand, uint8_t store, uint8_t slot,
                          size_t* value) {
  if (!isConnected()) return aErrConnection;
  if (!value) return aErrParam;
  const uint8_t request[] = {subCommand, store, slot};
  aErr err = sendPacket(module, kCmdStore, sizeof request, request);
  if (err != aErrNone) return err;
  StoreReply wanted{subCommand, store, slot};
  aPacket* reply = nullptr;
  err = awaitPacket(sStoreReplyFilter, &wanted, kReplyTimeoutMS, &reply);
  if (err != aErrNone) return err;
  if (sIsError(reply))
    err = sErrorCode(reply);
  else if (reply->length == 6)
    *value = aUEI_RetrieveShort(reply->data + 4);
  else
    err = aErrUnknown;
  aPacket_Destroy(&reply);
  return err;
}

aErr Link::storeSlotCapacity(uint8_t module, uint8_t store, uint8_t slot, size_t* capacity) {
  return storeSlotValue(module, kSubCapacity, store, slot, capacity);
}

aErr Link::storeSlotSize(uint8_t module, uint8_t store, uint8_t slot, size_t* size) {
  return storeSlotValue(module, kSubSize, store, slot, size);
}

aErr Link::openStoreSlot(uint8_t module, uint8_t subCommand, uint8_t store, uint8_t slot,
                         uint8_t* handle) {
  *handle = kNoHandle;
  const uint8_t request[] = {subCommand, store, slot};
  aErr err = sendPacket(module, kCmdStore, sizeof request, request);
  if (err != aErrNone) return err;
  StoreReply wanted{subCommand, store, slot};
  aPacket* reply = nullptr;
  if (awaitPacket(sStoreReplyFilter, &wanted, kOpenTimeoutMS, &reply) == aErrNone) {
    if (!sIsError(reply) && reply->length >= 5) *handle = reply->data[4];
    aPacket_Destroy(&reply);
  }
  return *handle == kNoHandle ? aErrMedia : aErrNone;
}

aErr Link::closeStoreSlot(uint8_t module, uint8_t handle) {
  const uint8_t request[] = {kSubClose, handle};
  aErr err = sendPacket(module, kCmdStore, sizeof request, request);
  if (err != aErrNone) return err;
  StoreReply wanted{kSubClose, handle, 0};
  aPacket* reply = nullptr;
  err = awaitPacket(sStoreReplyFilter, &wanted, kReplyTimeoutMS, &reply);
  if (err != aErrNone) return err;
  if (sIsError(reply))
    err = sErrorCode(reply);
  else if (reply->length != 4)
    err = aErrIO;
  aPacket_Destroy(&reply);
  return err;
}

aErr Link::loadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, const uint8_t* data,
                         size_t length) {
  if (!isConnected()) return aErrConnection;
  if (length && !data) return aErrParam;
  uint8_t handle;
  aErr err = openStoreSlot(module, kSubOpenWrite, store, slot, &handle);
  if (err != aErrNone) return err;

  for (size_t sent = 0; sent < length && err == aErrNone; sent += kChunk) {
    size_t count = std::min(kChunk, length - sent);
    uint8_t request[2 + kChunk] = {kSubWrite, handle};
    std::memcpy(request + 2, data + sent, count);
    err = sendPacket(module, kCmdStore, static_cast<uint8_t>(2 + count), request);
    if (err != aErrNone) break;
    StoreReply wanted{kSubWrite, handle, 0};
    aPacket* reply = nullptr;
    err = awaitPacket(sStoreReplyFilter, &wanted, kReplyTimeoutMS, &reply);
    if (err != aErrNone) break;
    if (reply->length == 4) {
      if (sIsError(reply))
        err = sErrorCode(reply);
      else if (reply->data[3] != sSum(data + sent, count))
        err = aErrIO;
    }
    aPacket_Destroy(&reply);
  }
  aErr closed = closeStoreSlot(module, handle);
  return err != aErrNone ? err : closed;
}

aErr Link::unloadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, uint8_t* buffer,
                           size_t capacity, size_t* length) {
  if (!isConnected()) return aErrConnection;
  if (!length || (capacity && !buffer)) return aErrParam;
  size_t size = 0;
  aErr err = storeSlotSize(module, store, slot, &size);
  if (err != aErrNone) return err;
  uint8_t handle;
  err = openStoreSlot(module, kSubOpenRead, store, slot, &handle);
  if (err != aErrNone) return err;

  const size_t wanted = std::min(capacity, size);
  size_t received = 0;
  while (received < wanted && err == aErrNone) {
    const uint8_t request[] = {kSubRead, handle};
    err = sendPacket(module, kCmdStore, sizeof request, request);
    if (err != aErrNone) break;
    StoreReply expected{kSubRead, handle, 0};
    aPacket* reply = nullptr;
    err = awaitPacket(sStoreReplyFilter, &expected, kReplyTimeoutMS, &reply);
    if (err != aErrNone) break;
    if (reply->length < 4) {
      err = aErrUnknown;
    } else if (sIsError(reply)) {
      err = sErrorCode(reply);
    } else {
      size_t count = std::min<size_t>(reply->length - 3, wanted - received);
      std::memcpy(buffer + received, reply->data + 3, count);
      received += count;
    }
    aPacket_Destroy(&reply);
  }
  aErr closed = closeStoreSlot(module, handle);
  if (err == aErrNone) err = closed;
  if (err != aErrNone) return err;
  *length = wanted;
  return capacity < size ? aErrOverrun : aErrNone;
}

}  // namespace Zepric
}  // namespace Halvik
