#ifndef aDISCOVERYUSB_H
#define aDISCOVERYUSB_H

#include "aDiscovery.h"

// Walks the USB bus for modules, handing each to the callback with the same contract as
// aDiscovery_EnumerateModules; answers how many the callback took.
uint8_t aDiscovery_EnumerateUSB(aDiscoveryModuleFoundProc callback, void* ref);

#endif
