#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "aStream.h"
#include "unix_mutex.h"
#include "unix_time.h"

#define aSOCKET_CHECK 0xDEAD
#define aSOCKET_CONNECTED 0x1u

// A write gives up after this many refused sends or reconnections in a row.
#define sWRITE_RETRIES 9
#define sWRITE_RETRY_MS 60

typedef struct aSocketStream {
  uint16_t port;
  struct sockaddr_in address;
  int32_t fd;  // -1 while closed
  uint32_t flags;
  // The link engine reads from one thread and writes from another, and either side may
  // reconnect: the descriptor and flags change only under this lock.
  aMutex* lock;
  uint16_t check;
} aSocketStream;

static bool sValidSocket(const aSocketStream* socket) {
  return socket != NULL && socket->check == aSOCKET_CHECK;
}

static bool sIsLostConnection(int error) {
  return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT || error == EPIPE;
}

static void sSocketStreamClose(aSocketStream* s) {
  s->flags &= ~aSOCKET_CONNECTED;
  close(s->fd);
  s->fd = -1;
  aTime_MSSleep(10);
}

static aErr sSocketStreamSetOptions(int fd) {
  int on = 1;
  struct timeval noTimeout = {0, 0};
  struct linger abortive = {1, 0};  // closing resets the connection at once
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) < 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof(noTimeout)) < 0 ||
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive)) < 0)
    return aErrIO;
  return aErrNone;
}

// A blocking connect to a host that drops the handshake would hold the link's threads for
// minutes; a module on the local network answers far sooner than this.
#define sCONNECT_TIMEOUT_MS 3000

// The socket is non-blocking from the start: reads and writes never wait either.
static int sSocketConnect(int fd, const struct sockaddr_in* address) {
  if (connect(fd, (const struct sockaddr*)address, sizeof(*address)) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  struct pollfd wait = {fd, POLLOUT, 0};
  int ready;
  do ready = poll(&wait, 1, sCONNECT_TIMEOUT_MS);
  while (ready < 0 && errno == EINTR);
  if (ready < 0) return errno;
  if (ready == 0) return ETIMEDOUT;
  int error = 0;
  socklen_t length = sizeof(error);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return errno;
  return error;
}

// Connects afresh, closing any earlier connection first. Called with the lock held (or
// before the stream exists).
static aErr sSocketStreamReset(aSocketStream* s) {
  if (s->fd >= 0) sSocketStreamClose(s);
  s->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s->fd < 0) {
    s->fd = -1;
    return aErrIO;
  }
  int error = sSocketConnect(s->fd, &s->address);
  if (error != 0) {
    sSocketStreamClose(s);
    if (error == EAGAIN || error == ECONNRESET || error == ETIMEDOUT || error == ECONNREFUSED)
      return aErrConnection;
    return aErrIO;
  }
  s->flags |= aSOCKET_CONNECTED;
  aErr err = sSocketStreamSetOptions(s->fd);
  if (err != aErrNone) sSocketStreamClose(s);
  return err;
}

// Peeks at the next byte. A connection the peer closed or reset is reconnected once; when
// it is still gone the stream stays disconnected and answers errors from then on.
static aErr sSocketPeek(aSocketStream* s) {
  uint8_t byte;
  ssize_t got = recv(s->fd, &byte, 1, MSG_PEEK);
  if (got > 0) return aErrNone;
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    return aErrNotReady;
  if (got < 0 && !sIsLostConnection(errno)) return aErrConnection;

  s->flags &= ~aSOCKET_CONNECTED;
  aErr err = sSocketStreamReset(s);
  if (err != aErrNone) return err;
  got = recv(s->fd, &byte, 1, MSG_PEEK);
  if (got > 0) return aErrNone;
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    return aErrNotReady;
  sSocketStreamClose(s);
  return aErrConnection;
}

static aErr sSocketGet(uint8_t* byte, void* ref) {
  aSocketStream* s = (aSocketStream*)ref;
  if (!sValidSocket(s) || byte == NULL) return aErrParam;
  aMutex_Lock(s->lock);
  aErr err = aErrConnection;
  if (s->flags & aSOCKET_CONNECTED) err = sSocketPeek(s);
  if (err == aErrNone) {
    ssize_t got = recv(s->fd, byte, 1, 0);
    if (got != 1) {
      // A lost connection shows again on the next peek, which deals with it.
      bool retry = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                               sIsLostConnection(errno));
      err = retry ? aErrNotReady : aErrIO;
    }
  }
  aMutex_Unlock(s->lock);
  return err;
}

// One attempt to send what remains. A reconnection starts the block again, since its
// beginning went to a connection that no longer exists.
static aErr sSocketSendOnce(aSocketStream* s, const uint8_t* data, size_t length, size_t* sent,
                            bool* progressed) {
  *progressed = false;
  if (!(s->flags & aSOCKET_CONNECTED)) return aErrConnection;
  ssize_t n = send(s->fd, data + *sent, length - *sent, MSG_NOSIGNAL);
  if (n > 0) {
    *sent += (size_t)n;
    *progressed = true;
    return aErrNone;
  }
  if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return aErrNone;
  if (!sIsLostConnection(errno)) return aErrIO;
  s->flags &= ~aSOCKET_CONNECTED;
  aErr err = sSocketStreamReset(s);
  if (err == aErrNone) *sent = 0;
  return err;
}

static aErr sSocketWrite(const uint8_t* data, size_t length, void* ref) {
  aSocketStream* s = (aSocketStream*)ref;
  if (!sValidSocket(s) || data == NULL) return aErrParam;
  size_t sent = 0;
  int retries = 0;
  for (;;) {
    bool progressed;
    aMutex_Lock(s->lock);
    aErr err = sSocketSendOnce(s, data, length, &sent, &progressed);
    aMutex_Unlock(s->lock);
    if (err != aErrNone) return err;
    if (sent == length) return aErrNone;
    retries = progressed ? 1 : retries + 1;
    if (retries > sWRITE_RETRIES) return aErrWrite;
    aTime_MSSleep(sWRITE_RETRY_MS);
  }
}

static aErr sSocketPut(const uint8_t* byte, void* ref) {
  return sSocketWrite(byte, 1, ref);
}

static void sSocketFree(aSocketStream* s) {
  if (s->fd >= 0) sSocketStreamClose(s);
  s->flags = 0;
  s->check = 0;
  aMutex_Destroy(&s->lock);
  free(s);
}

static aErr sSocketDelete(void* ref) {
  aSocketStream* s = (aSocketStream*)ref;
  if (!sValidSocket(s)) return aErrParam;
  sSocketFree(s);
  return aErrNone;
}

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream) {
  if (stream == NULL) return aErrResource;
  *stream = NULL;
  aSocketStream* s = (aSocketStream*)calloc(1, sizeof(aSocketStream));
  if (s == NULL) return aErrResource;
  s->port = port;
  s->address.sin_family = AF_INET;
  s->address.sin_port = htons(port);
  s->address.sin_addr.s_addr = address;
  s->fd = -1;
  s->check = aSOCKET_CHECK;
  s->lock = aMutex_Create("socket stream");

  aStream* made = NULL;
  if (s->lock != NULL && sSocketStreamReset(s) == aErrNone)
    made = aStream_Create(sSocketGet, sSocketPut, sSocketWrite, sSocketDelete, s);
  if (made == NULL) {
    sSocketFree(s);
    return aErrResource;
  }
  *stream = made;
  return aErrNone;
}
