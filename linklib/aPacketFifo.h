/*
 * Thread-safe packet queues named by process-wide identifiers.
 *
 * Every queue holds copies of aPacket records. Readers may wait with a time-out
 * and pick packets by a filter. A queue that gets more than 20 unread packets
 * throws all of them away, so a reader that stalls never makes it grow without
 * bound. Identifiers start at 1, are never reused, and 0 names no queue.
 */
#ifndef aPACKETFIFO_H
#define aPACKETFIFO_H

#include <stdint.h>

#include "aError.h"
#include "aPacket.h"

typedef uint64_t aPacketFifoID;

/* Answers true to select the packet. Runs with the queue's lock held, so it
 * must not call back into the same queue. */
typedef bool (*aPacketFilter)(const aPacket* packet, const void* reference);

/* Most packets a queue keeps; a put beyond this empties the queue. */
#define aPACKETFIFO_CAPACITY 20

/* The filter that selects every packet. */
bool drainAll(const aPacket* packet, const void* reference);

aPacketFifoID aPacketFifo_Create(void);

/* Closes the queue, wakes every waiter and sets *id to 0.
 * aErrParam for a null address, aErrNotFound for an unknown identifier. */
aErr aPacketFifo_Destroy(aPacketFifoID* id);

/* Queued packets; 0 for an unknown identifier. */
uint32_t aPacketFifo_GetLength(aPacketFifoID id);

/* Queues a copy. aErrParam (unknown queue or invalid packet), aErrResource
 * (no memory), aErrCancel (queue being destroyed). */
aErr aPacketFifo_Put(aPacketFifoID id, const aPacket* packet);

/* The reads hand out a record the caller releases with aPacket_Destroy, or null. */
aPacket* aPacketFifo_Get(aPacketFifoID id);
aPacket* aPacketFifo_Await(aPacketFifoID id, uint32_t msTimeout);
aPacket* aPacketFifo_GetFirst(aPacketFifoID id, aPacketFilter filter, const void* reference);
aPacket* aPacketFifo_AwaitFirst(aPacketFifoID id, aPacketFilter filter, const void* reference,
                                uint32_t msTimeout);

/* Removes and frees every packet the filter selects; answers how many. */
uint32_t aPacketFifo_DrainPackets(aPacketFifoID id, aPacketFilter filter, const void* reference);

#endif /* aPACKETFIFO_H */
