#pragma once

#include <cstddef>
#include <cstdint>

#include "Entity.h"

namespace Halvik {
namespace Zepric {

// The system entity (entity class 3) of a module: its identity, addresses, power and
// housekeeping options, each one UEI read, write or call.
class SystemClass : public EntityClass {
 public:
  static constexpr uint8_t COMMAND = 3;

  aErr init(Module* module, uint8_t index) { return EntityClass::init(module, COMMAND, index); }

  aErr getModule(uint8_t* address) { return getUEI8(1, address); }
  aErr setRouter(uint8_t address) { return setUEI8(2, address); }
  aErr getRouter(uint8_t* address) { return getUEI8(2, address); }
  aErr setHBInterval(uint8_t interval) { return setUEI8(3, interval); }
  aErr getHBInterval(uint8_t* interval) { return getUEI8(3, interval); }
  aErr setLED(uint8_t on) { return setUEI8(4, on ? 1 : 0); }
  aErr getLED(uint8_t* on) { return getUEI8(4, on); }
  aErr setBootSlot(uint8_t slot) { return setUEI8(6, slot); }
  aErr getBootSlot(uint8_t* slot) { return getUEI8(6, slot); }
  aErr getVersion(uint32_t* version) { return getUEI32(7, version); }
  aErr getModel(uint8_t* model) { return getUEI8(8, model); }
  aErr getSerialNumber(uint32_t* serialNumber) { return getUEI32(9, serialNumber); }
  aErr save() { return callUEI(10); }
  aErr reset() { return callUEI(11); }
  aErr getInputVoltage(uint32_t* microvolts) { return getUEI32(12, microvolts); }
  aErr getModuleHardwareOffset(uint8_t* offset) { return getUEI8(13, offset); }
  aErr getModuleBaseAddress(uint8_t* address) { return getUEI8(14, address); }
  aErr setModuleSoftwareOffset(uint8_t offset) { return setUEI8(15, offset); }
  aErr getModuleSoftwareOffset(uint8_t* offset) { return getUEI8(15, offset); }
  aErr getRouterAddressSetting(uint8_t* address) { return getUEI8(16, address); }
  aErr routeToMe(uint8_t enable) { return setUEI8(20, enable); }
  aErr getInputCurrent(uint32_t* current) { return getUEI32(21, current); }
  aErr getUptime(uint32_t* uptime) { return getUEI32(22, uptime); }
  aErr getMaximumTemperature(int32_t* temperature) { return getSigned(23, temperature); }
  aErr logEvents() { return callUEI(24); }
  aErr getUnregulatedVoltage(int32_t* voltage) { return getSigned(25, voltage); }
  aErr getUnregulatedCurrent(int32_t* current) { return getSigned(26, current); }
  aErr getTemperature(int32_t* temperature) { return getSigned(27, temperature); }
  aErr getMinimumTemperature(int32_t* temperature) { return getSigned(28, temperature); }
  aErr getInputPowerSource(uint8_t* source) { return getUEI8(29, source); }
  aErr setInputPowerBehavior(uint8_t behavior) { return setUEI8(31, behavior); }
  aErr getInputPowerBehavior(uint8_t* behavior) { return getUEI8(31, behavior); }
  aErr getInputPowerBehaviorConfig(uint8_t* buffer, size_t capacity, size_t* count) {
    return getUEIBytes8(31, buffer, capacity, count);
  }
  aErr setInputPowerBehaviorConfig(const uint32_t*, size_t) { return aErrUnimplemented; }
  aErr getName(uint8_t* buffer, size_t capacity, size_t* count) {
    return getUEIBytes8(32, buffer, capacity, count);
  }
  aErr setName(const uint8_t*, size_t) { return aErrUnimplemented; }
  aErr getPowerLimit(uint32_t* limit) { return getUEI32(33, limit); }
  aErr setPowerLimitMax(uint32_t limit) { return setUEI32(34, limit); }
  aErr getPowerLimitMax(uint32_t* limit) { return getUEI32(34, limit); }
  aErr getPowerLimitState(uint32_t* state) { return getUEI32(35, state); }
  aErr resetEntityToFactoryDefaults() { return callUEI(36); }
  aErr resetDeviceToFactoryDefaults() { return callUEI(37); }
  aErr setLinkInterface(uint8_t interface) { return setUEI8(38, interface); }
  aErr getLinkInterface(uint8_t* interface) { return getUEI8(38, interface); }
  aErr getHardwareVersion(uint32_t* version) { return getUEI32(40, version); }
  aErr getErrors(uint32_t* errors) { return getUEI32(41, errors); }

  // Option 39: the chip's unique identifier, one word per subindex 0 to 3.
  static constexpr uint8_t systemUniqueIdentifier = 39;

 private:
  aErr getSigned(uint8_t option, int32_t* value) {
    if (!value) return aErrParam;
    uint32_t raw = 0;
    aErr err = getUEI32(option, &raw);
    if (err == aErrNone || err == aErrStreamStale) *value = static_cast<int32_t>(raw);
    return err;
  }
};

}  // namespace Zepric
}  // namespace Halvik
