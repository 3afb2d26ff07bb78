#include "aLink.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "aDiscovery.h"
#include "aPacketDebug.h"
#include "unix_mutex.h"
#include "unix_time.h"

// A caller's own stream is never shared, so its entries carry no real device.
#define aLINK_OWN_STREAM_DEVICE 0xFFFFFFFFu
#define aLINK_OWN_STREAM_TYPE static_cast<linkType>(0)

#define aLINK_RESET_ATTEMPTS 20
#define aLINK_RESET_PAUSE_MS 100
#define aLINK_STREAM_ERROR_PAUSE_MS 100
#define aLINK_SEND_POLL_MS 5
#define aLINK_SEND_PAUSE_MS 1
#define aLINK_SYNC_PAUSE_MS 2
#define aLINK_IDLE_READ_US 5
// A module writes each packet in one piece. A partial packet or a synchronisation
// answer that stalls this long is taken as lost: otherwise the next packet's
// bytes would complete it into a corrupt packet, or the link would wait in
// vain for an answer that never comes.
#define aLINK_STALL_MS 100
// Waits at link level look at the link's state this often, so that a link
// that falls out of step or loses its stream ends the wait promptly.
#define aLINK_AWAIT_SLICE_MS 10

#define aLINK_CONTROL_START 1
#define aLINK_CONTROL_STOP 0
#define aLINK_HEARTBEAT_COMMAND 0
#define aLINK_HEARTBEAT_STEP 2

static const uint8_t sSyncRequest[12] = {
    aLINK_ADDRESS_QUERY, 0, aLINK_ADDRESS_QUERY, 0, aLINK_ADDRESS_QUERY, 0,
    aLINK_ADDRESS_QUERY, 0, aLINK_ADDRESS_QUERY, 0, aLINK_ADDRESS_QUERY, 0};

enum syncState { syncInStep = 0, syncWaiting = 1, syncExpectX = 2, syncExpectFirstZero = 3,
                 syncExpectXAgain = 4, syncExpectSecondZero = 5 };

struct aLink {
  aLinkID id;
  // Written by the controlling thread and polled by the workers and callers.
  std::atomic<bool> running{false};
  std::atomic<int32_t> status{aLinkStopped};
  // Callers read these while a reset replaces the queues.
  std::atomic<aPacketFifoID> inbound{0};
  std::atomic<aPacketFifoID> outbound{0};
  aPacket* assembling;
  pthread_t receiveThread;
  pthread_t sendThread;
  bool receiveStarted;
  bool sendStarted;
  aStream* stream;
  int syncState;
  uint8_t syncByte;
  std::atomic<aPacketLog*> log{nullptr};
  int32_t logSize;
  aMutex* logMutex;
  // Held around every call of the user filter, so that once a new filter is
  // installed the old one (and its reference) is no longer in use.
  pthread_mutex_t filterMutex;
  aPacketFilter filter;
  const void* filterReference;
  // Callers between resolving the identifier and leaving; teardown waits for
  // them before it frees the record.
  std::atomic<int32_t> users{0};
};

typedef struct _linkEntry {
  aLinkID id;
  uint32_t device;
  uint32_t port;
  linkType type;
  int16_t useCount;
  aLink* link;
  struct _linkEntry* next;
} _linkEntry;

static struct {
  _linkEntry* head;
  aLinkID next;
  pthread_mutex_t mutex;
} _links = {nullptr, 1, PTHREAD_MUTEX_INITIALIZER};

/* ---- table ---------------------------------------------------------------------- */

// Caller holds the table mutex.
static _linkEntry* sFindEntry(aLinkID id) {
  for (_linkEntry* entry = _links.head; entry != nullptr; entry = entry->next) {
    if (entry->id == id) {
      return entry;
    }
  }
  return nullptr;
}

// Resolves the identifier and counts the caller as a user; pair with sRelease.
static aLink* sAcquire(aLinkID id) {
  aLink* link = nullptr;
  pthread_mutex_lock(&_links.mutex);
  _linkEntry* entry = sFindEntry(id);
  if (entry != nullptr && entry->link != nullptr) {
    link = entry->link;
    link->users++;
  }
  pthread_mutex_unlock(&_links.mutex);
  return link;
}

static void sRelease(aLink* link) {
  link->users--;
}

/* ---- wire ----------------------------------------------------------------------- */

