#include "aPacketDebug.h"

#include <stdlib.h>

#include <new>

struct aPacketLog {
  uint8_t* ring;
  uint32_t size;
  // Equal positions mean an empty ring, so a put always leaves one byte free.
  uint32_t readPosition;
  uint32_t writePosition;
  bool enabled;
};

static uint32_t sUsed(const aPacketLog* log) {
  return (log->writePosition + log->size - log->readPosition) % log->size;
}

static uint8_t sByteAt(const aPacketLog* log, uint32_t offset) {
  return log->ring[(log->readPosition + offset) % log->size];
}

static void sAppend(aPacketLog* log, uint8_t byte) {
  log->ring[log->writePosition] = byte;
  log->writePosition = (log->writePosition + 1) % log->size;
}

aPacketLog* aPacketLog_Create(uint32_t size) {
  if (size == 0) {
    size = aPACKETLOG_DEFAULT_SIZE;
  }
  if (size > aPACKETLOG_MAX_SIZE) {
    return nullptr;
  }
  aPacketLog* log = new (std::nothrow) aPacketLog{};
  if (log == nullptr) {
    return nullptr;
  }
  log->ring = static_cast<uint8_t*>(malloc(size));
  if (log->ring == nullptr) {
    delete log;
    return nullptr;
  }
  log->size = size;
  return log;
}

aErr aPacketLog_Destroy(aPacketLog** log) {
  if (log == nullptr || *log == nullptr) {
    return aErrParam;
  }
  free((*log)->ring);
  delete *log;
  *log = nullptr;
  return aErrNone;
}

aErr aPacketLog_Put(aPacketLog* log, uint8_t direction, uint32_t length, const uint8_t* bytes) {
  if (log == nullptr || (length > 0 && bytes == nullptr)) {
    return aErrParam;
  }
  // The length travels in one byte; a longer entry would be read back garbled.
  if (length > UINT8_MAX) {
    return aErrSize;
  }
  const uint32_t needed = length + 2;
  if (needed >= log->size) {
    return aErrOverrun;
  }
  while (log->size - sUsed(log) <= needed) {
    const uint32_t oldest = sByteAt(log, 1) + 2u;
    log->readPosition = (log->readPosition + oldest) % log->size;
  }
  sAppend(log, direction);
  sAppend(log, static_cast<uint8_t>(length));
  for (uint32_t i = 0; i < length; i++) {
    sAppend(log, bytes[i]);
  }
  return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, uint8_t* direction, uint32_t* length, uint8_t* buffer) {
  if (log == nullptr || direction == nullptr || length == nullptr) {
    return aErrParam;
  }
  if (sUsed(log) == 0) {
    return aErrNotFound;
  }
  const uint32_t capacity = *length;
  const uint32_t entryLength = sByteAt(log, 1);
  *direction = sByteAt(log, 0);
  *length = entryLength;
  if (capacity < entryLength) {
    return aErrOverrun;
  }
  if (entryLength > 0 && buffer == nullptr) {
    return aErrParam;
  }
  for (uint32_t i = 0; i < entryLength; i++) {
    buffer[i] = sByteAt(log, 2 + i);
  }
  log->readPosition = (log->readPosition + entryLength + 2) % log->size;
  return aErrNone;
}

void aPacketLog_SetEnabled(aPacketLog* log, bool enabled) {
  if (log != nullptr) {
    log->enabled = enabled;
  }
}

bool aPacketLog_IsEnabled(const aPacketLog* log) {
  return log != nullptr && log->enabled;
}
