#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "aStream.h"

#define aSERIAL_CHECK 0xBEEF
#define aSERIAL_PATH_SIZE 4096

typedef struct aUnixSerialStream {
  int32_t baud;
  char port[aSERIAL_PATH_SIZE];
  int32_t fd;  // -1 while not open: descriptor 0 is a valid port when stdin was closed
  struct termios saved;
  bool haveSaved;  // only settings actually read from the port are put back
  struct termios working;
  uint16_t check;
} aUnixSerialStream;

static bool sValidSerial(const aUnixSerialStream* serial) {
  return serial != NULL && serial->check == aSERIAL_CHECK;
}

static speed_t sSerialSpeed(int32_t baud) {
  static const speed_t speeds[] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};
  if (baud < 0 || baud >= (int32_t)(sizeof(speeds) / sizeof(speeds[0]))) return B0;
  return speeds[baud];
}

static aErr sSerialGet(uint8_t* byte, void* ref) {
  aUnixSerialStream* serial = (aUnixSerialStream*)ref;
  if (!sValidSerial(serial) || byte == NULL) return aErrParam;
  ssize_t got = read(serial->fd, byte, 1);
  if (got == 1) return aErrNone;
  if (got < 0) return errno == EAGAIN || errno == EINTR ? aErrNotReady : aErrIO;
  // A port whose device went away reads as empty for ever; only poll tells it apart from
  // a quiet line.
  struct pollfd port = {serial->fd, POLLIN, 0};
  if (poll(&port, 1, 0) > 0 && (port.revents & (POLLHUP | POLLERR | POLLNVAL))) return aErrIO;
  return aErrNotReady;
}

static aErr sSerialWrite(const uint8_t* data, size_t length, void* ref) {
  aUnixSerialStream* serial = (aUnixSerialStream*)ref;
  if (!sValidSerial(serial) || data == NULL) return aErrParam;
  ssize_t written = write(serial->fd, data, length);
  return written >= 0 && (size_t)written == length ? aErrNone : aErrIO;
}

static aErr sSerialPut(const uint8_t* byte, void* ref) {
  return sSerialWrite(byte, 1, ref);
}

static aErr sSerialDelete(void* ref) {
  aUnixSerialStream* serial = (aUnixSerialStream*)ref;
  if (!sValidSerial(serial)) return aErrParam;
  if (serial->fd >= 0) {
    // Leave the port as it was found for whoever uses it next.
    if (serial->haveSaved) tcsetattr(serial->fd, TCSANOW, &serial->saved);
    close(serial->fd);
    serial->fd = -1;
  }
  serial->check = 0;
  free(serial);
  return aErrNone;
}

static aErr sStreamOpenSerial(aUnixSerialStream* serial) {
  serial->fd = open(serial->port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (serial->fd < 0) {
    serial->fd = -1;
    if (errno == ENOENT) return aErrNotFound;
    if (errno == EACCES) return aErrPermission;
    return aErrIO;
  }
  // Non-blocking only for the open itself, which would otherwise wait for carrier; reads
  // return at once through VMIN/VTIME below.
  if (fcntl(serial->fd, F_SETFL, 0) < 0) return aErrIO;
  if (tcgetattr(serial->fd, &serial->saved) < 0) return aErrIO;
  serial->haveSaved = true;
  return aErrNone;
}

static aErr sStreamConfigureSerial(aUnixSerialStream* serial, bool parity, int32_t bits,
                                   int32_t stopBits) {
  struct termios* t = &serial->working;
  *t = serial->saved;
  t->c_iflag = IGNBRK | (parity ? IGNPAR : 0);
  t->c_oflag = 0;
  t->c_lflag = 0;
  t->c_cflag = CREAD | CLOCAL | (bits == aSerial_8Bits ? CS8 : CS7) |
               (stopBits == aSerial_2StopBits ? CSTOPB : 0) | (parity ? PARENB : 0);
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
  speed_t speed = sSerialSpeed(serial->baud);
  if (cfsetispeed(t, speed) < 0 || cfsetospeed(t, speed) < 0) return aErrIO;
  if (tcsetattr(serial->fd, TCSANOW, t) < 0) return aErrIO;
  if (tcflush(serial->fd, TCIOFLUSH) < 0) return aErrIO;
  return aErrNone;
}

aErr aStream_CreateSerial(const char* port, int32_t baud, bool parity, int32_t bits,
                          int32_t stopBits, aStream** stream) {
  if (port == NULL || stream == NULL) return aErrResource;
  if ((bits != aSerial_8Bits && bits != aSerial_7Bits) ||
      (stopBits != aSerial_1StopBit && stopBits != aSerial_2StopBits))
    return aErrResource;
  // A cut-off path would name another device.
  if (strnlen(port, aSERIAL_PATH_SIZE) >= aSERIAL_PATH_SIZE) return aErrFileNameLength;
  *stream = NULL;

  aUnixSerialStream* serial = (aUnixSerialStream*)calloc(1, sizeof(aUnixSerialStream));
  if (serial == NULL) return aErrResource;
  serial->baud = baud;
  strcpy(serial->port, port);
  serial->fd = -1;
  serial->check = aSERIAL_CHECK;

  aStream* made = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, serial);
  if (made == NULL) {
    sSerialDelete(serial);
    return aErrResource;
  }

  aErr err = sStreamOpenSerial(serial);
  if (err == aErrNone) err = sStreamConfigureSerial(serial, parity, bits, stopBits);
  if (err != aErrNone) {
    aStream_Destroy(&made);
    return err;
  }
  *stream = made;
  return aErrNone;
}
