#include "aDiscoveryUSB.h"

// No USB modules in this build: the bus is not searched, so nothing is found.
uint8_t aDiscovery_EnumerateUSB(aDiscoveryModuleFoundProc callback, void* ref) {
  (void)callback;
  (void)ref;
  return 0;
}