// Address, length and payload as they travel; answers the number of bytes.
static uint32_t sSerialForm(const aPacket* packet, uint8_t serial[aPACKET_MAX_SIZE]) {
  const uint8_t length = packet->length <= aPACKET_MAX_DATA ? packet->length : aPACKET_MAX_DATA;
  serial[0] = packet->address;
  serial[1] = length;
  memcpy(serial + 2, packet->data, length);
  return 2u + length;
}

static aErr sWritePacket(aStream* stream, const aPacket* packet) {
  uint8_t serial[aPACKET_MAX_SIZE];
  const uint32_t size = sSerialForm(packet, serial);
  return aStream_Write(stream, serial, size);
}

static aErr sQueueControl(aLink* link, uint8_t address, uint8_t length, const uint8_t* data) {
  aPacket* packet = aPacket_CreateWithData(address, length, data);
  if (packet == nullptr) {
    return aErrMemory;
  }
  const aErr result = aPacketFifo_Put(link->outbound, packet);
  aPacket_Destroy(&packet);
  return result;
}

static void sLogPacket(aLink* link, uint8_t direction, const aPacket* packet) {
  aPacketLog* log = link->log.load();
  if (log == nullptr) {
    return;
  }
  uint8_t serial[aPACKET_MAX_SIZE];
  const uint32_t size = sSerialForm(packet, serial);
  aMutex_Lock(link->logMutex);
  if (aPacketLog_IsEnabled(log)) {
    aPacketLog_Put(log, direction, size, serial);
  }
  aMutex_Unlock(link->logMutex);
}

/* ---- receive thread ------------------------------------------------------------- */

// The link whose worker runs on this thread, if any. A worker cannot join
// itself, so it may neither reset nor tear down its own link.
static thread_local const aLink* sWorkerOf = nullptr;

static void sStartSync(aLink* link) {
  aTime_MSSleep(aLINK_SYNC_PAUSE_MS);
  link->status = aLinkSyncing;
  link->syncState = syncWaiting;
  aPacket_Reset(link->assembling);
  if (aStream_Write(link->stream, sSyncRequest, sizeof(sSyncRequest)) == aErrNone) {
    link->syncState = syncExpectX;
  }
}

// The host is in step again once the module has answered X 00 X 00 with one
// even, non-zero X; anything else asks again.
static void sSyncByte(aLink* link, uint8_t byte) {
  switch (link->syncState) {
    case syncExpectX:
      if (byte != 0 && (byte & 1) == 0) {
        link->syncByte = byte;
        link->syncState = syncExpectFirstZero;
      } else {
        link->syncState = syncWaiting;
      }
      break;
    case syncExpectFirstZero:
      link->syncState = byte == 0 ? syncExpectXAgain : syncWaiting;
      break;
    case syncExpectXAgain:
      link->syncState = byte == link->syncByte ? syncExpectSecondZero : syncWaiting;
      break;
    case syncExpectSecondZero:
      if (byte == 0) {
        link->syncState = syncInStep;
        link->status = aLinkRunning;
      } else {
        link->syncState = syncWaiting;
      }
      break;
    default:
      sStartSync(link);
      break;
  }
}

static bool sOfferToUserFilter(aLink* link, const aPacket* packet) {
  pthread_mutex_lock(&link->filterMutex);
  const bool consumed = link->filter != nullptr && link->filter(packet, link->filterReference);
  pthread_mutex_unlock(&link->filterMutex);
  return consumed;
}

static aErr sHandlePacket(aLink* link) {
  aPacket* packet = link->assembling;
  if (!aPacket_IsComplete(packet)) {
    return aErrNone;
  }
  sLogPacket(link, aLINK_LOG_RECEIVED, packet);
  aErr result = aErrNone;
  if (sOfferToUserFilter(link, packet)) {
    // consumed by the filter
  } else if (packet->length == 2 && packet->data[0] == aLINK_HEARTBEAT_COMMAND) {
    const uint8_t answer[2] = {aLINK_HEARTBEAT_COMMAND,
                               static_cast<uint8_t>(packet->data[1] + aLINK_HEARTBEAT_STEP)};
    sQueueControl(link, packet->address, sizeof(answer), answer);
  } else {
    result = aPacketFifo_Put(link->inbound, packet);
  }
  aPacket_Reset(packet);
  return result;
}

static void sReceiveByte(aLink* link, uint8_t byte) {
  if (link->status == aLinkSyncing) {
    sSyncByte(link, byte);
  } else if (aPacket_AddByte(link->assembling, byte) != aErrNone) {
    sStartSync(link);
  } else if (sHandlePacket(link) != aErrNone) {
    link->status = aLinkError;
  }
}

