#include "Updater.h"

// Discovery is not available in this build: nothing is ever found.
std::vector<DeviceInfo> Updater::Discover_Devices(uint32_t) { return {}; }

std::vector<DeviceInfo> Updater::Discover_ZPNetwork_Devices(uint32_t, uint32_t) { return {}; }
