#ifndef aDISCOVERY_H
#define aDISCOVERY_H

// Module discovery: finds the modules reachable from this computer over USB or TCP/IP and
// describes each by a link specifier, which is also what a link is opened with.

#include <stdint.h>

#include "aError.h"

// Transports. The link table also uses 0 for a stream a caller supplies itself.
enum linkType : uint32_t { USB = 1, TCPIP = 2 };

// How to reach one module; copied by value between layers, so the field order is fixed.
typedef struct linkSpec {
  linkType type;
  uint32_t serialNumber;
  uint32_t moduleAddress;       // 0 when unknown (USB discovery)
  uint32_t routerAddress;       // 0 when unknown
  uint32_t routerSerialNumber;  // 0 when unknown
  uint32_t model;               // only the low 8 bits are ever set
  uint32_t ipAddress;           // IPv4, network byte order; USB stores the serial number here
  uint32_t port;                // TCP port, host order; unused for USB
} linkSpec;

static_assert(sizeof(linkSpec) == 32, "linkSpec travels as eight 32-bit fields");

// Called once per module found. spec is valid only during the call. The callback sets
// *success when it has taken the specifier and returns false to stop the search at once.
typedef bool (*aDiscoveryModuleFoundProc)(const linkSpec* spec, bool* success, void* ref);

// Searches one transport; answers how many specifiers the callback took (at most 255).
// Never reports errors: a transport that can't be searched finds nothing.
uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryModuleFoundProc callback,
                                    void* ref);

// Lookups. Each answers a new specifier owned by the caller (free it with aLinkSpec_Destroy)
// or null when nothing matched.
linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber);
linkSpec* aDiscovery_FindFirstModule(linkType type);
// The first module of that model; model 0 takes any module.
linkSpec* aDiscovery_FindModuleByModel(linkType type, uint32_t model);

linkSpec* aLinkSpec_Create(linkType type);
linkSpec* aLinkSpec_Copy(const linkSpec* spec);
aErr aLinkSpec_Destroy(linkSpec** spec);

#endif
