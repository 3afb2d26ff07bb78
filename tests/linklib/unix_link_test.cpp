#include <gtest/gtest.h>

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "ScriptedModulePeer.h"
#include "aLink.h"
#include "aStream.h"

namespace {

using Bytes = ScriptedModulePeer::Bytes;
using Clock = std::chrono::steady_clock;

const Bytes kStart = {0xAF, 0x01, 0x01};
const Bytes kStop = {0xAF, 0x01, 0x00};
const Bytes kSyncRequest = {0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0};

// Links are shared by address, so every test talks to a module of its own.
std::string nextLoopbackAddress() {
  static int host = 20;
  return "127.0.0." + std::to_string(host++);
}

bool waitForStatus(aLinkID id, aLinkStatus wanted, int timeoutMs = 5000) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    if (aLink_GetStatus(id) == wanted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return aLink_GetStatus(id) == wanted;
}

bool fromAddress(const aPacket* packet, const void* reference) {
  return packet->address == *static_cast<const uint8_t*>(reference);
}

bool anyPacket(const aPacket*, const void*) { return true; }

Bytes payloadOf(aPacket* packet) {
  if (packet == nullptr) return {};
  Bytes bytes = {packet->address, packet->length};
  bytes.insert(bytes.end(), packet->data, packet->data + packet->length);
  aPacket_Destroy(&packet);
  return bytes;
}

aErr putPacket(aLinkID id, uint8_t address, const Bytes& payload) {
  aPacket* packet = aPacket_CreateWithData(address, uint8_t(payload.size()), payload.data());
  const aErr result = aLink_PutPacket(id, packet);
  aPacket_Destroy(&packet);
  return result;
}

// A running TCP/IP link to a scripted module that has seen the start packet.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_unique<ScriptedModulePeer>(nextLoopbackAddress());
    id = aLink_CreateTCPIP(peer->address(), peer->port());
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(peer->accept());
    ASSERT_EQ(peer->take(kStart.size()), kStart);
    ASSERT_TRUE(waitForStatus(id, aLinkRunning));
  }

  void TearDown() override {
    if (id != 0) aLink_Destroy(&id);
  }

  // Garbage has made the host ask for synchronisation; answer it.
  void resynchronise() {
    ASSERT_EQ(peer->take(kSyncRequest.size()), kSyncRequest);
    ASSERT_EQ(aLink_GetStatus(id), aLinkSyncing);
    peer->send({0x08, 0x00, 0x08, 0x00});
    ASSERT_TRUE(waitForStatus(id, aLinkRunning));
  }

  std::unique_ptr<ScriptedModulePeer> peer;
  aLinkID id = 0;
};

TEST_F(LinkTest, QueuedPacketsGoOutBeforeTheStopPacket) {
  ASSERT_EQ(putPacket(id, 0x08, {0x11, 0x22}), aErrNone);
  EXPECT_EQ(peer->take(4), (Bytes{0x08, 0x02, 0x11, 0x22}));

  ASSERT_EQ(putPacket(id, 0x0A, {0x33}), aErrNone);
  ASSERT_EQ(aLink_Destroy(&id), aErrNone);
  EXPECT_EQ(id, 0u);
  const Bytes tail = peer->takeUntilClosed();
  ASSERT_GE(tail.size(), kStop.size());
  EXPECT_EQ(Bytes(tail.end() - 3, tail.end()), kStop);
  EXPECT_EQ(tail, (Bytes{0x0A, 0x01, 0x33, 0xAF, 0x01, 0x00}));
}

TEST_F(LinkTest, RefusesPacketsNoModuleCouldFrame) {
  const uint8_t payload[aPACKET_MAX_DATA] = {0};
  aPacket* packet = aPacket_CreateWithData(0x08, aPACKET_MAX_DATA, payload);
  packet->length = aPACKET_MAX_DATA + 1;
  EXPECT_EQ(aLink_PutPacket(id, packet), aErrParam);
  packet->length = aPACKET_MAX_DATA;
  packet->check = 0;
  EXPECT_EQ(aLink_PutPacket(id, packet), aErrParam);
  EXPECT_EQ(aLink_PutPacket(id, nullptr), aErrParam);
  packet->check = aPACKET_CHECK;
  EXPECT_EQ(aLink_PutPacket(id, packet), aErrNone);
  aPacket_Destroy(&packet);
  EXPECT_EQ(peer->take(2 + aPACKET_MAX_DATA).size(), 2u + aPACKET_MAX_DATA);
  EXPECT_TRUE(peer->takeWithin(20).empty());
}