// Nothing to read: a stalled partial packet or synchronisation answer asks
// the module again, otherwise poll on.
static void sIdle(aLink* link, uint64_t* lastByte) {
  const bool waiting = link->status == aLinkSyncing || link->assembling->received > 0;
  if (waiting && aTime_GetMSTicks() - *lastByte > aLINK_STALL_MS) {
    sStartSync(link);
    *lastByte = aTime_GetMSTicks();
  } else {
    usleep(aLINK_IDLE_READ_US);
  }
}

static void* sReceiveThread(void* argument) {
  aLink* link = static_cast<aLink*>(argument);
  sWorkerOf = link;
  link->syncState = syncInStep;
  // A link started without a stream must not look usable, not even briefly.
  link->status = link->stream != nullptr ? aLinkRunning : aLinkStreamError;
  uint64_t lastByte = aTime_GetMSTicks();
  while (link->running) {
    uint8_t byte = 0;
    const aErr read = aStream_Read(link->stream, &byte, 1);
    if (read == aErrNone) {
      lastByte = aTime_GetMSTicks();
      sReceiveByte(link, byte);
    } else if (read == aErrNotReady) {
      sIdle(link, &lastByte);
    } else {
      link->status = aLinkStreamError;
      aTime_MSSleep(aLINK_STREAM_ERROR_PAUSE_MS);
    }
  }
  return nullptr;
}

/* ---- send thread ---------------------------------------------------------------- */

static void* sSendThread(void* argument) {
  aLink* link = static_cast<aLink*>(argument);
  sWorkerOf = link;
  while (link->running) {
    aPacket* packet = aPacketFifo_Await(link->outbound, aLINK_SEND_POLL_MS);
    if (packet != nullptr) {
      sWritePacket(link->stream, packet);
      aTime_MSSleep(aLINK_SEND_PAUSE_MS);
      sLogPacket(link, aLINK_LOG_SENT, packet);
      aPacket_Destroy(&packet);
    }
  }
  return nullptr;
}

/* ---- start and stop ------------------------------------------------------------- */


static aErr sStart(aLink* link) {
  if (link->running) {
    return aErrNone;
  }
  link->running = true;
  link->status = aLinkStarting;
  link->receiveStarted = pthread_create(&link->receiveThread, nullptr, sReceiveThread, link) == 0;
  if (!link->receiveStarted) {
    return aErrResource;
  }
  link->sendStarted = pthread_create(&link->sendThread, nullptr, sSendThread, link) == 0;
  if (!link->sendStarted) {
    return aErrResource;
  }
  const uint8_t start = aLINK_CONTROL_START;
  return sQueueControl(link, aLINK_CONTROL_ADDRESS, 1, &start);
}

static aErr sStop(aLink* link) {
  if (link == nullptr) {
    return aErrParam;
  }
  const int32_t status = link->status;
  if (status == aLinkStopping || status == aLinkStopped) {
    return aErrNone;
  }
  link->status = aLinkStopping;
  link->running = false;
  aErr result = aErrNone;
  if (link->receiveStarted && pthread_join(link->receiveThread, nullptr) != 0) {
    result = aErrUnknown;
  }
  if (link->sendStarted && pthread_join(link->sendThread, nullptr) != 0) {
    result = aErrUnknown;
  }
  link->receiveStarted = false;
  link->sendStarted = false;

  // With both workers gone this thread is the stream's only writer: what callers
  // queued goes out first and the stop packet is the very last thing written.
  aPacket* packet;
  while ((packet = aPacketFifo_Get(link->outbound)) != nullptr) {
    sWritePacket(link->stream, packet);
    aPacket_Destroy(&packet);
  }
  const uint8_t stopPacket[3] = {aLINK_CONTROL_ADDRESS, 1, aLINK_CONTROL_STOP};
  aStream_Write(link->stream, stopPacket, sizeof(stopPacket));

  aPacket_Reset(link->assembling);
  link->syncState = syncInStep;
  link->status = aLinkStopped;
  return result;
}

/* ---- records -------------------------------------------------------------------- */

static aErr sOpenStream(const _linkEntry* entry, aStream** stream) {
  switch (entry->type) {
    case USB:
      return aStream_CreateUSB(entry->device, stream);
    case TCPIP:
      return aStream_CreateSocket(entry->device, static_cast<uint16_t>(entry->port), stream);
    default:
      return aErrParam;
  }
}

