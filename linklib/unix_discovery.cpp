#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "aDiscovery.h"
#include "aDiscoveryUSB.h"

#define sDISCOVERY_GROUP "232.2.2.2"
#define sDISCOVERY_REQUEST_PORT 9888
#define sDISCOVERY_REPLY_PORT 9889
#define sDISCOVERY_WAIT_S 2
#define sDISCOVERY_DATAGRAM 16

// Offsets in a module's reply.
#define sREPLY_MODULE 1
#define sREPLY_PORT 2
#define sREPLY_SERIAL 4
#define sREPLY_MODEL 12

static int sOpenListener(void) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_in any;
  memset(&any, 0, sizeof(any));
  any.sin_family = AF_INET;
  any.sin_port = htons(sDISCOVERY_REPLY_PORT);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  // The end of discovery is this time-out after the last reply.
  struct timeval wait = {sDISCOVERY_WAIT_S, 0};
  if (bind(fd, (const struct sockaddr*)&any, sizeof(any)) < 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait)) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends the request from the interface with that address; INADDR_ANY leaves the choice to
// the routing table.
static bool sSendRequest(in_addr_t interfaceAddress) {
  static const uint8_t request[sDISCOVERY_DATAGRAM] = {1};
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  struct in_addr from;
  from.s_addr = interfaceAddress;
  struct sockaddr_in group;
  memset(&group, 0, sizeof(group));
  group.sin_family = AF_INET;
  group.sin_port = htons(sDISCOVERY_REQUEST_PORT);
  inet_pton(AF_INET, sDISCOVERY_GROUP, &group.sin_addr);
  bool sent =
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0 &&
      (interfaceAddress == htonl(INADDR_ANY) ||
       setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof(from)) == 0) &&
      sendto(fd, request, sizeof(request), 0, (const struct sockaddr*)&group, sizeof(group)) ==
          (ssize_t)sizeof(request);
  close(fd);
  return sent;
}

// Every IPv4 interface but the unset and the loopback address.
static bool sSendRequests(void) {
  struct ifaddrs* interfaces = NULL;
  if (getifaddrs(&interfaces) < 0) return sSendRequest(htonl(INADDR_ANY));
  bool anySent = false;
  for (struct ifaddrs* i = interfaces; i != NULL; i = i->ifa_next) {
    if (i->ifa_addr == NULL || i->ifa_addr->sa_family != AF_INET) continue;
    in_addr_t address = ((const struct sockaddr_in*)i->ifa_addr)->sin_addr.s_addr;
    if (address == htonl(INADDR_ANY) || address == htonl(INADDR_LOOPBACK)) continue;
    if (sSendRequest(address)) anySent = true;
  }
  freeifaddrs(interfaces);
  return anySent;
}

static uint32_t sLittleEndian(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; i--) value = (value << 8) | bytes[i];
  return value;
}

static linkSpec sReplyToSpec(const uint8_t* reply, in_addr_t source) {
  linkSpec spec;
  memset(&spec, 0, sizeof(spec));
  spec.type = TCPIP;
  spec.serialNumber = sLittleEndian(&reply[sREPLY_SERIAL], 4);
  spec.routerSerialNumber = spec.serialNumber;
  spec.moduleAddress = reply[sREPLY_MODULE];
  spec.routerAddress = spec.moduleAddress;
  spec.model = reply[sREPLY_MODEL];
  spec.ipAddress = source;
  spec.port = sLittleEndian(&reply[sREPLY_PORT], 2);
  return spec;
}

static uint8_t sEnumerateTCPIP(aDiscoveryModuleFoundProc callback, void* ref) {
  int listener = sOpenListener();
  if (listener < 0) return 0;
  uint8_t count = 0;
  bool goOn = sSendRequests();
  while (goOn) {
    // A short reply leaves the fields it lacks zero rather than those of the previous
    // reply, and a model of 255 where it could not carry one.
    uint8_t reply[sDISCOVERY_DATAGRAM] = {0};
    reply[sREPLY_MODEL] = 0xFF;
    struct sockaddr_in source;
    socklen_t sourceLength = sizeof(source);
    memset(&source, 0, sizeof(source));
    ssize_t got = recvfrom(listener, reply, sizeof(reply), 0, (struct sockaddr*)&source,
                           &sourceLength);
    if (got < 0) break;
    linkSpec spec = sReplyToSpec(reply, source.sin_addr.s_addr);
    bool taken = false;
    goOn = callback(&spec, &taken, ref);
    if (taken && count < UINT8_MAX) count++;
  }
  close(listener);
  return count;
}

uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryModuleFoundProc callback,
                                    void* ref) {
  if (callback == NULL) return 0;
  switch (type) {
    case USB:
      return aDiscovery_EnumerateUSB(callback, ref);
    case TCPIP:
      return sEnumerateTCPIP(callback, ref);
  }
  return 0;
}