TEST_F(LinkTest, HeartbeatsAreAnsweredAndNeverQueued) {
  const struct {
    uint8_t value;
    uint8_t answer;
  } beats[] = {{0x01, 0x03}, {0x02, 0x04}, {0xFE, 0x00}, {0xFF, 0x01}};
  for (const auto& beat : beats) {
    peer->send({0x06, 0x02, 0x00, beat.value});
    EXPECT_EQ(peer->take(4), (Bytes{0x06, 0x02, 0x00, beat.answer}));
  }
  peer->send({0x06, 0x02, 0x01, 0x00});  // not a heartbeat: command 1
  EXPECT_EQ(payloadOf(aLink_AwaitFirst(id, anyPacket, nullptr, 5000)),
            (Bytes{0x06, 0x02, 0x01, 0x00}));
  EXPECT_EQ(aLink_GetPacket(id), nullptr);
}

TEST_F(LinkTest, FilteredWaitPicksItsAnswerAndLeavesTheRest) {
  peer->send({0x04, 0x01, 0x41, 0x08, 0x01, 0x42, 0x04, 0x00, 0x04, 0x00, 0x0C, 0x00});
  const uint8_t wanted = 0x08;
  EXPECT_EQ(payloadOf(aLink_AwaitFirst(id, fromAddress, &wanted, 5000)),
            (Bytes{0x08, 0x01, 0x42}));
  // Once the last packet is in, all before it are queued too.
  const uint8_t last = 0x0C;
  EXPECT_EQ(payloadOf(aLink_AwaitFirst(id, fromAddress, &last, 5000)), (Bytes{0x0C, 0x00}));
  EXPECT_EQ(payloadOf(aLink_GetPacket(id)), (Bytes{0x04, 0x01, 0x41}));
  const uint8_t four = 0x04;
  EXPECT_EQ(aLink_DrainPackets(id, fromAddress, &four), 2u);
  EXPECT_EQ(aLink_GetFirst(id, anyPacket, nullptr), nullptr);
}

// Each kind of framing error must make the host ask for synchronisation, and
// nothing of the broken bytes may ever reach a caller.
TEST_F(LinkTest, GarbageResynchronisesAndNeverReachesCallers) {
  const struct {
    const char* what;
    Bytes garbage;
  } cases[] = {
      {"odd address", {0x05}},
      {"address query echoed", {0xAD}},
      {"zero address", {0x00}},
      {"length above 28", {0x08, 0x1D}},
      {"truncated packet", {0x08, 0x03, 0x01}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    peer->send(c.garbage);
    ASSERT_EQ(peer->take(kSyncRequest.size()), kSyncRequest);
    EXPECT_EQ(aLink_GetStatus(id), aLinkSyncing);
    // While out of step a receive answers at once instead of waiting out its time.
    const auto start = Clock::now();
    EXPECT_EQ(aLink_AwaitFirst(id, anyPacket, nullptr, 30000), nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));

    peer->send({0x08, 0x00, 0x08, 0x00});
    ASSERT_TRUE(waitForStatus(id, aLinkRunning));
    // A slow answer may have crossed a repeated request; start the next case clean.
    for (Bytes rest = peer->takeWithin(20); !rest.empty(); rest = peer->takeWithin(20)) {
      EXPECT_EQ(rest.size() % kSyncRequest.size(), 0u);
    }
    peer->send({0x0C, 0x01, 0x77});
    EXPECT_EQ(payloadOf(aLink_AwaitFirst(id, anyPacket, nullptr, 5000)),
              (Bytes{0x0C, 0x01, 0x77}));
    EXPECT_EQ(aLink_GetPacket(id), nullptr);
  }
}

TEST_F(LinkTest, WrongSyncAnswerAsksAgain) {
  peer->send({0x05});
  ASSERT_EQ(peer->take(kSyncRequest.size()), kSyncRequest);
  peer->send({0x08, 0x00, 0x0A, 0x00});
  // The mismatch restarts the exchange with a fresh request.
  ASSERT_EQ(peer->take(kSyncRequest.size()), kSyncRequest);
  EXPECT_EQ(aLink_GetStatus(id), aLinkSyncing);
  peer->send({0x0A, 0x00, 0x0A, 0x00});
  EXPECT_TRUE(waitForStatus(id, aLinkRunning));
}

