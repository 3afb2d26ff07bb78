#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "aPacketFifo.h"

namespace {

// Owns one queue for a test and releases it afterwards.
struct Fifo {
  aPacketFifoID id = aPacketFifo_Create();
  ~Fifo() {
    if (id != 0) aPacketFifo_Destroy(&id);
  }
};

aPacket* packetFrom(uint8_t address, uint8_t tag) {
  return aPacket_CreateWithData(address, 1, &tag);
}

void put(aPacketFifoID id, uint8_t address, uint8_t tag) {
  aPacket* packet = packetFrom(address, tag);
  ASSERT_EQ(aPacketFifo_Put(id, packet), aErrNone);
  aPacket_Destroy(&packet);
}

// Takes the packet and answers its tag, or -1 for none.
int tagOf(aPacket* packet) {
  if (packet == nullptr) return -1;
  const int tag = packet->data[0];
  aPacket_Destroy(&packet);
  return tag;
}

std::vector<int> drainTags(aPacketFifoID id) {
  std::vector<int> tags;
  for (aPacket* p = aPacketFifo_Get(id); p != nullptr; p = aPacketFifo_Get(id)) {
    tags.push_back(tagOf(p));
  }
  return tags;
}

bool tagIn(const aPacket* packet, const void* reference) {
  const auto* wanted = static_cast<const std::vector<int>*>(reference);
  for (int tag : *wanted) {
    if (packet->data[0] == tag) return true;
  }
  return false;
}

bool addressIs(const aPacket* packet, const void* reference) {
  return packet->address == *static_cast<const uint8_t*>(reference);
}

TEST(PacketFifo, KeepsOrderAndHandsOutFullCopies) {
  Fifo fifo;
  aPacket* original = aPacket_CreateWithData(8, 3, (const uint8_t*)"\x01\x02\x03");
  ASSERT_EQ(aPacketFifo_Put(fifo.id, original), aErrNone);
  original->data[0] = 0x55;  // the queue must hold its own copy
  put(fifo.id, 8, 9);
  EXPECT_EQ(aPacketFifo_GetLength(fifo.id), 2u);

  aPacket* first = aPacketFifo_Get(fifo.id);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->address, 8);
  EXPECT_EQ(first->length, 3);
  EXPECT_EQ(first->data[0], 1);
  EXPECT_TRUE(aPacket_IsComplete(first));
  aPacket_Destroy(&first);
  aPacket_Destroy(&original);
  EXPECT_EQ(tagOf(aPacketFifo_Get(fifo.id)), 9);
  EXPECT_EQ(aPacketFifo_Get(fifo.id), nullptr);
}

TEST(PacketFifo, TwentyOneUnreadPacketsEmptyTheQueue) {
  Fifo fifo;
  for (int i = 0; i < aPACKETFIFO_CAPACITY; i++) put(fifo.id, 2, i);
  EXPECT_EQ(aPacketFifo_GetLength(fifo.id), 20u);
  aPacket* extra = packetFrom(2, 99);
  EXPECT_EQ(aPacketFifo_Put(fifo.id, extra), aErrNone);
  aPacket_Destroy(&extra);
  EXPECT_EQ(aPacketFifo_GetLength(fifo.id), 0u);
  put(fifo.id, 2, 7);
  EXPECT_EQ(drainTags(fifo.id), std::vector<int>{7});
}

TEST(PacketFifo, RefusesInvalidPackets) {
  Fifo fifo;
  aPacket* packet = packetFrom(2, 1);
  packet->check = 0;
  EXPECT_EQ(aPacketFifo_Put(fifo.id, packet), aErrParam);
  EXPECT_EQ(aPacketFifo_Put(fifo.id, nullptr), aErrParam);
  packet->check = aPACKET_CHECK;
  aPacket_Destroy(&packet);
  EXPECT_EQ(aPacketFifo_GetLength(fifo.id), 0u);
}