// Fresh queues and worker state around a (possibly missing) stream. The packet
// log and the user filter belong to the link, not to one stream, so they stay.
static void sInitRecord(aLink* link, aStream* stream) {
  link->running = false;
  link->status = stream != nullptr ? aLinkStopped : aLinkNoStream;
  link->receiveStarted = false;
  link->sendStarted = false;
  link->stream = stream;
  link->inbound = aPacketFifo_Create();
  link->outbound = aPacketFifo_Create();
  aPacket_Reset(link->assembling);
  link->syncState = syncInStep;
  link->syncByte = 0;
}

// Answers the result of releasing the outbound queue.
static aErr sReleaseQueuesAndStream(aLink* link) {
  aPacketFifoID inbound = link->inbound;
  aPacketFifoID outbound = link->outbound;
  if (inbound != 0) {
    aPacketFifo_Destroy(&inbound);
  }
  aErr result = aErrNone;
  if (outbound != 0) {
    result = aPacketFifo_Destroy(&outbound);
  }
  link->inbound = 0;
  link->outbound = 0;
  if (link->stream != nullptr) {
    aStream_Destroy(&link->stream);
  }
  return result;
}

static aLink* sNewRecord(aLinkID id) {
  aLink* link = new (std::nothrow) aLink{};
  if (link == nullptr) {
    return nullptr;
  }
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  // A filter may install another filter from inside its own call.
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  const bool locked = pthread_mutex_init(&link->filterMutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  link->assembling = locked ? aPacket_Create() : nullptr;
  if (link->assembling == nullptr) {
    if (locked) {
      pthread_mutex_destroy(&link->filterMutex);
    }
    delete link;
    return nullptr;
  }
  link->id = id;
  return link;
}

static aErr sTeardown(_linkEntry* entry) {
  aLink* link = entry->link;
  delete entry;
  if (link == nullptr) {
    return aErrUnknown;
  }
  sStop(link);
  // Releasing the queues wakes callers still waiting on them.
  const aErr result = sReleaseQueuesAndStream(link);
  while (link->users > 0) {
    aTime_MSSleep(1);
  }
  aPacketLog* log = link->log.load();
  if (log != nullptr) {
    aPacketLog_Destroy(&log);
  }
  if (link->logMutex != nullptr) {
    aMutex_Destroy(&link->logMutex);
  }
  aPacket_Destroy(&link->assembling);
  pthread_mutex_destroy(&link->filterMutex);
  delete link;
  return result;
}

// stream: for the caller's-stream type only; the other types open their own.
static aLinkID sCreate(linkType type, uint32_t device, uint32_t port, aStream* stream) {
  pthread_mutex_lock(&_links.mutex);
  if (type != aLINK_OWN_STREAM_TYPE) {
    // A USB serial number can equal an IPv4 address, so the type is part of the key.
    for (_linkEntry* entry = _links.head; entry != nullptr; entry = entry->next) {
      if (entry->type == type && entry->device == device) {
        entry->useCount++;
        const aLinkID id = entry->id;
        pthread_mutex_unlock(&_links.mutex);
        return id;
      }
    }
  }
  const aLinkID id = _links.next++;
  _linkEntry* entry = new (std::nothrow) _linkEntry{id, device, port, type, 0, nullptr, nullptr};
  aLink* link = entry != nullptr ? sNewRecord(id) : nullptr;
  if (link == nullptr) {
    pthread_mutex_unlock(&_links.mutex);
    delete entry;
    if (stream != nullptr) {
      aStream_Destroy(&stream);
    }
    return 0;
  }
  entry->link = link;
  if (type != aLINK_OWN_STREAM_TYPE) {
    sOpenStream(entry, &stream);
  }
  sInitRecord(link, stream);
  // A TCP/IP link starts even without a socket: it then reports a stream
  // error, which is how a caller learns that the module is unreachable.
  const bool usable = stream != nullptr || type == TCPIP;
  if (!usable || sStart(link) != aErrNone) {
    pthread_mutex_unlock(&_links.mutex);
    sTeardown(entry);
    return 0;
  }
  entry->useCount = 1;
  entry->next = _links.head;
  _links.head = entry;
  pthread_mutex_unlock(&_links.mutex);
  return id;
}

/* ---- public --------------------------------------------------------------------- */

aLinkID aLink_CreateUSB(uint32_t serialNumber) {
  return sCreate(USB, serialNumber, 0, nullptr);
}

aLinkID aLink_CreateTCPIP(uint32_t address, uint32_t port) {
  return sCreate(TCPIP, address, port & 0xFFFFu, nullptr);
}

aLinkID aLink_Create(aStream* stream) {
  if (stream == nullptr) {
    return 0;
  }
  return sCreate(aLINK_OWN_STREAM_TYPE, aLINK_OWN_STREAM_DEVICE, 0, stream);
}

aErr aLink_Destroy(aLinkID* id) {
  if (id == nullptr) {
    return aErrParam;
  }
  pthread_mutex_lock(&_links.mutex);
  _linkEntry* previous = nullptr;
  _linkEntry* entry = _links.head;
  while (entry != nullptr && entry->id != *id) {
    previous = entry;
    entry = entry->next;
  }
  if (entry != nullptr && entry->useCount <= 1 && entry->link != nullptr &&
      sWorkerOf == entry->link) {
    // Keeps the caller's identifier: the link can only be torn down from outside.
    pthread_mutex_unlock(&_links.mutex);
    return aErrBusy;
  }
  *id = 0;
  if (entry == nullptr) {
    pthread_mutex_unlock(&_links.mutex);
    return aErrParam;
  }
  if (--entry->useCount > 0) {
    pthread_mutex_unlock(&_links.mutex);
    return aErrNone;
  }
  if (previous == nullptr) {
    _links.head = entry->next;
  } else {
    previous->next = entry->next;
  }
  pthread_mutex_unlock(&_links.mutex);
  return sTeardown(entry);
}

aErr aLink_Reset(aLinkID id) {
  if (pthread_mutex_trylock(&_links.mutex) != 0) {
    return aErrBusy;
  }
  _linkEntry* entry = sFindEntry(id);
  // A caller's own stream cannot be reopened; refusing keeps that link working
  // instead of leaving it stopped without a stream.
  if (entry == nullptr || entry->link == nullptr ||
      (entry->type != USB && entry->type != TCPIP)) {
    pthread_mutex_unlock(&_links.mutex);
    return aErrParam;
  }
  aLink* link = entry->link;
  if (sWorkerOf == link) {
    pthread_mutex_unlock(&_links.mutex);
    return aErrBusy;
  }
  sStop(link);
  sReleaseQueuesAndStream(link);

  aStream* stream = nullptr;
  aErr result = aErrNone;
  for (int attempt = 0; attempt < aLINK_RESET_ATTEMPTS; attempt++) {
    result = sOpenStream(entry, &stream);
    if (stream != nullptr) {
      break;
    }
    aTime_MSSleep(aLINK_RESET_PAUSE_MS);
  }
  if (stream != nullptr) {
    sInitRecord(link, stream);
    result = sStart(link);
  }
  pthread_mutex_unlock(&_links.mutex);
  return result;
}

aLinkStatus aLink_GetStatus(aLinkID id) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return aLinkNoStream;
  }
  const aLinkStatus status = static_cast<aLinkStatus>(link->status.load());
  sRelease(link);
  return status;
}

