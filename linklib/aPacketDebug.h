/*
 * The byte ring behind a link's packet debug log. Each entry is a direction
 * byte, a length byte and that many bytes. When the ring is full the oldest
 * entries make room for the new one. The ring takes no lock: its owner (the
 * link) serialises every call.
 */
#ifndef aPACKETDEBUG_H
#define aPACKETDEBUG_H

#include <stdint.h>

#include "aError.h"

typedef struct aPacketLog aPacketLog;

#define aPACKETLOG_DEFAULT_SIZE 65536
#define aPACKETLOG_MAX_SIZE 0x4000000

/* size 0 gives the default size; null for a size above the maximum or no memory. */
aPacketLog* aPacketLog_Create(uint32_t size);
aErr aPacketLog_Destroy(aPacketLog** log);

/* aErrOverrun when the entry can never fit (length + 2 not below the size),
 * aErrSize for a length above 255. */
aErr aPacketLog_Put(aPacketLog* log, uint8_t direction, uint32_t length, const uint8_t* bytes);

/* *length: capacity in, entry length out. aErrNotFound when empty,
 * aErrOverrun (entry kept) when the capacity is too small. */
aErr aPacketLog_Get(aPacketLog* log, uint8_t* direction, uint32_t* length, uint8_t* buffer);

void aPacketLog_SetEnabled(aPacketLog* log, bool enabled);
bool aPacketLog_IsEnabled(const aPacketLog* log);

#endif /* aPACKETDEBUG_H */
