#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "aStream.h"
#include "unix_time.h"

namespace {

// The product opens the slave side of a pseudo-terminal; the test plays the device on the
// master side and inspects the line settings through its own slave descriptor.
class SerialStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    path = name;
    ASSERT_EQ(tcgetattr(slave, &original), 0);
  }
  void TearDown() override {
    if (stream != nullptr) aStream_Destroy(&stream);
    if (master >= 0) close(master);
    close(slave);
  }

  // A pty passes bytes on asynchronously; wait a bounded time for them to arrive.
  aErr readWithin(uint8_t* dst, size_t n) {
    aErr err = aErrNotReady;
    for (int i = 0; i < 200 && err == aErrNotReady; i++) {
      err = aStream_Read(stream, dst, n);
      if (err == aErrNotReady) aTime_MSSleep(5);
    }
    return err;
  }

  int master = -1;
  int slave = -1;
  std::string path;
  struct termios original;
  aStream* stream = nullptr;
};

TEST_F(SerialStreamTest, MovesBytesBothWaysWithoutBlocking) {
  ASSERT_EQ(aStream_CreateSerial(path.c_str(), aSerial_Baud115200, false, aSerial_8Bits,
                                 aSerial_1StopBit, &stream),
            aErrNone);
  uint8_t byte;
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);

  ASSERT_EQ(write(master, "\x01\x00\xFFz", 4), 4);
  uint8_t got[4];
  ASSERT_EQ(readWithin(got, 4), aErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), std::string("\x01\x00\xFFz", 4));

  const uint8_t out[] = {'?', '\r', '\n', 0x00, 0x80};
  ASSERT_EQ(aStream_Write(stream, out, sizeof(out)), aErrNone);
  ASSERT_EQ(aStream_Write(stream, out, 1), aErrNone);
  uint8_t seen[6];
  size_t have = 0;
  for (int i = 0; i < 200 && have < sizeof(seen); i++) {
    ssize_t n = read(master, seen + have, sizeof(seen) - have);
    if (n > 0) have += n;
  }
  ASSERT_EQ(have, sizeof(seen));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(seen), 6),
            std::string("?\r\n\x00\x80?", 6)) << "raw output: no CR/LF translation";
}

struct LineCase {
  const char* name;
  int32_t baud;
  bool parity;
  int32_t bits;
  int32_t stopBits;
  speed_t speed;
  tcflag_t cflagSet;
  tcflag_t iflag;
};

class SerialLineTest : public SerialStreamTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SerialLineTest, AppliesRawSettingsAndRestoresThemOnDestroy) {
  const LineCase& c = GetParam();
  ASSERT_EQ(aStream_CreateSerial(path.c_str(), c.baud, c.parity, c.bits, c.stopBits, &stream),
            aErrNone);
  struct termios t;
  ASSERT_EQ(tcgetattr(slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), c.speed);
  EXPECT_EQ(cfgetispeed(&t), c.speed);
  // A pseudo-terminal always keeps 8 bits without parity, so character size and parity
  // can't be seen here; stop bits, flow control and the input modes can.
  EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD | CREAD | CLOCAL | CRTSCTS | HUPCL),
            c.cflagSet | CREAD | CLOCAL);
  EXPECT_EQ(t.c_iflag, c.iflag);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
  ASSERT_EQ(tcgetattr(slave, &t), 0);
  EXPECT_EQ(t.c_lflag, original.c_lflag);
  EXPECT_EQ(t.c_cflag, original.c_cflag);
  EXPECT_EQ(cfgetospeed(&t), cfgetospeed(&original));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialLineTest,
    ::testing::Values(
        LineCase{"Plain115200", aSerial_Baud115200, false, aSerial_8Bits, aSerial_1StopBit,
                 B115200, 0, IGNBRK},
        LineCase{"Even7Bits2Stop2400", aSerial_Baud2400, true, aSerial_7Bits,
                 aSerial_2StopBits, B2400, CSTOPB, IGNBRK | IGNPAR},
        LineCase{"Fastest", aSerial_Baud230400, false, aSerial_8Bits, aSerial_1StopBit,
                 B230400, 0, IGNBRK},
        LineCase{"UnknownIndexHangsUp", 8, false, aSerial_8Bits, aSerial_1StopBit, B0, 0,
                 IGNBRK}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST_F(SerialStreamTest, DeviceGoneIsAnErrorNotAnEmptyLine) {
  ASSERT_EQ(aStream_CreateSerial(path.c_str(), aSerial_Baud9600, false, aSerial_8Bits,
                                 aSerial_1StopBit, &stream),
            aErrNone);
  close(master);
  close(slave);
  master = -1;
  slave = open("/dev/null", O_RDONLY);  // keeps TearDown's close harmless
  uint8_t byte;
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrIO);
}

TEST_F(SerialStreamTest, RefusesBadArguments) {
  aStream* sentinel = reinterpret_cast<aStream*>(0x1);
  struct Case {
    const char* port;
    int32_t bits;
    int32_t stopBits;
    aErr result;
  };
  std::string tooLong(4096, 'x');
  const Case untouched[] = {
      {path.c_str(), 2, aSerial_1StopBit, aErrResource},
      {path.c_str(), aSerial_8Bits, 2, aErrResource},
      {path.c_str(), -1, aSerial_1StopBit, aErrResource},
      {nullptr, aSerial_8Bits, aSerial_1StopBit, aErrResource},
      // One character too long for the path field with its terminator: never cut off.
      {tooLong.c_str(), aSerial_8Bits, aSerial_1StopBit, aErrFileNameLength},
  };
  for (const Case& c : untouched) {
    aStream* handle = sentinel;
    EXPECT_EQ(aStream_CreateSerial(c.port, aSerial_Baud9600, false, c.bits, c.stopBits, &handle),
              c.result);
    EXPECT_EQ(handle, sentinel);
  }
  EXPECT_EQ(aStream_CreateSerial(path.c_str(), 0, false, 0, 0, nullptr), aErrResource);

  aStream* handle = sentinel;
  EXPECT_EQ(aStream_CreateSerial("/dev/no-such-port", aSerial_Baud9600, false, aSerial_8Bits,
                                 aSerial_1StopBit, &handle),
            aErrNotFound);
  EXPECT_EQ(handle, nullptr);

  // Not a terminal: opening works, the line settings do not.
  handle = sentinel;
  EXPECT_EQ(aStream_CreateSerial("/dev/null", aSerial_Baud9600, false, aSerial_8Bits,
                                 aSerial_1StopBit, &handle),
            aErrIO);
  EXPECT_EQ(handle, nullptr);
}

}  // namespace