aErr aLink_PutPacket(aLinkID id, const aPacket* packet) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return aErrParam;
  }
  aErr result;
  if (!aVALIDPACKET(packet) || packet->length > aPACKET_MAX_DATA) {
    // Over-long packets could not be framed by any module.
    result = aErrParam;
  } else if (link->status == aLinkStreamError) {
    // A stream that failed stays failed until a reset; queueing would only
    // make the caller wait for an answer that cannot come.
    result = aErrConnection;
  } else {
    result = aPacketFifo_Put(link->outbound, packet);
  }
  sRelease(link);
  return result;
}

aPacket* aLink_GetPacket(aLinkID id) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return nullptr;
  }
  aPacket* packet = aPacketFifo_Get(link->inbound);
  sRelease(link);
  return packet;
}

aPacket* aLink_AwaitPacket(aLinkID id, uint32_t msTimeout) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return nullptr;
  }
  aPacket* packet = aPacketFifo_Await(link->inbound, msTimeout);
  sRelease(link);
  return packet;
}

aPacket* aLink_GetFirst(aLinkID id, aPacketFilter filter, const void* reference) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return nullptr;
  }
  aPacket* packet = aPacketFifo_GetFirst(link->inbound, filter, reference);
  sRelease(link);
  return packet;
}

aPacket* aLink_AwaitFirst(aLinkID id, aPacketFilter filter, const void* reference,
                          uint32_t msTimeout) {
  if (filter == nullptr) {
    return nullptr;
  }
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return nullptr;
  }
  const uint64_t deadline = aTime_GetMSTicks() + msTimeout;
  aPacket* packet = nullptr;
  while (packet == nullptr && link->running && link->status == aLinkRunning) {
    const uint64_t now = aTime_GetMSTicks();
    if (now > deadline) {
      break;
    }
    const uint64_t remaining = deadline - now;
    const uint32_t slice =
        static_cast<uint32_t>(remaining < aLINK_AWAIT_SLICE_MS ? remaining : aLINK_AWAIT_SLICE_MS);
    packet = aPacketFifo_AwaitFirst(link->inbound, filter, reference, slice);
    if (remaining == 0) {
      break;
    }
  }
  sRelease(link);
  return packet;
}

