#include "aPacketFifo.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <new>

#define aFIFOCHECK 0xFEED
#define aVALIDFIFO(f) ((f) != nullptr && (f)->check == aFIFOCHECK)

typedef struct fifoNode {
  aPacket* packet;
  struct fifoNode* next;
} fifoNode;

typedef struct packetFifo {
  fifoNode* head;
  fifoNode* tail;
  // -1 once the queue is closed by destroy.
  int64_t count;
  // Callers between their registry lookup and their release. Destroy frees the
  // record only when the last of them has left, so a woken waiter never touches
  // freed memory.
  std::atomic<int32_t> users{0};
  pthread_cond_t condition;
  pthread_mutex_t mutex;
  uint16_t check;
} packetFifo;

typedef struct fifoEntry {
  aPacketFifoID id;
  packetFifo* fifo;
  struct fifoEntry* next;
} fifoEntry;

static pthread_mutex_t gpFifo = PTHREAD_MUTEX_INITIALIZER;
static fifoEntry* gpHead = nullptr;
static fifoEntry* gpTail = nullptr;
static aPacketFifoID gpCount = 1;

bool drainAll(const aPacket*, const void*) {
  return true;
}

// Deadlines run on the monotonic clock so that a change of the wall clock can
// neither cut a wait short nor stretch it.
static struct timespec sDeadline(uint32_t msTimeout) {
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += msTimeout / 1000;
  deadline.tv_nsec += static_cast<long>(msTimeout % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

static bool sPassed(const struct timespec* deadline) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > deadline->tv_sec ||
         (now.tv_sec == deadline->tv_sec && now.tv_nsec >= deadline->tv_nsec);
}

// Finds the queue and registers the caller as a user of it; every successful
// acquire is paired with sRelease.
static packetFifo* sAcquire(aPacketFifoID id) {
  packetFifo* fifo = nullptr;
  pthread_mutex_lock(&gpFifo);
  for (fifoEntry* entry = gpHead; entry != nullptr; entry = entry->next) {
    if (entry->id == id) {
      if (aVALIDFIFO(entry->fifo)) {
        fifo = entry->fifo;
        fifo->users++;
      }
      break;
    }
  }
  pthread_mutex_unlock(&gpFifo);
  return fifo;
}

static void sRelease(packetFifo* fifo) {
  pthread_mutex_lock(&fifo->mutex);
  fifo->users--;
  if (fifo->count < 0) {
    // Destroy waits on the same condition for the users to leave.
    pthread_cond_broadcast(&fifo->condition);
  }
  pthread_mutex_unlock(&fifo->mutex);
}

// Unlinks and frees every node the filter selects; the caller holds the mutex.
static uint32_t sDrainLocked(packetFifo* fifo, aPacketFilter filter, const void* reference) {
  uint32_t removed = 0;
  fifoNode* kept = nullptr;
  fifoNode* node = fifo->head;
  while (node != nullptr) {
    fifoNode* next = node->next;
    if (filter(node->packet, reference)) {
      if (kept == nullptr) {
        fifo->head = next;
      } else {
        kept->next = next;
      }
      if (fifo->tail == node) {
        fifo->tail = kept;
      }
      aPacket_Destroy(&node->packet);
      free(node);
      fifo->count--;
      removed++;
    } else {
      kept = node;
    }
    node = next;
  }
  return removed;
}

// Unlinks the oldest node the filter selects; the caller holds the mutex.
static fifoNode* sTakeLocked(packetFifo* fifo, aPacketFilter filter, const void* reference) {
  fifoNode* previous = nullptr;
  for (fifoNode* node = fifo->head; node != nullptr; previous = node, node = node->next) {
    if (filter(node->packet, reference)) {
      if (previous == nullptr) {
        fifo->head = node->next;
      } else {
        previous->next = node->next;
      }
      if (fifo->tail == node) {
        fifo->tail = previous;
      }
      fifo->count--;
      return node;
    }
  }
  return nullptr;
}

// The one read path: takes the oldest selected packet, waiting up to the
// time-out for puts. Every put wakes all waiters, so a waiter whose filter
// passes over the queued packets sleeps until something new arrives instead of
// spinning over the same packets.
static aPacket* sTake(aPacketFifoID id, aPacketFilter filter, const void* reference,
                      uint32_t msTimeout) {
  if (filter == nullptr) {
    return nullptr;
  }
  packetFifo* fifo = sAcquire(id);
  if (fifo == nullptr) {
    return nullptr;
  }
  const struct timespec deadline = sDeadline(msTimeout);
  fifoNode* node = nullptr;
  pthread_mutex_lock(&fifo->mutex);
  while (fifo->count >= 0) {
    node = sTakeLocked(fifo, filter, reference);
    if (node != nullptr || msTimeout == 0 || sPassed(&deadline)) {
      break;
    }
    if (pthread_cond_timedwait(&fifo->condition, &fifo->mutex, &deadline) == ETIMEDOUT) {
      // One last look: a put may have landed together with the time-out.
      if (fifo->count >= 0) {
        node = sTakeLocked(fifo, filter, reference);
      }
      break;
    }
  }
  pthread_mutex_unlock(&fifo->mutex);
  sRelease(fifo);

  aPacket* packet = nullptr;
  if (node != nullptr) {
    packet = node->packet;
    free(node);
  }
  return packet;
}

aPacketFifoID aPacketFifo_Create(void) {
  packetFifo* fifo = new (std::nothrow) packetFifo{};
  fifoEntry* entry = new (std::nothrow) fifoEntry{};
  pthread_condattr_t attributes;
  bool made = fifo != nullptr && entry != nullptr && pthread_condattr_init(&attributes) == 0;
  if (made) {
    made = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
           pthread_cond_init(&fifo->condition, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
  }
  if (made && pthread_mutex_init(&fifo->mutex, nullptr) != 0) {
    pthread_cond_destroy(&fifo->condition);
    made = false;
  }
  if (!made) {
    delete fifo;
    delete entry;
    return 0;
  }
  fifo->check = aFIFOCHECK;
  entry->fifo = fifo;

  pthread_mutex_lock(&gpFifo);
  entry->id = gpCount++;
  if (gpTail == nullptr) {
    gpHead = entry;
  } else {
    gpTail->next = entry;
  }
  gpTail = entry;
  pthread_mutex_unlock(&gpFifo);
  return entry->id;
}

aErr aPacketFifo_Destroy(aPacketFifoID* id) {
  if (id == nullptr) {
    return aErrParam;
  }
  fifoEntry* found = nullptr;
  pthread_mutex_lock(&gpFifo);
  fifoEntry* previous = nullptr;
  for (fifoEntry* entry = gpHead; entry != nullptr; previous = entry, entry = entry->next) {
    if (entry->id == *id) {
      found = entry;
      if (previous == nullptr) {
        gpHead = entry->next;
      } else {
        previous->next = entry->next;
      }
      if (gpTail == entry) {
        gpTail = previous;
      }
      break;
    }
  }
  pthread_mutex_unlock(&gpFifo);
  if (found == nullptr) {
    return aErrNotFound;
  }

  // No new user can find the queue now; close it, wake the waiters and wait
  // until every caller still inside has left.
  packetFifo* fifo = found->fifo;
  delete found;
  pthread_mutex_lock(&fifo->mutex);
  sDrainLocked(fifo, drainAll, nullptr);
  fifo->count = -1;
  fifo->check = 0;
  pthread_cond_broadcast(&fifo->condition);
  while (fifo->users > 0) {
    pthread_cond_wait(&fifo->condition, &fifo->mutex);
  }
  pthread_mutex_unlock(&fifo->mutex);
  pthread_cond_destroy(&fifo->condition);
  pthread_mutex_destroy(&fifo->mutex);
  delete fifo;
  *id = 0;
  return aErrNone;
}

uint32_t aPacketFifo_GetLength(aPacketFifoID id) {
  packetFifo* fifo = sAcquire(id);
  if (fifo == nullptr) {
    return 0;
  }
  pthread_mutex_lock(&fifo->mutex);
  const int64_t count = fifo->count;
  pthread_mutex_unlock(&fifo->mutex);
  sRelease(fifo);
  return count > 0 ? static_cast<uint32_t>(count) : 0;
}

aErr aPacketFifo_Put(aPacketFifoID id, const aPacket* packet) {
  if (!aVALIDPACKET(packet)) {
    return aErrParam;
  }
  packetFifo* fifo = sAcquire(id);
  if (fifo == nullptr) {
    return aErrParam;
  }
  fifoNode* node = static_cast<fifoNode*>(malloc(sizeof(fifoNode)));
  aPacket* copy = aPacket_Create();
  if (node == nullptr || copy == nullptr) {
    free(node);
    free(copy);
    sRelease(fifo);
    return aErrResource;
  }
  *copy = *packet;
  node->packet = copy;
  node->next = nullptr;

  aErr result = aErrNone;
  pthread_mutex_lock(&fifo->mutex);
  if (fifo->count < 0) {
    result = aErrCancel;
  } else {
    if (fifo->tail == nullptr) {
      fifo->head = node;
    } else {
      fifo->tail->next = node;
    }
    fifo->tail = node;
    node = nullptr;
    fifo->count++;
    // A reader that nobody serves must not make the queue grow without bound.
    if (fifo->count > aPACKETFIFO_CAPACITY) {
      sDrainLocked(fifo, drainAll, nullptr);
    }
    pthread_cond_broadcast(&fifo->condition);
  }
  pthread_mutex_unlock(&fifo->mutex);
  sRelease(fifo);
  if (node != nullptr) {
    aPacket_Destroy(&node->packet);
    free(node);
  }
  return result;
}

aPacket* aPacketFifo_Get(aPacketFifoID id) {
  return sTake(id, drainAll, nullptr, 0);
}

aPacket* aPacketFifo_Await(aPacketFifoID id, uint32_t msTimeout) {
  return sTake(id, drainAll, nullptr, msTimeout);
}

aPacket* aPacketFifo_GetFirst(aPacketFifoID id, aPacketFilter filter, const void* reference) {
  return sTake(id, filter, reference, 0);
}

aPacket* aPacketFifo_AwaitFirst(aPacketFifoID id, aPacketFilter filter, const void* reference,
                                uint32_t msTimeout) {
  return sTake(id, filter, reference, msTimeout);
}

uint32_t aPacketFifo_DrainPackets(aPacketFifoID id, aPacketFilter filter, const void* reference) {
  if (filter == nullptr) {
    return 0;
  }
  packetFifo* fifo = sAcquire(id);
  if (fifo == nullptr) {
    return 0;
  }
  uint32_t removed = 0;
  pthread_mutex_lock(&fifo->mutex);
  if (fifo->count > 0) {
    removed = sDrainLocked(fifo, filter, reference);
  }
  pthread_mutex_unlock(&fifo->mutex);
  sRelease(fifo);
  return removed;
}