TEST(PacketFifo, FilteredTakeAndDrainKeepTheRestInOrder) {
  struct Case {
    std::vector<int> selected;
    int firstTaken;
    uint32_t drained;
    std::vector<int> left;
  };
  const Case cases[] = {
      {{3}, 3, 1, {1, 2, 4, 5}},
      {{1, 3, 5}, 1, 3, {2, 4}},
      {{5}, 5, 1, {1, 2, 3, 4}},
      {{6}, -1, 0, {1, 2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    Fifo take;
    Fifo drain;
    for (int tag = 1; tag <= 5; tag++) {
      put(take.id, 2, tag);
      put(drain.id, 2, tag);
    }
    EXPECT_EQ(tagOf(aPacketFifo_GetFirst(take.id, tagIn, &c.selected)), c.firstTaken);
    EXPECT_EQ(aPacketFifo_DrainPackets(drain.id, tagIn, &c.selected), c.drained);
    EXPECT_EQ(drainTags(drain.id), c.left);
    // The queue must still link up after the removal: a new packet lands last.
    put(take.id, 2, 9);
    std::vector<int> rest = drainTags(take.id);
    EXPECT_EQ(rest.back(), 9);
    EXPECT_EQ(rest.size(), c.firstTaken < 0 ? 6u : 5u);
  }
}

TEST(PacketFifo, DrainAllEmptiesAndCounts) {
  Fifo fifo;
  for (int tag = 0; tag < 7; tag++) put(fifo.id, 2, tag);
  EXPECT_EQ(aPacketFifo_DrainPackets(fifo.id, drainAll, nullptr), 7u);
  EXPECT_EQ(aPacketFifo_GetLength(fifo.id), 0u);
  EXPECT_EQ(aPacketFifo_DrainPackets(fifo.id, drainAll, nullptr), 0u);
}

TEST(PacketFifo, DestroyedIdentifierNamesNothing) {
  aPacketFifoID id = aPacketFifo_Create();
  ASSERT_NE(id, 0u);
  put(id, 2, 1);
  const aPacketFifoID old = id;
  EXPECT_EQ(aPacketFifo_Destroy(&id), aErrNone);
  EXPECT_EQ(id, 0u);

  aPacket* packet = packetFrom(2, 1);
  EXPECT_EQ(aPacketFifo_Put(old, packet), aErrParam);
  aPacket_Destroy(&packet);
  EXPECT_EQ(aPacketFifo_Get(old), nullptr);
  EXPECT_EQ(aPacketFifo_Await(old, 10), nullptr);
  EXPECT_EQ(aPacketFifo_GetLength(old), 0u);
  EXPECT_EQ(aPacketFifo_DrainPackets(old, drainAll, nullptr), 0u);
  aPacketFifoID again = old;
  EXPECT_EQ(aPacketFifo_Destroy(&again), aErrNotFound);
  EXPECT_EQ(aPacketFifo_Destroy(nullptr), aErrParam);

  // Identifiers are never reused.
  Fifo next;
  EXPECT_GT(next.id, old);
}

TEST(PacketFifo, AwaitTimesOutOrTakesALaterPut) {
  Fifo fifo;
  EXPECT_EQ(aPacketFifo_Await(fifo.id, 0), nullptr);
  EXPECT_EQ(aPacketFifo_Await(fifo.id, 30), nullptr);

  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    put(fifo.id, 2, 42);
  });
  EXPECT_EQ(tagOf(aPacketFifo_Await(fifo.id, 10000)), 42);
  producer.join();
}

TEST(PacketFifo, AwaitFirstTakesALaterMatchAndLeavesTheOthers) {
  Fifo fifo;
  put(fifo.id, 4, 1);
  put(fifo.id, 4, 2);
  const uint8_t wanted = 6;
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    put(fifo.id, 6, 3);
  });
  EXPECT_EQ(tagOf(aPacketFifo_AwaitFirst(fifo.id, addressIs, &wanted, 10000)), 3);
  producer.join();
  EXPECT_EQ(drainTags(fifo.id), (std::vector<int>{1, 2}));
}

// A waiter whose filter passes over the queued packets must sleep until a new
// packet arrives rather than scan the same packets again and again.
TEST(PacketFifo, AwaitFirstDoesNotRescanUnchangedQueue) {
  Fifo fifo;
  put(fifo.id, 4, 1);
  std::atomic<int> calls{0};
  auto counting = [](const aPacket*, const void* reference) {
    (*static_cast<std::atomic<int>*>(const_cast<void*>(reference)))++;
    return false;
  };
  EXPECT_EQ(aPacketFifo_AwaitFirst(fifo.id, counting, &calls, 100), nullptr);
  EXPECT_LE(calls.load(), 3);
  EXPECT_EQ(aPacketFifo_GetLength(fifo.id), 1u);
}