TEST_F(LinkTest, SilentModuleIsAskedAgain) {
  peer->send({0x05});
  ASSERT_EQ(peer->take(kSyncRequest.size()), kSyncRequest);
  // No answer: the host must not stay out of step for ever.
  EXPECT_EQ(peer->take(kSyncRequest.size()), kSyncRequest);
  resynchronise();
}

TEST_F(LinkTest, BurstOfUnreadPacketsStaysBounded) {
  Bytes burst;
  for (int i = 0; i < 10000; i++) {
    const Bytes packet = {0x08, 0x01, uint8_t(i)};
    burst.insert(burst.end(), packet.begin(), packet.end());
  }
  peer->send(burst);
  peer->send({0x0A, 0x01, 0x55});
  const uint8_t marker = 0x0A;
  EXPECT_EQ(payloadOf(aLink_AwaitFirst(id, fromAddress, &marker, 30000)),
            (Bytes{0x0A, 0x01, 0x55}));
  EXPECT_LE(aLink_DrainPackets(id, anyPacket, nullptr), 20u);
  EXPECT_EQ(aLink_GetStatus(id), aLinkRunning);
}

TEST_F(LinkTest, DisconnectedPeerGivesStreamErrorNotAHang) {
  peer->closeListener();  // so that the host's reconnection is refused
  peer->disconnect();
  ASSERT_TRUE(waitForStatus(id, aLinkStreamError));
  const auto start = Clock::now();
  EXPECT_EQ(aLink_AwaitFirst(id, anyPacket, nullptr, 30000), nullptr);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(putPacket(id, 0x08, {0x01}), aErrConnection);
  EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST_F(LinkTest, SecondCreateSharesTheLink) {
  aLinkID second = aLink_CreateTCPIP(peer->address(), peer->port() + 1);
  EXPECT_EQ(second, id);
  EXPECT_FALSE(peer->hasPendingConnection(100));

  ASSERT_EQ(aLink_Destroy(&second), aErrNone);
  EXPECT_EQ(aLink_GetStatus(id), aLinkRunning);
  ASSERT_EQ(putPacket(id, 0x08, {0x01}), aErrNone);
  EXPECT_EQ(peer->take(3), (Bytes{0x08, 0x01, 0x01}));

  ASSERT_EQ(aLink_Destroy(&id), aErrNone);
  EXPECT_EQ(peer->takeUntilClosed(), kStop);
}

TEST_F(LinkTest, ResetReconnectsUnderTheSameIdentifier) {
  ASSERT_EQ(aLink_Reset(id), aErrNone);
  EXPECT_EQ(peer->takeUntilClosed(), kStop);
  ASSERT_TRUE(peer->accept());
  EXPECT_EQ(peer->take(kStart.size()), kStart);
  ASSERT_TRUE(waitForStatus(id, aLinkRunning));
  peer->send({0x08, 0x01, 0x09});
  EXPECT_EQ(payloadOf(aLink_AwaitPacket(id, 5000)), (Bytes{0x08, 0x01, 0x09}));
}

TEST_F(LinkTest, UserFilterSeesEveryPacketFirst) {
  struct Seen {
    std::atomic<int> count{0};
  } seen;
  auto consumeAll = [](const aPacket*, const void* reference) {
    static_cast<Seen*>(const_cast<void*>(reference))->count++;
    return true;
  };
  ASSERT_EQ(aLink_InstallUserPacketFilter(id, consumeAll, &seen), aErrNone);
  peer->send({0x06, 0x02, 0x00, 0x01});
  peer->send({0x08, 0x01, 0x02});
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (seen.count < 2 && Clock::now() < end) std::this_thread::yield();
  EXPECT_EQ(seen.count.load(), 2);
  EXPECT_TRUE(peer->takeWithin(50).empty());  // the consumed heartbeat got no answer
  EXPECT_EQ(aLink_GetPacket(id), nullptr);

  ASSERT_EQ(aLink_InstallUserPacketFilter(id, nullptr, nullptr), aErrNone);
  peer->send({0x06, 0x02, 0x00, 0x01});
  EXPECT_EQ(peer->take(4), (Bytes{0x06, 0x02, 0x00, 0x03}));
  EXPECT_EQ(seen.count.load(), 2);
}

TEST_F(LinkTest, FilterCannotTearDownItsOwnLink) {
  struct Attempt {
    aLinkID id;
    std::atomic<int> reset{-1};
    std::atomic<int> destroy{-1};
    aLinkID afterDestroy = 0;
  } attempt;
  attempt.id = id;
  auto selfDestruct = [](const aPacket*, const void* reference) {
    auto* a = static_cast<Attempt*>(const_cast<void*>(reference));
    a->reset = aLink_Reset(a->id);
    a->afterDestroy = a->id;
    a->destroy = aLink_Destroy(&a->afterDestroy);
    return true;
  };
  ASSERT_EQ(aLink_InstallUserPacketFilter(id, selfDestruct, &attempt), aErrNone);
  peer->send({0x08, 0x01, 0x01});
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (attempt.destroy < 0 && Clock::now() < end) std::this_thread::yield();
  ASSERT_EQ(aLink_InstallUserPacketFilter(id, nullptr, nullptr), aErrNone);
  EXPECT_EQ(attempt.reset.load(), aErrBusy);
  EXPECT_EQ(attempt.destroy.load(), aErrBusy);
  EXPECT_EQ(attempt.afterDestroy, id);
  EXPECT_EQ(aLink_GetStatus(id), aLinkRunning);
  peer->send({0x08, 0x01, 0x02});
  EXPECT_EQ(payloadOf(aLink_AwaitPacket(id, 5000)), (Bytes{0x08, 0x01, 0x02}));
}

TEST_F(LinkTest, PacketLogRecordsTrafficBothWays) {
  EXPECT_EQ(aLink_PacketDebug_Disable(id), aErrNotReady);
  EXPECT_EQ(aLink_PacketDebug_Write(id, aLINK_LOG_TEXT, 1, kStart.data()), aErrNotReady);
  EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, 0x4000001), aErrParam);
  ASSERT_EQ(aLink_PacketDebug_SetLogSize(id, 256), aErrNone);
  ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
  EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, 512), aErrBusy);

  ASSERT_EQ(putPacket(id, 0x08, {0x11}), aErrNone);
  ASSERT_EQ(peer->take(3), (Bytes{0x08, 0x01, 0x11}));
  peer->send({0x08, 0x01, 0x22});
  ASSERT_NE(payloadOf(aLink_AwaitPacket(id, 5000)), Bytes{});

  // Both workers log on their own time, so collect until both entries are in.
  // The start packet may be there too when it was logged after the enable.
  std::set<std::pair<int, Bytes>> entries;
  const std::set<std::pair<int, Bytes>> wanted = {{aLINK_LOG_SENT, {0x08, 0x01, 0x11}},
                                                  {aLINK_LOG_RECEIVED, {0x08, 0x01, 0x22}}};
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (!std::includes(entries.begin(), entries.end(), wanted.begin(), wanted.end()) &&
         Clock::now() < end) {
    uint8_t direction = 0;
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    if (aLink_PacketDebug_Read(id, &direction, &length, buffer) == aErrNone) {
      entries.insert({direction, Bytes(buffer, buffer + length)});
    }
  }
  entries.erase({aLINK_LOG_SENT, kStart});
  EXPECT_EQ(entries, wanted);

  const uint8_t text[] = "START";
  ASSERT_EQ(aLink_PacketDebug_Write(id, aLINK_LOG_TEXT, sizeof(text), text), aErrNone);
  uint8_t direction = 0;
  uint8_t buffer[64];
  uint32_t length = 2;
  EXPECT_EQ(aLink_PacketDebug_Read(id, &direction, &length, buffer), aErrOverrun);
  length = sizeof(buffer);
  ASSERT_EQ(aLink_PacketDebug_Read(id, &direction, &length, buffer), aErrNone);
  EXPECT_EQ(direction, aLINK_LOG_TEXT);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "START");
  EXPECT_EQ(aLink_PacketDebug_Read(id, &direction, &length, buffer), aErrNotFound);

  // A disabled log records no more traffic.
  ASSERT_EQ(aLink_PacketDebug_Disable(id), aErrNone);
  ASSERT_EQ(putPacket(id, 0x08, {0x33}), aErrNone);
  ASSERT_EQ(peer->take(3), (Bytes{0x08, 0x01, 0x33}));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  length = sizeof(buffer);
  EXPECT_EQ(aLink_PacketDebug_Read(id, &direction, &length, buffer), aErrNotFound);
}

