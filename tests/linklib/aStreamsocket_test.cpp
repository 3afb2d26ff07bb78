#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "aStream.h"
#include "unix_time.h"

namespace {

// A TCP peer on 127.0.0.1 standing in for a module.
class Peer {
 public:
  Peer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(listener_, 4);
  }
  ~Peer() {
    closeConnection();
    stopListening();
  }

  uint16_t port() const { return port_; }
  void shrinkReceiveBuffer() {
    int small = 4096;
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
  }
  bool connectionWaiting() {
    struct pollfd p = {listener_, POLLIN, 0};
    return poll(&p, 1, 5) == 1;
  }
  int accept() {
    closeConnection();
    conn_ = ::accept(listener_, nullptr, nullptr);
    return conn_;
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::send(conn_, bytes.data(), bytes.size(), 0), (ssize_t)bytes.size());
  }
  std::string receive(size_t n) {
    std::string got;
    char buf[256];
    while (got.size() < n) {
      ssize_t r = recv(conn_, buf, std::min(sizeof(buf), n - got.size()), 0);
      if (r <= 0) break;
      got.append(buf, r);
    }
    return got;
  }
  // An abortive close makes the stream's next operation see a reset, not an orderly end.
  void resetConnection() {
    struct linger abortive = {1, 0};
    setsockopt(conn_, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    closeConnection();
  }
  void closeConnection() {
    if (conn_ >= 0) close(conn_);
    conn_ = -1;
  }
  void stopListening() {
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

 private:
  int listener_ = -1;
  int conn_ = -1;
  uint16_t port_ = 0;
};

class SocketStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), peer.port(), &stream), aErrNone);
    ASSERT_GE(peer.accept(), 0);
  }
  void TearDown() override {
    if (stream != nullptr) aStream_Destroy(&stream);
  }

  // Loopback delivery is quick but not synchronous; give bytes a bounded time to arrive.
  aErr readWithin(uint8_t* dst, size_t n) {
    aErr err = aErrNotReady;
    for (int i = 0; i < 400 && err == aErrNotReady; i++) {
      err = aStream_Read(stream, dst, n);
      if (err == aErrNotReady) aTime_MSSleep(5);
    }
    return err;
  }

  Peer peer;
  aStream* stream = nullptr;
};

TEST_F(SocketStreamTest, CarriesBytesBothWays) {
  uint8_t byte;
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);

  peer.send(std::string("\x02\x00\xAA", 3));
  uint8_t got[3];
  ASSERT_EQ(readWithin(got, 3), aErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 3), std::string("\x02\x00\xAA", 3));

  const uint8_t packet[] = {0x04, 0x02, 0x10, 0x20};
  ASSERT_EQ(aStream_Write(stream, packet, sizeof(packet)), aErrNone);
  ASSERT_EQ(aStream_Write(stream, packet, 1), aErrNone);
  EXPECT_EQ(peer.receive(5), std::string("\x04\x02\x10\x20\x04", 5));
}

TEST_F(SocketStreamTest, PeerThatClosesIsReconnectedOnce) {
  peer.closeConnection();
  uint8_t byte;
  bool reconnected = false;
  for (int i = 0; i < 400 && !reconnected; i++) {
    ASSERT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady) << "an orderly close is no byte";
    reconnected = peer.connectionWaiting();
  }
  ASSERT_TRUE(reconnected);
  ASSERT_GE(peer.accept(), 0);
  peer.send("k");
  ASSERT_EQ(readWithin(&byte, 1), aErrNone);
  EXPECT_EQ(byte, 'k');
  ASSERT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("ok"), 2), aErrNone);
  EXPECT_EQ(peer.receive(2), "ok");
}

TEST_F(SocketStreamTest, PeerGoneForGoodIsAnErrorFromThenOn) {
  peer.stopListening();
  peer.closeConnection();
  uint8_t byte;
  EXPECT_EQ(readWithin(&byte, 1), aErrConnection);
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrConnection);
  EXPECT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("xy"), 2), aErrConnection);
  EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

