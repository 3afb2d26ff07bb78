/*
 * The link engine: turns one byte stream to a module into an inbound and an
 * outbound packet queue served by a receive and a send thread.
 *
 * Links are named by identifiers from a process-wide table (0 names none).
 * Creating a USB or TCP/IP link to a device that already has one hands out the
 * same identifier and counts one more use; aLink_Destroy drops one use and
 * tears the link down with the last.
 */
#ifndef aLINK_H
#define aLINK_H

#include <stdint.h>

#include "aError.h"
#include "aPacket.h"
#include "aPacketFifo.h"
#include "aStream.h"

typedef uint32_t aLinkID;

typedef enum {
  aLinkStopped = 0,
  aLinkStarting = 1,
  aLinkRunning = 2,
  aLinkStopping = 3,
  aLinkSyncing = 4,
  aLinkNoStream = 5,
  aLinkStreamError = 6,
  aLinkError = 8
} aLinkStatus;

/* Wire control traffic from host to module. */
#define aLINK_ADDRESS_QUERY 0xAD
#define aLINK_CONTROL_ADDRESS 0xAF

/* serialNumber: the module's USB serial number. */
aLinkID aLink_CreateUSB(uint32_t serialNumber);

/* address: IPv4 address in network byte order; only the low 16 bits of port count.
 * The link is shared by address alone. A link whose socket could not be opened
 * still starts and reports aLinkStreamError. */
aLinkID aLink_CreateTCPIP(uint32_t address, uint32_t port);

/* Takes ownership of the caller's stream (also when it answers 0). Never shared. */
aLinkID aLink_Create(aStream* stream);

/* Drops one use and sets *id to 0. aErrParam for an unknown link. aErrBusy,
 * with nothing changed, for the last use when called from the link's own user
 * packet filter: a link cannot be torn down from its own receive thread. */
aErr aLink_Destroy(aLinkID* id);

/* Stops the link, reopens its stream and starts it again. aErrBusy when the
 * link table is held by another thread or when called from the link's own user
 * packet filter; aErrParam for an unknown link or one made over a caller's
 * stream (which cannot be reopened). */
aErr aLink_Reset(aLinkID id);

/* aLinkNoStream for an unknown identifier. */
aLinkStatus aLink_GetStatus(aLinkID id);

/* Queues a copy for the send thread. aErrParam for an unknown link or a packet
 * that is invalid or longer than 28 payload bytes; aErrConnection while the
 * link is in aLinkStreamError; otherwise the queue's answer. */
aErr aLink_PutPacket(aLinkID id, const aPacket* packet);

/* Inbound reads: a record the caller releases with aPacket_Destroy, or null. */
aPacket* aLink_GetPacket(aLinkID id);
aPacket* aLink_AwaitPacket(aLinkID id, uint32_t msTimeout);
aPacket* aLink_GetFirst(aLinkID id, aPacketFilter filter, const void* reference);
/* Waits only while the link runs in step with the module: a link that is
 * synchronising, stopping or in error answers null at once. */
aPacket* aLink_AwaitFirst(aLinkID id, aPacketFilter filter, const void* reference,
                          uint32_t msTimeout);
uint32_t aLink_DrainPackets(aLinkID id, aPacketFilter filter, const void* reference);

/* Offered every complete incoming packet first, on the receive thread; true
 * means it consumed the packet. A null filter removes it; once that call has
 * returned the old filter is no longer running. The filter stays across resets. */
aErr aLink_InstallUserPacketFilter(aLinkID id, aPacketFilter filter, const void* reference);

/* Packet debug log: a ring of entries (direction, length, bytes). Directions:
 * 1 sent packet, 2 received packet, 3 caller's text. */
#define aLINK_LOG_SENT 1
#define aLINK_LOG_RECEIVED 2
#define aLINK_LOG_TEXT 3

/* Size of the ring made by the next enable; 0 means 65536, at most 0x4000000. */
aErr aLink_PacketDebug_SetLogSize(aLinkID id, int32_t size);
aErr aLink_PacketDebug_Enable(aLinkID id);
aErr aLink_PacketDebug_Disable(aLinkID id);
/* length at most 255. */
aErr aLink_PacketDebug_Write(aLinkID id, uint8_t direction, uint32_t length, const uint8_t* bytes);
/* *length: the buffer's capacity on entry, the entry's length on return.
 * aErrNotFound when empty, aErrOverrun (entry kept) when it does not fit. */
aErr aLink_PacketDebug_Read(aLinkID id, uint8_t* direction, uint32_t* length, uint8_t* buffer);

#endif /* aLINK_H */