TEST(LinkTable, UnknownIdentifiersAreRefused) {
  const aLinkID unknown = 0x7FFFFFF0;
  EXPECT_EQ(aLink_GetStatus(unknown), aLinkNoStream);
  EXPECT_EQ(aLink_GetStatus(0), aLinkNoStream);
  aLinkID handle = unknown;
  EXPECT_EQ(aLink_Destroy(&handle), aErrParam);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(aLink_Destroy(nullptr), aErrParam);
  EXPECT_EQ(aLink_Reset(unknown), aErrParam);
  EXPECT_EQ(putPacket(unknown, 0x08, {1}), aErrParam);
  EXPECT_EQ(aLink_GetPacket(unknown), nullptr);
  EXPECT_EQ(aLink_AwaitFirst(unknown, anyPacket, nullptr, 10), nullptr);
  EXPECT_EQ(aLink_DrainPackets(unknown, anyPacket, nullptr), 0u);
  EXPECT_EQ(aLink_InstallUserPacketFilter(unknown, anyPacket, nullptr), aErrParam);
  EXPECT_EQ(aLink_PacketDebug_Enable(unknown), aErrParam);
  EXPECT_EQ(aLink_PacketDebug_Write(unknown, 3, 0, nullptr), aErrParam);
}

TEST(LinkTable, UnreachableTcpModuleReportsStreamError) {
  // Bind a port and close it again so that nothing listens there.
  uint16_t port;
  uint32_t address;
  {
    ScriptedModulePeer gone(nextLoopbackAddress());
    port = gone.port();
    address = gone.address();
  }
  aLinkID id = aLink_CreateTCPIP(address, port);
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(waitForStatus(id, aLinkStreamError));
  EXPECT_NE(aLink_GetStatus(id), aLinkRunning);
  EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST(LinkTable, UsbLinkToAbsentModuleFails) {
  EXPECT_EQ(aLink_CreateUSB(0x0BADF00D), 0u);
}

// A caller's own stream: one end of a socket pair, the test holding the other.
struct PairStream {
  static aErr get(uint8_t* byte, void* ref) {
    const ssize_t n = recv(*static_cast<int*>(ref), byte, 1, MSG_DONTWAIT);
    if (n == 1) return aErrNone;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return aErrNotReady;
    return aErrConnection;
  }
  static aErr write(const uint8_t* data, size_t length, void* ref) {
    return ::send(*static_cast<int*>(ref), data, length, MSG_NOSIGNAL) == ssize_t(length)
               ? aErrNone
               : aErrWrite;
  }
  static aErr put(const uint8_t* byte, void* ref) { return write(byte, 1, ref); }
  static aErr remove(void* ref) {
    close(*static_cast<int*>(ref));
    return aErrNone;
  }

  PairStream() {
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    stream = aStream_Create(get, put, write, remove, &fds[0]);
  }
  ~PairStream() { close(fds[1]); }

  Bytes read(size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
      const ssize_t r = recv(fds[1], out.data() + got, n - got, 0);
      if (r <= 0) break;
      got += size_t(r);
    }
    out.resize(got);
    return out;
  }

  int fds[2];
  aStream* stream;
};