TEST_F(SocketStreamTest, WriteToResetPeerFailsWhenReconnectIsRefused) {
  peer.stopListening();
  peer.resetConnection();
  aTime_MSSleep(20);  // let the reset arrive
  const uint8_t data[] = {1, 2, 3, 4};
  EXPECT_EQ(aStream_Write(stream, data, sizeof(data)), aErrConnection);
  uint8_t byte;
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrConnection);
}

TEST_F(SocketStreamTest, WriteToResetPeerRestartsTheBlockOnTheNewConnection) {
  peer.resetConnection();
  aTime_MSSleep(20);
  const uint8_t data[] = {'w', 'h', 'o', 'l', 'e'};
  ASSERT_EQ(aStream_Write(stream, data, sizeof(data)), aErrNone);
  ASSERT_GE(peer.accept(), 0);
  EXPECT_EQ(peer.receive(5), "whole");
}

TEST(SocketStreamWrite, PeerThatNeverReadsEndsTheWriteWithAnError) {
  Peer peer;
  peer.shrinkReceiveBuffer();
  aStream* stream = nullptr;
  ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), peer.port(), &stream), aErrNone);
  ASSERT_GE(peer.accept(), 0);
  std::vector<uint8_t> block(16 * 1024 * 1024, 0x5A);
  EXPECT_EQ(aStream_Write(stream, block.data(), block.size()), aErrWrite)
      << "unsent bytes must not be reported as sent";
  aStream_Destroy(&stream);
}

TEST(SocketStreamCreate, FailuresHandOutNoStream) {
  Peer peer;
  uint16_t port = peer.port();
  peer.stopListening();
  aStream* stream = reinterpret_cast<aStream*>(0x1);
  EXPECT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), port, &stream), aErrResource);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), port, nullptr), aErrResource);
}

// A peer that never completes the handshake (here: a listener whose queue is full) must not
// hold the caller for the minutes the system would keep retrying.
TEST(SocketStreamCreate, HandshakeThatNeverCompletesGivesUp) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  socklen_t len = sizeof(a);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  ASSERT_EQ(listen(listener, 0), 0);
  std::vector<aStream*> queued;
  aStream* stream = nullptr;
  aErr err = aErrNone;
  std::atomic<bool> done{false};
  std::thread attempt([&] {
    // Fill the queue; the first refused handshake ends the loop.
    while (err == aErrNone && queued.size() < 8) {
      err = aStream_CreateSocket(htonl(INADDR_LOOPBACK), ntohs(a.sin_port), &stream);
      if (err == aErrNone) queued.push_back(stream);
    }
    done = true;
  });
  for (int i = 0; i < 600 && !done; i++) aTime_MSSleep(100);  // far beyond the give-up time
  ASSERT_TRUE(done) << "connect still waiting";
  attempt.join();
  EXPECT_EQ(err, aErrResource);
  EXPECT_EQ(stream, nullptr);
  for (aStream* s : queued) aStream_Destroy(&s);
  close(listener);
}

// The link engine reads on one thread and writes on another while the connection may drop
// and be made again under them.
TEST(SocketStreamThreads, ReaderAndWriterSurviveAReconnect) {
  Peer peer;
  aStream* stream = nullptr;
  ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), peer.port(), &stream), aErrNone);
  ASSERT_GE(peer.accept(), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> received{0};
  std::thread writer([&] {
    const uint8_t packet[] = {0x02, 0x01, 0x7F};
    while (!stop) {
      aStream_Write(stream, packet, sizeof(packet));
      aTime_MSSleep(2);
    }
  });
  std::thread reader([&] {
    uint8_t byte;
    while (!stop) {
      if (aStream_Read(stream, &byte, 1) == aErrNone)
        received++;
      else
        aTime_MSSleep(1);
    }
  });

  EXPECT_EQ(peer.receive(3), std::string("\x02\x01\x7F", 3));
  peer.resetConnection();
  ASSERT_GE(peer.accept(), 0) << "one side reconnected";
  std::string after = peer.receive(3);
  EXPECT_EQ(after.size(), 3u) << "the writer goes on over the new connection";
  peer.send("abc");
  for (int i = 0; i < 400 && received < 3; i++) aTime_MSSleep(5);
  stop = true;
  writer.join();
  reader.join();
  EXPECT_EQ(received, 3);
  aStream_Destroy(&stream);
}

}  // namespace
