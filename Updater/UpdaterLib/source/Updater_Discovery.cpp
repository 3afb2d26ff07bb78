#include <memory>

#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "Updater.h"
#include "aDefs.h"
#include "aUEI.h"
#include "aVersion.h"

using Halvik::Zepric::Module;
using Halvik::Zepric::SystemClass;

namespace {
constexpr uint8_t kFirstAddress = 2;
constexpr uint8_t kLastAddress = 252;
constexpr uint8_t kCmdQuery = 0x49;
constexpr uint8_t kQueryBuild = 0xFF;
constexpr uint8_t kBuildReplyLength = 6;

struct LinkSearch {
  uint32_t serialNumber;
  uint32_t type;
};

bool _discovered_device(const linkSpec* spec, bool* taken, void* reference) {
  static_cast<std::vector<DeviceInfo>*>(reference)->emplace_back(*spec);
  *taken = true;
  return true;
}

bool _discovered_link(const linkSpec* spec, bool* taken, void* reference) {
  LinkSearch* search = static_cast<LinkSearch*>(reference);
  *taken = true;
  if (spec->serialNumber != search->serialNumber) return true;
  Log::log(DEBUG_Network, "NETWORK: Found device [%08X] via link type [%d]\n", spec->serialNumber,
           static_cast<int>(spec->type));
  search->type = spec->type;
  return false;
}

uint32_t _discover_link_type(uint32_t serialNumber) {
  LinkSearch search{serialNumber, 0};
  aDiscovery_EnumerateModules(USB, _discovered_link, &search);
  if (search.type == 0) aDiscovery_EnumerateModules(TCPIP, _discovered_link, &search);
  return search.type;
}

uint32_t _get_build_number(Module& module) {
  Halvik::Zepric::Link* link = module.getLink();
  const uint8_t request = kQueryBuild;
  if (link->sendPacket(module.getModuleAddress(), kCmdQuery, 1, &request) != aErrNone) return 0;
  const uint8_t pattern[] = {kCmdQuery, kQueryBuild};
  uint8_t length = sizeof pattern;
  uint8_t reply[aPACKET_MAX_DATA];
  if (link->receivePacket(module.getModuleAddress(), pattern, &length, reply) != aErrNone)
    return 0;
  return length == kBuildReplyLength ? aUEI_RetrieveInt(reply + 2) : 0;
}

aErr _get_version(Module& module, DeviceInfo& info) {
  SystemClass system;
  system.init(&module, 0);
  uint32_t packed = 0;
  aErr err = system.getVersion(&packed);
  if (err != aErrNone) return err;
  info.major = static_cast<uint8_t>(aVersion_ParseMajor(packed));
  info.minor = static_cast<uint8_t>(aVersion_ParseMinor(packed));
  info.patch = aVersion_ParsePatch(packed);
  uint8_t address = 0;
  err = system.getModule(&address);
  if (err != aErrNone) return err;
  info.moduleAddress = address;
  err = system.getRouter(&address);
  if (err != aErrNone) return err;
  info.routerAddress = address;
  return aErrNone;
}
}  // namespace

std::vector<DeviceInfo> Updater::Discover_Devices(uint32_t transport) {
  std::vector<DeviceInfo> devices;
  const std::vector<linkType> transports =
      transport == 0 ? std::vector<linkType>{USB, TCPIP}
                     : std::vector<linkType>{static_cast<linkType>(transport)};
  for (linkType type : transports) aDiscovery_EnumerateModules(type, _discovered_device, &devices);

  for (DeviceInfo& info : devices) {
    info.modelName = aDefs_GetModelName(info.model);
    Module module(2, 0);
    aErr err = module.connectFromSpec(info);
    if (err != aErrNone) {
      info.error = err;
      continue;
    }
    info.buildNumber = _get_build_number(module);
    info.error = _get_version(module, info);
    module.disconnect();
  }
  return devices;
}

std::vector<DeviceInfo> Updater::Discover_ZPNetwork_Devices(uint32_t routerSerialNumber,
                                                            uint32_t transport) {
  std::vector<DeviceInfo> devices;
  if (transport == 0) transport = _discover_link_type(routerSerialNumber);
  std::unique_ptr<linkSpec, aErr (*)(linkSpec*)> spec(
      aDiscovery_FindModule(static_cast<linkType>(transport), routerSerialNumber),
      [](linkSpec* found) { return aLinkSpec_Destroy(&found); });
  if (!spec) return devices;

  Module router(2, 0);
  router.connectFromSpec(*spec);
  SystemClass routerSystem;
  routerSystem.init(&router, 0);
  if (routerSystem.routeToMe(1) != aErrNone) return devices;

  for (unsigned address = kFirstAddress; address <= kLastAddress; address += 2) {
    Module target(static_cast<uint8_t>(address), 0);
    target.connectThroughLinkModule(router);
    SystemClass system;
    system.init(&target, 0);
    uint32_t serialNumber = 0;
    if (system.getSerialNumber(&serialNumber) != aErrNone) continue;

    DeviceInfo info;
    info.type = static_cast<linkType>(transport);
    info.serialNumber = serialNumber;
    info.ipAddress = spec->ipAddress;
    info.port = spec->port;
    info.routerAddress = router.getModuleAddress();
    info.routerSerialNumber = routerSerialNumber;
    info.moduleAddress = address;  // until the module reports its own
    info.buildNumber = _get_build_number(target);
    info.error = _get_version(target, info);
    uint8_t model = 0;
    aErr err = system.getModel(&model);
    if (err != aErrNone) {
      info.error = err;
    } else {
      info.model = model;
      info.modelName = aDefs_GetModelName(model);
    }
    devices.push_back(info);
  }
  routerSystem.routeToMe(0);
  router.disconnect();
  return devices;
}