TEST(LinkOverOwnStream, RunsUnsharedAndRefusesReset) {
  PairStream first;
  PairStream second;
  aLinkID a = aLink_Create(first.stream);
  aLinkID b = aLink_Create(second.stream);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(first.read(3), kStart);
  ASSERT_TRUE(waitForStatus(a, aLinkRunning));

  EXPECT_EQ(aLink_Reset(a), aErrParam);
  EXPECT_EQ(aLink_GetStatus(a), aLinkRunning);
  const uint8_t beat[] = {0x06, 0x02, 0x00, 0x10};
  ASSERT_EQ(::send(first.fds[1], beat, sizeof(beat), 0), ssize_t(sizeof(beat)));
  EXPECT_EQ(first.read(4), (Bytes{0x06, 0x02, 0x00, 0x12}));

  // The peer going away is a stream error, not a hang.
  close(second.fds[1]);
  second.fds[1] = -1;
  EXPECT_TRUE(waitForStatus(b, aLinkStreamError));

  EXPECT_EQ(aLink_Destroy(&a), aErrNone);
  EXPECT_EQ(first.read(3), kStop);
  EXPECT_EQ(aLink_Destroy(&b), aErrNone);
  EXPECT_EQ(aLink_Create(nullptr), 0u);
}

TEST(LinkOverOwnStream, CallersWaitingDuringDestroyAreReleased) {
  PairStream pair;
  aLinkID id = aLink_Create(pair.stream);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(waitForStatus(id, aLinkRunning));
  std::atomic<int> done{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; i++) {
    waiters.emplace_back([&] {
      aPacket* packet = aLink_AwaitFirst(id, anyPacket, nullptr, 60000);
      aPacket_Destroy(&packet);
      done++;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  aLinkID doomed = id;
  EXPECT_EQ(aLink_Destroy(&doomed), aErrNone);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(done.load(), 4);
}

}  // namespace