// Several waiters with different filters: each put must reach the waiter it is
// for, even when another waiter is asleep on the same queue.
TEST(PacketFifo, ManyFilteredWaitersEachGetTheirOwnPackets) {
  Fifo fifo;
  constexpr int kConsumers = 4;
  constexpr int kPerConsumer = 200;
  std::vector<std::vector<int>> received(kConsumers);
  std::atomic<int> stalls{0};
  std::vector<std::thread> consumers;
  static const uint8_t addresses[kConsumers] = {2, 4, 6, 8};
  for (int c = 0; c < kConsumers; c++) {
    consumers.emplace_back([&, c] {
      while (received[c].size() < kPerConsumer) {
        const auto start = std::chrono::steady_clock::now();
        int tag = tagOf(aPacketFifo_AwaitFirst(fifo.id, addressIs, &addresses[c], 5000));
        // Seconds without a packet while the producer keeps the queue busy
        // means a put's wake-up went to another waiter and this one slept on.
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(2)) stalls++;
        if (tag < 0) return;
        received[c].push_back(tag);
      }
    });
  }
  for (int i = 0; i < kPerConsumer; i++) {
    for (int c = 0; c < kConsumers; c++) {
      // Stay below the overflow limit so no packet is discarded.
      while (aPacketFifo_GetLength(fifo.id) > 10) std::this_thread::yield();
      put(fifo.id, addresses[c], i & 0xFF);
    }
  }
  for (auto& t : consumers) t.join();
  EXPECT_EQ(stalls.load(), 0);
  for (int c = 0; c < kConsumers; c++) {
    ASSERT_EQ(received[c].size(), size_t(kPerConsumer)) << "consumer " << c;
    for (int i = 0; i < kPerConsumer; i++) EXPECT_EQ(received[c][i], i & 0xFF);
  }
}

TEST(PacketFifo, DestroyWakesEveryWaiter) {
  aPacketFifoID id = aPacketFifo_Create();
  constexpr int kWaiters = 8;
  std::atomic<int> returned{0};
  std::atomic<int> gotPacket{0};
  const uint8_t never = 254;
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; i++) {
    waiters.emplace_back([&, i] {
      aPacket* packet = (i % 2 == 0) ? aPacketFifo_Await(id, 60000)
                                     : aPacketFifo_AwaitFirst(id, addressIs, &never, 60000);
      if (packet != nullptr) gotPacket++;
      aPacket_Destroy(&packet);
      returned++;
    });
  }
  // Give the waiters time to block; correctness does not depend on it.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  put(id, 2, 1);  // one unfiltered waiter may take this
  aPacketFifoID doomed = id;
  EXPECT_EQ(aPacketFifo_Destroy(&doomed), aErrNone);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(returned.load(), kWaiters);
  EXPECT_LE(gotPacket.load(), 1);
}

TEST(PacketFifo, ConcurrentProducersAndConsumersLoseNothingBelowCapacity) {
  Fifo fifo;
  constexpr int kProducers = 3;
  constexpr int kEach = 500;
  std::atomic<int> taken{0};
  std::atomic<bool> producing{true};
  std::vector<std::thread> threads;
  for (int c = 0; c < 3; c++) {
    threads.emplace_back([&] {
      while (producing || aPacketFifo_GetLength(fifo.id) > 0) {
        aPacket* p = aPacketFifo_Await(fifo.id, 5);
        if (p != nullptr) taken++;
        aPacket_Destroy(&p);
      }
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&] {
      for (int i = 0; i < kEach; i++) {
        while (aPacketFifo_GetLength(fifo.id) > 5) std::this_thread::yield();
        put(fifo.id, 2, i & 0xFF);
      }
    });
  }
  for (auto& t : producers) t.join();
  producing = false;
  for (auto& t : threads) t.join();
  EXPECT_EQ(taken.load(), kProducers * kEach);
}

}  // namespace