uint32_t aLink_DrainPackets(aLinkID id, aPacketFilter filter, const void* reference) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return 0;
  }
  const uint32_t removed = aPacketFifo_DrainPackets(link->inbound, filter, reference);
  sRelease(link);
  return removed;
}

aErr aLink_InstallUserPacketFilter(aLinkID id, aPacketFilter filter, const void* reference) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return aErrParam;
  }
  pthread_mutex_lock(&link->filterMutex);
  link->filter = filter;
  link->filterReference = filter != nullptr ? reference : nullptr;
  pthread_mutex_unlock(&link->filterMutex);
  sRelease(link);
  return aErrNone;
}

/* ---- packet debug log ------------------------------------------------------------ */

aErr aLink_PacketDebug_SetLogSize(aLinkID id, int32_t size) {
  if (size > aPACKETLOG_MAX_SIZE) {
    return aErrParam;
  }
  // Under the table mutex, like the enable that reads the size.
  pthread_mutex_lock(&_links.mutex);
  _linkEntry* entry = sFindEntry(id);
  aLink* link = entry != nullptr ? entry->link : nullptr;
  aErr result = aErrParam;
  if (link != nullptr) {
    result = aErrBusy;
    if (link->log.load() == nullptr) {
      link->logSize = size < 0 ? 0 : size;
      result = aErrNone;
    }
  }
  pthread_mutex_unlock(&_links.mutex);
  return result;
}

aErr aLink_PacketDebug_Enable(aLinkID id) {
  // Held throughout, so that two callers enabling at once make one log.
  pthread_mutex_lock(&_links.mutex);
  _linkEntry* entry = sFindEntry(id);
  aLink* link = entry != nullptr ? entry->link : nullptr;
  aErr result = link != nullptr ? aErrNone : aErrParam;
  if (link != nullptr && link->log.load() == nullptr) {
    char name[64];
    snprintf(name, sizeof(name), "LOG_SEMA_%p", static_cast<void*>(link));
    aMutex* mutex = aMutex_Create(name);
    aPacketLog* log = mutex != nullptr ? aPacketLog_Create(static_cast<uint32_t>(link->logSize))
                                       : nullptr;
    if (log == nullptr) {
      if (mutex != nullptr) {
        aMutex_Destroy(&mutex);
      }
      result = aErrResource;
    } else {
      link->logMutex = mutex;
      link->log.store(log);
    }
  }
  if (result == aErrNone) {
    aMutex_Lock(link->logMutex);
    aPacketLog_SetEnabled(link->log.load(), true);
    aMutex_Unlock(link->logMutex);
  }
  pthread_mutex_unlock(&_links.mutex);
  return result;
}

// Runs one ring operation under the log mutex; aErrNotReady without a log.
template <typename Operation>
static aErr sWithLog(aLinkID id, Operation operation) {
  aLink* link = sAcquire(id);
  if (link == nullptr) {
    return aErrParam;
  }
  aPacketLog* log = link->log.load();
  aErr result = aErrNotReady;
  if (log != nullptr) {
    aMutex_Lock(link->logMutex);
    result = operation(log);
    aMutex_Unlock(link->logMutex);
  }
  sRelease(link);
  return result;
}

aErr aLink_PacketDebug_Disable(aLinkID id) {
  return sWithLog(id, [](aPacketLog* log) {
    aPacketLog_SetEnabled(log, false);
    return aErrNone;
  });
}

aErr aLink_PacketDebug_Write(aLinkID id, uint8_t direction, uint32_t length,
                             const uint8_t* bytes) {
  return sWithLog(id, [&](aPacketLog* log) {
    return aPacketLog_Put(log, direction, length, bytes);
  });
}

aErr aLink_PacketDebug_Read(aLinkID id, uint8_t* direction, uint32_t* length, uint8_t* buffer) {
  return sWithLog(id, [&](aPacketLog* log) {
    return aPacketLog_Get(log, direction, length, buffer);
  });
}
